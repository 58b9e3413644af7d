// The listener's life: the checks before listening, the log lines and
// signals, and who keeps which connection.

#include "fileserver/WebDavTestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Recorder {
    explicit Recorder(WebDavServer& server)
        : log(&server, &WebDavServer::logMessage)
        , started(&server, &WebDavServer::serverStarted)
        , stopped(&server, &WebDavServer::serverStopped)
        , connected(&server, &WebDavServer::clientConnected)
    {
    }
    QStringList lines() const
    {
        QStringList result;
        for (const QList<QVariant>& args : log)
            result.append(args.at(0).toString());
        return result;
    }
    QSignalSpy log;
    QSignalSpy started;
    QSignalSpy stopped;
    QSignalSpy connected;
};

TEST(WebDavServerTest, StartChecksFolderThenPasswordAndKeepsItsPort)
{
    QTemporaryDir folder;
    WebDavServer server;
    Recorder record(server);
    EXPECT_FALSE(server.isRunning());
    server.stop();
    EXPECT_EQ(record.log.size(), 0) << "a server never started stops silently";

    const struct {
        const char* name;
        QString root;
        QString password;
        const char* line;
    } refusals[] = {
        {"no root, no password", QString(), QString(), "Error: Invalid root path"},
        {"missing root", folder.path() + QStringLiteral("/gone"), QStringLiteral("pw"), "Error: Invalid root path"},
        {"no password", folder.path(), QString(), "Error: Password not set"},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.name);
        record.log.clear();
        if (!c.root.isNull())
            server.setRootPath(c.root);
        server.setCredentials(QString(), c.password);
        EXPECT_FALSE(server.start(0));
        EXPECT_EQ(record.lines(), QStringList{QString::fromLatin1(c.line)});
        EXPECT_FALSE(server.isRunning());
    }
    EXPECT_EQ(record.started.size(), 0);

    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    server.setCredentials(QString(), QStringLiteral("pw"));
    record.log.clear();
    EXPECT_FALSE(server.start(holder.serverPort()));
    ASSERT_EQ(record.log.size(), 1);
    EXPECT_TRUE(record.lines().first().startsWith(QStringLiteral("Failed to start server: "))) << record.lines().first().toStdString();
    EXPECT_GT(record.lines().first().size(), 24) << "the system's reason follows";
    EXPECT_EQ(record.started.size(), 0);

    record.log.clear();
    ASSERT_TRUE(server.start(0));
    const quint16 port = server.serverPort();
    EXPECT_EQ(record.lines(), QStringList{QStringLiteral("WebDAV server started on port 0")});
    EXPECT_EQ(record.started.size(), 1);
    EXPECT_TRUE(server.start(holder.serverPort()));
    EXPECT_EQ(server.serverPort(), port) << "a running server keeps its port";
    EXPECT_EQ(record.log.size(), 1);
    EXPECT_EQ(record.started.size(), 1);
}

TEST(WebDavServerTest, SettersStoreAbsolutePathAndDefaultUser)
{
    ShareFixture share;
    ASSERT_TRUE(share.isValid());
    WebDavServer server;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(share.tempPath()));
    server.setRootPath(QStringLiteral("share"));
    QDir::setCurrent(old);
    server.setCredentials(QString(), kTestPassword);
    ASSERT_TRUE(server.start(0));
    // The relative root was taken against the working directory of the time,
    // and the empty user name means "tonvale".
    RawClient client(server.serverPort());
    client.send("HEAD /empty.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + basicAuth(QStringLiteral("tonvale"), kTestPassword).toLatin1() + "\r\n\r\n");
    const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 10000, true), true);
    ASSERT_EQ(responses.size(), 1);
    EXPECT_EQ(responses.first().status, 200);
}

TEST(WebDavServerTest, ConnectionsAreAnnouncedDroppedOnStopAndForgottenWhenClientsLeave)
{
    ShareFixture share;
    ASSERT_TRUE(share.isValid());
    auto running = startServer(share.root());
    ASSERT_TRUE(running);
    WebDavServer& server = *running->server;
    Recorder record(server);

    auto first = std::make_unique<RawClient>(running->port);
    RawClient second(running->port);
    ASSERT_TRUE(spinUntil([&] { return server.connectionCount() == 2; }));
    EXPECT_EQ(record.connected.size(), 2);
    // The listener takes IPv4 and IPv6, so an IPv4 peer shows in its mapped form.
    const QString peer = QStringLiteral("::ffff:127.0.0.1");
    EXPECT_EQ(record.connected.at(0).at(0).toString(), peer);
    EXPECT_EQ(record.lines(), (QStringList{QStringLiteral("Client connected: ") + peer, QStringLiteral("Client connected: ") + peer}));

    record.log.clear();
    first.reset();
    EXPECT_TRUE(spinUntil([&] { return server.connectionCount() == 1; }));
    EXPECT_EQ(record.log.size(), 0) << "a client leaving is not logged";

    server.stop();
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(record.lines(), QStringList{QStringLiteral("WebDAV server stopped")});
    EXPECT_EQ(record.stopped.size(), 1);
    EXPECT_TRUE(second.waitClosed(5000)) << "clients of a stopped server lose their connection";
    server.stop();
    EXPECT_EQ(record.stopped.size(), 1);
}

} // namespace
