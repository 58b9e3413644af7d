#pragma once

#include "fileserver/WebDavServer.h"
#include "support/ExternalTool.h"

#include <QByteArray>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <ostream>

// The shared folder every file-server test serves, with the names and kinds
// of entries that break careless servers and clients:
//   Day 1/take & one.wav, Day 1/sub/nested.txt, Day 1/.hidden-in-day.txt
//   empty.txt (0 bytes), 100% #1+ü.wav, .hidden.txt,
//   escape -> a folder outside the share (holding secret.txt),
//   sock (a Unix socket: listed nowhere, opened by nobody),
//   big.bin (257 MiB, sparse, a distinct 4 KiB pattern at every MiB).
class ShareFixture {
public:
    ShareFixture();
    ~ShareFixture();

    bool isValid() const { return valid_; }
    QString root() const { return dir_.path() + QStringLiteral("/share"); }
    QString outside() const { return dir_.path() + QStringLiteral("/outside"); }
    QString tempPath() const { return dir_.path(); }

    struct Entry {
        QString path; // relative to the share, folders end with "/"
        qint64 sizeBytes = -1; // -1 for a folder
    };
    // What a client should see: every visible name, recursively.
    static QList<Entry> visibleEntries();
    static constexpr qint64 kBigFileBytes = 257LL * 1024 * 1024;

    // sha256 of every file under the share (relative path -> hex), for
    // "the share is unchanged" checks.
    QMap<QString, QString> snapshot() const;

private:
    QTemporaryDir dir_;
    int socketFd_ = -1;
    bool valid_ = false;
};

inline const QString kTestUser = QStringLiteral("tonvale");
// A colon and a blank in the password: only the first colon of the Basic
// credentials separates user and password.
inline const QString kTestPassword = QStringLiteral("se:cret pw");

// A started server on 127.0.0.1 at a free port, serving the fixture.
struct RunningServer {
    QStringList log; // declared first: the server logs while it is destroyed
    std::unique_ptr<WebDavServer> server;
    quint16 port = 0;
    QString url(const QString& path = QStringLiteral("/")) const;
};
std::unique_ptr<RunningServer> startServer(const QString& root, const WebDavLimits& limits = WebDavLimits());

// The share above, served on loopback with the limits a test asks for.
class ServedShareTest : public ::testing::Test {
public:
    // One request as a client sends it, with the test's credentials unless told otherwise.
    static QByteArray request(const QByteArray& method, const QByteArray& path, const QByteArray& extra = QByteArray(),
                              bool authenticated = true);

protected:
    void SetUp() override
    {
        ASSERT_TRUE(share_.isValid());
        server_ = startServer(share_.root(), limits());
        ASSERT_TRUE(server_);
    }
    virtual WebDavLimits limits() const { return WebDavLimits(); }

    ShareFixture share_;
    std::unique_ptr<RunningServer> server_;
};

// Runs an outside client while this thread's event loop turns, so the server
// in this process answers it. Bounded by timeoutMs; killed beyond.
struct ClientRun {
    ToolResult result;
    bool timedOut = false;
};
ClientRun runClient(const QString& program, const QStringList& arguments, int timeoutMs = 60000,
                    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                    const QString& workingDirectory = QString(), const QByteArray& standardInput = QByteArray());

// Turns the event loop until `done` holds or timeoutMs passed; the result of `done`.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A raw loopback client for byte-exact checks: sends, then collects what the
// server answers while the event loop turns.
class RawClient {
public:
    explicit RawClient(quint16 port);
    ~RawClient();
    bool isConnected() const;
    void send(const QByteArray& bytes);
    // Reads until `bytes` holds `count` complete responses (by Content-Length)
    // or the server closes or timeoutMs passes; returns all bytes read so far.
    QByteArray readResponses(int count, int timeoutMs = 10000, bool bodiless = false);
    // Everything until the server closes the connection (or timeoutMs).
    QByteArray readUntilClosed(int timeoutMs = 10000);
    bool waitClosed(int timeoutMs = 10000);
    // Bytes read so far without waiting (after a short spin).
    QByteArray pending();
    // Bytes read so far, at once.
    QByteArray receivedSoFar() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Splits a byte stream of responses into (head, body) pairs by Content-Length;
// answers to HEAD are bodiless whatever their length says.
struct ParsedResponse {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers; // in wire order
    QByteArray body;
    QByteArray header(const QByteArray& name) const;
    int headerCount(const QByteArray& name) const;
};
QList<ParsedResponse> parseResponses(const QByteArray& bytes, bool bodiless = false);

QString basicAuth(const QString& user, const QString& password);

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
