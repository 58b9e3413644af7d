// The server's wire behaviour, checked byte by byte with a raw loopback client.

#include "fileserver/WebDavClientConnection.h"
#include "fileserver/WebDavTestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <random>

namespace {

class WebDavProtocolTest : public ServedShareTest {
protected:
    ParsedResponse exchange(const QByteArray& bytes, bool bodiless = false)
    {
        RawClient client(server_->port);
        client.send(bytes);
        const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 10000, bodiless), bodiless);
        return responses.isEmpty() ? ParsedResponse() : responses.first();
    }
};

// The Date header varies; everything else of an error answer is fixed.
QByteArray withoutDate(const QByteArray& bytes)
{
    static const QRegularExpression date(QStringLiteral("Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT\r\n"));
    return QString::fromLatin1(bytes).replace(date, QStringLiteral("Date: *\r\n")).toLatin1();
}

TEST_F(WebDavProtocolTest, ErrorAnswersAreByteExact)
{
    RawClient client(server_->port);
    client.send(request("GET", "/missing.wav"));
    EXPECT_EQ(withoutDate(client.readResponses(1)),
              QByteArray("HTTP/1.1 404 Not Found\r\nServer: Tonvale WebDAV\r\nConnection: keep-alive\r\nDate: *\r\n"
                         "Content-Type: text/html; charset=utf-8\r\nContent-Length: 48\r\n\r\n"
                         "<html><body><h1>404 Not Found</h1></body></html>"));

    RawClient anonymous(server_->port);
    anonymous.send(request("PROPFIND", "/", "Depth: 1\r\n", false));
    EXPECT_EQ(withoutDate(anonymous.readResponses(1)),
              QByteArray("HTTP/1.1 401 Unauthorized\r\nServer: Tonvale WebDAV\r\nConnection: keep-alive\r\nDate: *\r\n"
                         "WWW-Authenticate: Basic realm=\"Tonvale File Server\"\r\nContent-Length: 23\r\n\r\n"
                         "Authentication required"));
    EXPECT_TRUE(anonymous.isConnected()) << "a 401 leaves the connection open for a retry";
}

TEST_F(WebDavProtocolTest, HeadInPiecesAndBodyInTwoPartsAreAnsweredOnceComplete)
{
    RawClient client(server_->port);
    const QByteArray body = "<propfind xmlns=\"DAV:\"><allprop/></propfind>";
    const QByteArray whole = request("PROPFIND", "/empty.txt", "Depth: 0\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n");
    client.send(whole.left(7));
    client.send(whole.mid(7, 20));
    EXPECT_TRUE(client.pending().isEmpty());
    client.send(whole.mid(27));
    client.send(body.left(20));
    EXPECT_TRUE(client.pending().isEmpty()) << "half a body is not a request";
    client.send(body.mid(20));
    const QList<ParsedResponse> responses = parseResponses(client.readResponses(1));
    ASSERT_EQ(responses.size(), 1);
    EXPECT_EQ(responses.first().status, 207);
    EXPECT_TRUE(server_->log.contains(QStringLiteral("PROPFIND /empty.txt")));
}

