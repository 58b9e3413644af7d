// A program that quits while a client of the file server is connected and
// downloading: it must exit cleanly, with no warning about sockets or timers
// outliving the application object.
//
//   file_server_quit_probe <folder with a file named big.bin>

#include "fileserver/WebDavServer.h"
#include "ui/tools/FileServerDialog.h"

#include <QApplication>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    WebDavServer* server = FileServerDialog::getServerInstance();
    server->setRootPath(QString::fromLocal8Bit(argv[1]));
    server->setCredentials(QString(), QStringLiteral("pw"));
    if (!server->start(0))
        return 3;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QObject::connect(&client, &QTcpSocket::connected, [&] {
        client.write("GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + QByteArray("tonvale:pw").toBase64() + "\r\n\r\n");
    });
    // Quit once the download is under way (the client reads slowly enough
    // that it is still running).
    client.setReadBufferSize(64 * 1024);
    QObject::connect(&client, &QTcpSocket::readyRead, [&] {
        if (client.bytesAvailable() >= 1024)
            QTimer::singleShot(0, &app, &QApplication::quit);
    });
    const QPointer<WebDavServer> watched(server);
    const int status = app.exec();
    // Freed when the application quits, before the application object goes:
    // its sockets and timers need the event dispatcher until they are gone.
    return watched ? 4 : status;
}
