#include "fileserver/LocalAddressChoice.h"

#include <QNetworkInterface>

QString chooseLocalAddress(const QList<NetworkInterfaceInfo>& interfaces)
{
    static const QStringList virtualMarks = {QStringLiteral("vmware"), QStringLiteral("virtualbox"),
                                             QStringLiteral("vbox"), QStringLiteral("virtual")};
    QString result = QStringLiteral("127.0.0.1");
    for (const NetworkInterfaceInfo& interface : interfaces) {
        if (interface.isLoopback || !interface.isUp || !interface.isRunning)
            continue;
        const QString name = interface.humanReadableName.toLower();
        if (std::any_of(virtualMarks.cbegin(), virtualMarks.cend(), [&](const QString& mark) { return name.contains(mark); }))
            continue;
        for (const QHostAddress& address : interface.addresses) {
            if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
                continue;
            result = address.toString();
            if (result.startsWith(QLatin1String("192.168")))
                return result;
        }
    }
    return result;
}

QList<NetworkInterfaceInfo> currentNetworkInterfaces()
{
    QList<NetworkInterfaceInfo> result;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        NetworkInterfaceInfo info;
        info.humanReadableName = interface.humanReadableName();
        info.isLoopback = interface.flags().testFlag(QNetworkInterface::IsLoopBack);
        info.isUp = interface.flags().testFlag(QNetworkInterface::IsUp);
        info.isRunning = interface.flags().testFlag(QNetworkInterface::IsRunning);
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            info.addresses.append(entry.ip());
        result.append(info);
    }
    return result;
}