TEST_F(WebDavProtocolTest, PipelinedRequestsAndABadRequestLineAreEachAnsweredInOrder)
{
    RawClient client(server_->port);
    // Sent in one write: three requests, a malformed line, then one more.
    // Every complete request is answered without more data; the bad head
    // ends the connection, since nothing after it can be framed with trust.
    client.send(request("HEAD", "/empty.txt") + request("GET", "/Day%201/sub/nested.txt") + request("DELETE", "/empty.txt")
                + "BROKEN\r\n\r\n" + request("GET", "/Day%201/sub/nested.txt"));
    const QList<ParsedResponse> responses = parseResponses(client.readUntilClosed(10000));
    ASSERT_EQ(responses.size(), 4) << client.pending().constData();
    EXPECT_EQ(responses.at(0).status, 200);
    EXPECT_EQ(responses.at(0).header("Content-Length"), "0");
    EXPECT_EQ(responses.at(1).status, 200);
    EXPECT_EQ(responses.at(1).body, "nested\n");
    EXPECT_EQ(responses.at(2).status, 405);
    EXPECT_EQ(responses.at(2).header("Allow"), "OPTIONS, PROPFIND, GET, HEAD");
    EXPECT_EQ(responses.at(3).status, 400);
    EXPECT_EQ(responses.at(3).header("Connection"), "close");
    EXPECT_FALSE(client.isConnected());
    for (const ParsedResponse& response : responses) {
        EXPECT_EQ(response.headerCount("Content-Length"), 1);
        EXPECT_EQ(response.headerCount("Date"), 1);
        EXPECT_EQ(response.headers.at(0).first, "Server");
        EXPECT_EQ(response.headers.at(1).first, "Connection");
    }
    EXPECT_TRUE(QFile::exists(share_.root() + QStringLiteral("/empty.txt")));
}

struct OversizeCase {
    const char* name;
    QByteArray bytes;
    int status;
};

TEST_F(WebDavProtocolTest, OversizedOrNegativeRequestsAreRefusedAndClosed)
{
    const QByteArray auth = "Authorization: " + basicAuth(kTestUser, kTestPassword).toLatin1() + "\r\n";
    const OversizeCase cases[] = {
        {"head without end", "GET / HTTP/1.1\r\nX-Fill: " + QByteArray(70 * 1024, 'x'), 431},
        {"head too long", "GET / HTTP/1.1\r\nX-Fill: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n", 431},
        {"body too long", "PROPFIND / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", 413},
        {"length beyond 64 bits", "PROPFIND / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", 413},
        {"negative length", "PROPFIND / HTTP/1.1\r\n" + auth + "Content-Length: -5\r\n\r\n", 400},
        {"chunked body", "PROPFIND / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 501},
    };
    for (const OversizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(server_->port);
        client.send(c.bytes);
        const QByteArray answer = client.readUntilClosed(5000);
        const QList<ParsedResponse> responses = parseResponses(answer);
        ASSERT_EQ(responses.size(), 1) << answer.left(200).constData();
        EXPECT_EQ(responses.first().status, c.status);
        EXPECT_EQ(responses.first().header("Connection"), "close");
        EXPECT_FALSE(client.isConnected());
    }
    EXPECT_TRUE(spinUntil([&] { return server_->server->connectionCount() == 0; }, 5000));
}

TEST_F(WebDavProtocolTest, ClearedPasswordAdmitsNobody)
{
    server_->server->setCredentials(QString(), QString());
    EXPECT_EQ(exchange(request("GET", "/empty.txt", "Authorization: " + basicAuth(kTestUser, QString()).toLatin1() + "\r\n", false)).status, 401);
    EXPECT_EQ(exchange(request("GET", "/empty.txt", "Authorization: Basic " + QByteArray("tonvale").toBase64() + "\r\n", false)).status, 401);
    server_->server->setCredentials(QString(), QStringLiteral("new"));
    EXPECT_EQ(exchange(request("GET", "/empty.txt")).status, 401) << "the old password no longer works";
    EXPECT_EQ(exchange(request("GET", "/empty.txt", "Authorization: " + basicAuth(kTestUser, QStringLiteral("new")).toLatin1() + "\r\n", false)).status, 200);
}

struct RangeCase {
    const char* range;
    int status;
    qint64 first;
    qint64 length;
    const char* contentRange;
};

TEST_F(WebDavProtocolTest, ByteRangesOfTheBigFile)
{
    const qint64 size = ShareFixture::kBigFileBytes;
    const QByteArray total = QByteArray::number(size);
    const RangeCase cases[] = {
        {"bytes=0-99", 206, 0, 100, "bytes 0-99/"},
        {"bytes=1048576-1052671", 206, 1048576, 4096, "bytes 1048576-1052671/"},
        {"bytes=-10", 206, size - 10, 10, nullptr},
        {"bytes=269484000-", 206, 269484000, size - 269484000, nullptr},
        {"bytes=269484000-999999999999", 206, 269484000, size - 269484000, nullptr},
        {"bytes=999999999-", 416, 0, 0, "bytes */"},
        {"bytes=0-1,5-6", 200, 0, size, nullptr},
        {"items=0-5", 200, 0, size, nullptr},
    };
    QFile big(share_.root() + QStringLiteral("/big.bin"));
    ASSERT_TRUE(big.open(QIODevice::ReadOnly));
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.range);
        const bool wantBody = c.status == 206;
        RawClient client(server_->port);
        client.send(request(c.status == 200 ? "HEAD" : "GET", "/big.bin", QByteArray("Range: ") + c.range + "\r\n"));
        // HEAD ignores Range; the whole-file and 416 cases are checked by their heads.
        if (!wantBody && c.status != 416) {
            const QList<ParsedResponse> heads = parseResponses(client.readResponses(1, 10000, true), true);
            ASSERT_EQ(heads.size(), 1);
            EXPECT_EQ(heads.first().header("Content-Length"), total);
            continue;
        }
        const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 30000));
        ASSERT_EQ(responses.size(), 1);
        const ParsedResponse& r = responses.first();
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.header("Accept-Ranges"), wantBody ? "bytes" : "");
        if (c.contentRange) {
            EXPECT_EQ(r.header("Content-Range"), QByteArray(c.contentRange) + total);
        }
        if (wantBody) {
            EXPECT_EQ(r.header("Content-Range"),
                      "bytes " + QByteArray::number(c.first) + '-' + QByteArray::number(c.first + c.length - 1) + '/' + total);
            ASSERT_TRUE(big.seek(c.first));
            EXPECT_TRUE(r.body == big.read(c.length));
        }
    }
    // Without Range the whole file, with "Accept-Ranges: bytes" announced.
    RawClient head(server_->port);
    head.send(request("GET", "/100%25%20%231+%C3%BC.wav"));
    const QList<ParsedResponse> whole = parseResponses(head.readResponses(1));
    ASSERT_EQ(whole.size(), 1);
    EXPECT_EQ(whole.first().status, 200);
    EXPECT_EQ(whole.first().body, QByteArray(70000, 'w'));
    EXPECT_EQ(whole.first().header("Accept-Ranges"), "bytes");
}

