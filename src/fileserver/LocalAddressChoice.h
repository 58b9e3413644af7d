#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// What the address choice needs to know of one network interface, so the
// choice can be tested without the machine's real interfaces.
struct NetworkInterfaceInfo {
    QString humanReadableName;
    bool isLoopback = false;
    bool isUp = false;
    bool isRunning = false;
    QList<QHostAddress> addresses;
};

// The address a client device on the local network should use: the first
// IPv4 address in 192.168.x.x, else the last other IPv4 address of an
// interface that is up, running, not loopback and not a virtual machine's
// adapter; "127.0.0.1" when there is none.
QString chooseLocalAddress(const QList<NetworkInterfaceInfo>& interfaces);

// The machine's interfaces in the form above.
QList<NetworkInterfaceInfo> currentNetworkInterfaces();