TEST_F(WebDavProtocolTest, AFileShrinkingDuringItsDownloadCutsTheConnection)
{
    RawClient client(server_->port);
    client.send(request("GET", "/big.bin"));
    // Let the download start, then shorten the file behind the server's back.
    ASSERT_TRUE(spinUntil([&] { return client.pending().size() > 1024 * 1024; }, 10000));
    ASSERT_TRUE(QFile::resize(share_.root() + QStringLiteral("/big.bin"), 2 * 1024 * 1024));
    const QByteArray received = client.readUntilClosed(30000);
    EXPECT_FALSE(client.isConnected());
    EXPECT_LT(received.size(), ShareFixture::kBigFileBytes) << "the promised length was never faked";
    EXPECT_TRUE(server_->log.contains(QStringLiteral("Download ended early: /big.bin could not be read to its end")));
}

struct PathCase {
    const char* path;
    int status;
};

TEST_F(WebDavProtocolTest, NothingOutsideTheShareOrHiddenIsServed)
{
    const PathCase cases[] = {
        {"/escape/secret.txt", 404}, // a link out of the share is answered as a missing name
        {"/escape/", 404},
        {"/../outside/secret.txt", 403},
        {"/%2e%2e/%2e%2e/etc/passwd", 403},
        {"/Day%201/../../outside/secret.txt", 403},
        {"/Day%201/../empty.txt", 200},
        {"/.hidden.txt", 404},
        {"/Day%201/.hidden-in-day.txt", 404},
        {"/sock", 404}, // neither file nor folder: not there for a client
        {"/Day%201/take%20&%20one.wav", 200},
        {"/Day 1/take & one.wav", 400}, // a raw blank splits the request line into too many parts
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(exchange(request("GET", c.path)).status, c.status);
    }
    // Nor does HEAD report it, though it opens nothing.
    EXPECT_EQ(exchange(request("HEAD", "/sock"), true).status, 404);
}

TEST_F(WebDavProtocolTest, ListingsEncodeHrefsAndEscapeNames)
{
    ASSERT_TRUE(QFile(share_.root() + QStringLiteral("/<b>x.txt")).open(QIODevice::WriteOnly));
    const ParsedResponse listing = exchange(request("PROPFIND", "/", "Depth: 1\r\n"));
    ASSERT_EQ(listing.status, 207);
    const QString xml = QString::fromUtf8(listing.body);
    EXPECT_TRUE(xml.contains(QStringLiteral("<D:href>/100%25%20%231%2B%C3%BC.wav</D:href>"))) << xml.toStdString();
    EXPECT_TRUE(xml.contains(QStringLiteral("<D:href>/Day%201/</D:href>")));
    EXPECT_TRUE(xml.contains(QStringLiteral("<D:displayname>&lt;b&gt;x.txt</D:displayname>")));
    for (const char* absent : {"hidden", "escape", "sock", "secret"})
        EXPECT_FALSE(xml.contains(QLatin1String(absent))) << absent;

    // The folder asked without its final "/": links are absolute, so they still lead into it.
    const ParsedResponse index = exchange(request("GET", "/Day%201"));
    ASSERT_EQ(index.status, 200);
    const QString page = QString::fromUtf8(index.body);
    EXPECT_TRUE(page.contains(QStringLiteral("<li><a href=\"/\">..</a></li>"))) << page.toStdString();
    EXPECT_TRUE(page.contains(QStringLiteral("<a href=\"/Day%201/take%20%26%20one.wav\">take &amp; one.wav</a>")));
    EXPECT_TRUE(page.contains(QStringLiteral("<a href=\"/Day%201/sub/\">sub/</a>")));

    const QString rootPage = QString::fromUtf8(exchange(request("GET", "/")).body);
    EXPECT_FALSE(rootPage.contains(QStringLiteral(">..<")));
    EXPECT_TRUE(rootPage.contains(QStringLiteral(">&lt;b&gt;x.txt</a>")));
    EXPECT_FALSE(rootPage.contains(QStringLiteral("<b>")));
}

TEST_F(WebDavProtocolTest, MimeTypesAndHttpDates)
{
    const struct {
        const char* name;
        const char* type;
    } types[] = {{"A.WAV", "audio/wav"}, {"b.Bwf", "audio/wav"}, {"c.aiff", "audio/aiff"}, {"report.pdf", "application/pdf"},
                 {"x.csv", "text/csv"}, {"noext", "application/octet-stream"}, {"a.tar.gz", "application/octet-stream"}};
    for (const auto& t : types)
        EXPECT_EQ(WebDavClientConnection::getMimeType(QString::fromLatin1(t.name)), QLatin1String(t.type)) << t.name;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime time(QDate(2026, 3, 1), QTime(7, 5, 9), QTimeZone(3600));
    EXPECT_EQ(WebDavClientConnection::formatHttpDate(time), QStringLiteral("Sun, 01 Mar 2026 06:05:09 GMT"));
    QLocale::setDefault(QLocale::c());
}

// Mutated and random requests, cut off at any point: the server answers,
// refuses or waits, but never crashes, leaks or stops serving others.
TEST_F(WebDavProtocolTest, MutatedRequestsNeverBreakTheServer)
{
    const QList<QByteArray> seeds = {
        request("PROPFIND", "/Day%201/", "Depth: infinity\r\nContent-Length: 4\r\n") + "abcd",
        request("GET", "/big.bin", "Range: bytes=5-9\r\n"),
        request("HEAD", "/100%25%20%231+%C3%BC.wav"),
        request("OPTIONS", "*", QByteArray(), false),
        "GET /%zz%%%c3 HTTP/1.1\r\nAuthorization: Basic !!!\r\nRange: bytes=-0\r\n\r\n",
    };
    std::mt19937 random(20261210);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes = seeds.at(pick(seeds.size()));
        const int edits = 1 + pick(8);
        for (int e = 0; e < edits && !bytes.isEmpty(); ++e) {
            const int at = pick(bytes.size());
            switch (pick(5)) {
            case 0: bytes[at] = static_cast<char>(random()); break;
            case 1: bytes.remove(at, 1 + pick(8)); break;
            case 2: bytes.insert(at, QByteArray(1 + pick(4), static_cast<char>(random()))); break;
            case 3: bytes.insert(at, QByteArrayList{"\r\n", ":", " ", "%", "-", "\r\n\r\n", "Content-Length: 3\r\n"}.at(pick(7))); break;
            default: bytes.truncate(at); break;
            }
        }
        RawClient client(server_->port);
        client.send(bytes);
        spinUntil([&] { return !client.receivedSoFar().isEmpty() || !client.isConnected(); }, 30);
    }
    EXPECT_EQ(exchange(request("GET", "/Day%201/sub/nested.txt")).body, "nested\n");
    EXPECT_TRUE(spinUntil([&] { return server_->server->connectionCount() == 0; }, 5000));
}

class WebDavSmallLimitsTest : public WebDavProtocolTest {
protected:
    WebDavLimits limits() const override
    {
        WebDavLimits small;
        small.maxConnections = 3;
        small.idleTimeoutMs = 300;
        return small;
    }
};

TEST_F(WebDavSmallLimitsTest, ConnectionsBeyondTheCapAreClosedAtOnceAndLogged)
{
    WebDavLimits capOnly;
    capOnly.maxConnections = 3;
    server_->server->setLimits(capOnly);
    // Three clients that logged in hold every slot, each in the middle of a
    // request (its body still to come): nobody can be closed to make room,
    // so newcomers are refused.
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<RawClient>(server_->port));
        clients.back()->send(request("HEAD", "/empty.txt"));
        ASSERT_EQ(parseResponses(clients.back()->readResponses(1, 10000, true), true).size(), 1);
        // The interim answer shows the head was read and the body is awaited.
        clients.back()->send(request("PROPFIND", "/", "Depth: 0\r\nExpect: 100-continue\r\nContent-Length: 4\r\n"));
        ASSERT_TRUE(spinUntil([&] { return clients.back()->receivedSoFar().contains("100 Continue"); }, 5000));
    }
    for (int i = 0; i < 2; ++i)
        clients.push_back(std::make_unique<RawClient>(server_->port));
    EXPECT_TRUE(clients.at(3)->waitClosed(5000));
    EXPECT_TRUE(clients.at(4)->waitClosed(5000));
    EXPECT_EQ(server_->server->connectionCount(), 3);
    EXPECT_EQ(server_->log.filter(QStringLiteral("limit of 3 connections reached")).size(), 2);
    // The admitted ones are served.
    clients.at(0)->send("    " + request("HEAD", "/"));
    ASSERT_TRUE(spinUntil([&] { return clients.at(0)->receivedSoFar().count("\r\nServer: ") == 3; }, 10000))
        << clients.at(0)->receivedSoFar().constData();
    EXPECT_TRUE(clients.at(0)->receivedSoFar().contains("HTTP/1.1 207 Multi-Status"));
}

TEST_F(WebDavSmallLimitsTest, IdleConnectionsAreClosed)
{
    RawClient silent(server_->port);
    RawClient halfHead(server_->port);
    halfHead.send("GET / HTTP/1.1\r\n");
    EXPECT_TRUE(silent.waitClosed(5000));
    EXPECT_TRUE(halfHead.waitClosed(5000));
    EXPECT_TRUE(spinUntil([&] { return server_->server->connectionCount() == 0; }, 5000));
    EXPECT_GE(server_->log.filter(QStringLiteral("Closed idle connection: ")).size(), 2);
}

} // namespace
