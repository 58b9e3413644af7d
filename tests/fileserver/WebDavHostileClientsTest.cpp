// Careless and hostile clients over raw sockets: what HTTP and WebDAV demand
// of every answer, conditional requests, and the bounds on slots and memory.

#include "fileserver/WebDavClientConnection.h"
#include "fileserver/WebDavTestSupport.h"
#include "support/GuiLatenessProbe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <limits>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray propfind(const QByteArray& path, const QByteArray& depth, const QByteArray& body)
{
    return ServedShareTest::request("PROPFIND", path, "Depth: " + depth + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n")
         + body;
}

QByteArray withoutDate(const QByteArray& bytes)
{
    static const QRegularExpression date(QStringLiteral("Date: [^\r]*\r\n"));
    return QString::fromLatin1(bytes).replace(date, QStringLiteral("Date: *\r\n")).toLatin1();
}

// An XPath count by xmllint, the outside reader of our documents; -1 when
// xmllint is missing or fails.
int xpathCount(const QByteArray& document, const QString& expression)
{
    if (findTool(QStringLiteral("xmllint")).isEmpty())
        return -1;
    QTemporaryDir dir;
    QFile file(dir.path() + QStringLiteral("/answer.xml"));
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size())
        return -1;
    file.close();
    const ToolResult result =
        runTool(QStringLiteral("xmllint"), {QStringLiteral("--xpath"), QStringLiteral("count(%1)").arg(expression), file.fileName()});
    return result.exitCode == 0 ? result.standardOutput.trimmed().toInt() : -1;
}

class WebDavHostileClientsTest : public ServedShareTest {
protected:
    QList<ParsedResponse> exchange(const QByteArray& bytes, int count, bool bodiless = false)
    {
        RawClient client(server_->port);
        client.send(bytes);
        return parseResponses(client.readResponses(count, 10000, bodiless), bodiless);
    }
};

struct WireCase {
    const char* name;
    QByteArray bytes;
    bool bodiless;        // parse every answer as bodiless (HEAD followed by OPTIONS)
    QList<int> statuses;  // the answers, in order
    const char* header;   // a header of the first answer ...
    const char* value;    // ... that begins with this
    QStringList bodyHas;  // texts in the first answer's body
    QStringList bodyLacks;
    const char* xpath;    // counted in the first answer's body by xmllint ...
    int xpathCount;       // ... and what the count must be
    bool closes;          // the server closes the connection after the answers
};

TEST_F(WebDavHostileClientsTest, WireCasesAnswerAsHttpAndWebDavRequire)
{
    const QByteArray options = request("OPTIONS", "/", QByteArray(), false);
    const QByteArray namedProps = "<D:propfind xmlns:D=\"DAV:\" xmlns:Z=\"urn:example:tonvale\"><D:prop>"
                                  "<D:getcontentlength/><Z:colour/><D:displayname/><D:getetagx/></D:prop></D:propfind>";
    const WireCase cases[] = {
        // HEAD never carries a body, whatever the status: the OPTIONS answer
        // after it must start right after its head.
        {"HEAD 401", request("HEAD", "/empty.txt", QByteArray(), false) + options, true, {401, 200},
         "Content-Length", "23", {}, {}, nullptr, 0, false},
        {"HEAD 404", request("HEAD", "/missing.wav") + options, true, {404, 200}, "Content-Type", "text/html", {}, {}, nullptr, 0, false},
        {"HEAD 403", request("HEAD", "/../outside/secret.txt") + options, true, {403, 200}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"HEAD 200 then 404", request("HEAD", "/") + request("HEAD", "/missing") + options, true, {200, 404, 200},
         "Content-Type", "text/html", {}, {}, nullptr, 0, false},
        // Depth: infinity is refused with its precondition (RFC 4918 9.1), anything else unknown is a bad request.
        {"depth infinity", request("PROPFIND", "/", "Depth: infinity\r\n"), false, {403}, "Content-Type", "application/xml",
         {QStringLiteral("<D:propfind-finite-depth/>")}, {QStringLiteral("multistatus")},
         "/*[local-name()='error']/*[local-name()='propfind-finite-depth']", 1, false},
        {"depth Infinity", request("PROPFIND", "/", "Depth: Infinity\r\n"), false, {403}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"depth 2", request("PROPFIND", "/", "Depth: 2\r\n"), false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"depth abc", request("PROPFIND", "/", "Depth: abc\r\n"), false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"no depth lists one level", request("PROPFIND", "/Day%201/"), false, {207}, nullptr, nullptr, {}, {},
         "//*[local-name()='response']", 3, false},
        // PROPFIND bodies.
        {"malformed XML", propfind("/", "0", "<propfind xmlns=\"DAV:\"><prop>"), false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"not a propfind", propfind("/", "0", "<D:lock xmlns:D=\"DAV:\"/>"), false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, false},
        {"undeclared prefix", propfind("/", "0", "<D:propfind><D:allprop/></D:propfind>"), false, {400}, nullptr, nullptr, {}, {},
         nullptr, 0, false},
        {"allprop", propfind("/empty.txt", "0", "<propfind xmlns=\"DAV:\"><allprop/></propfind>"), false, {207}, nullptr, nullptr,
         {QStringLiteral("<D:getcontentlength>0</D:getcontentlength>")}, {}, "//*[local-name()='propstat']", 1, false},
        {"propname", propfind("/empty.txt", "0", "<propfind xmlns=\"DAV:\"><propname/></propfind>"), false, {207}, nullptr, nullptr,
         {QStringLiteral("<D:getcontentlength/>"), QStringLiteral("<D:displayname/>")}, {QStringLiteral("empty.txt</D:displayname>")},
         "//*[local-name()='prop']/*", 6, false},
        {"propname of a folder", propfind("/Day%201/", "0", "<propfind xmlns=\"DAV:\"><propname/></propfind>"), false, {207},
         nullptr, nullptr, {QStringLiteral("<D:resourcetype/>")}, {QStringLiteral("getcontentlength")},
         "//*[local-name()='prop']/*", 4, false},
        {"named properties", propfind("/empty.txt", "0", namedProps), false, {207}, nullptr, nullptr,
         {QStringLiteral("<D:getcontentlength>0</D:getcontentlength>"), QStringLiteral("<D:displayname>empty.txt</D:displayname>"),
          QStringLiteral("HTTP/1.1 404 Not Found")},
         {QStringLiteral("getlastmodified"), QStringLiteral("resourcetype")},
         "//*[local-name()='propstat'][*[local-name()='status']='HTTP/1.1 404 Not Found']"
         "/*[local-name()='prop']/*[(local-name()='colour' and namespace-uri()='urn:example:tonvale') or local-name()='getetagx']",
         2, false},
        {"named file property of a folder", propfind("/Day%201/", "0", namedProps), false, {207}, nullptr, nullptr, {}, {},
         "//*[local-name()='propstat'][*[local-name()='status']='HTTP/1.1 404 Not Found']/*[local-name()='prop']/*", 3, false},
        // Content-Length must be one decimal number.
        {"conflicting lengths", request("PROPFIND", "/", "Content-Length: 3\r\nContent-Length: 4\r\n") + "abcd", false, {400},
         "Connection", "close", {}, {}, nullptr, 0, true},
        {"length 1e3", request("GET", "/", "Content-Length: 1e3\r\n"), false, {400}, "Connection", "close", {}, {}, nullptr, 0, true},
        {"length 0x10", request("GET", "/", "Content-Length: 0x10\r\n"), false, {400}, "Connection", "close", {}, {}, nullptr, 0, true},
        {"length +5", request("GET", "/", "Content-Length: +5\r\n") + "hello", false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, true},
        {"length empty", request("GET", "/", "Content-Length: \r\n"), false, {400}, nullptr, nullptr, {}, {}, nullptr, 0, true},
        {"same length twice", request("PROPFIND", "/empty.txt", "Depth: 0\r\nContent-Length: 0\r\nContent-Length: 0\r\n"), false,
         {207}, nullptr, nullptr, {}, {}, nullptr, 0, false},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(server_->port);
        client.send(c.bytes);
        const QByteArray answer = c.closes ? client.readUntilClosed(5000) : client.readResponses(c.statuses.size(), 10000, c.bodiless);
        const QList<ParsedResponse> responses = parseResponses(answer, c.bodiless);
        QList<int> statuses;
        for (const ParsedResponse& response : responses)
            statuses.append(response.status);
        ASSERT_EQ(statuses, c.statuses) << answer.left(600).constData();
        if (c.bodiless) {
            EXPECT_TRUE(answer.endsWith("\r\n\r\n")) << "nothing after the last head";
        }
        const ParsedResponse& first = responses.first();
        if (c.header) {
            EXPECT_TRUE(first.header(c.header).startsWith(c.value)) << first.header(c.header).constData();
        }
        const QString body = QString::fromUtf8(first.body);
        for (const QString& text : c.bodyHas)
            EXPECT_TRUE(body.contains(text)) << text.toStdString() << "\n" << body.toStdString();
        for (const QString& text : c.bodyLacks)
            EXPECT_FALSE(body.contains(text)) << text.toStdString() << "\n" << body.toStdString();
        if (c.xpath) {
            const int count = xpathCount(first.body, QString::fromLatin1(c.xpath));
            if (count >= 0) {
                EXPECT_EQ(count, c.xpathCount) << body.toStdString();
            }
        }
        EXPECT_EQ(!client.isConnected(), c.closes);
    }
}

TEST_F(WebDavHostileClientsTest, HeadOfAFolderMatchesItsGetAndALinkOutAnswersAsAMissingName)
{
    const QList<ParsedResponse> get = exchange(request("GET", "/Day%201/"), 1);
    const QList<ParsedResponse> head = exchange(request("HEAD", "/Day%201/"), 1, true);
    ASSERT_EQ(get.size(), 1);
    ASSERT_EQ(head.size(), 1);
    EXPECT_EQ(head.first().status, 200);
    EXPECT_EQ(head.first().header("Content-Length"), QByteArray::number(get.first().body.size()));
    EXPECT_EQ(head.first().header("Content-Type"), get.first().header("Content-Type"));

    // Byte for byte (but the date), a link out of the share is a name that is not there.
    ASSERT_TRUE(QFile::link(share_.outside() + QStringLiteral("/secret.txt"), share_.root() + QStringLiteral("/leak.txt")));
    for (const QByteArray& method : {QByteArray("GET"), QByteArray("HEAD"), QByteArray("PROPFIND")}) {
        SCOPED_TRACE(method.constData());
        const bool bodiless = method == "HEAD";
        const auto raw = [&](const QByteArray& path) {
            RawClient client(server_->port);
            client.send(request(method, path, "Depth: 0\r\n"));
            return withoutDate(client.readResponses(1, 10000, bodiless));
        };
        const QByteArray missing = raw("/nothing-here.txt");
        EXPECT_TRUE(missing.startsWith("HTTP/1.1 404 ")) << missing.constData();
        EXPECT_EQ(raw("/leak.txt"), missing);
        EXPECT_EQ(raw("/escape/secret.txt"), missing);
        EXPECT_EQ(raw("/escape/nothing-here.txt"), missing);
    }
}

TEST_F(WebDavHostileClientsTest, ExpectContinueIsAnsweredBeforeTheBody)
{
    const QByteArray body = "<propfind xmlns=\"DAV:\"><allprop/></propfind>";
    RawClient client(server_->port);
    client.send(request("PROPFIND", "/empty.txt",
                        "Depth: 0\r\nExpect: 100-continue\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
    ASSERT_TRUE(spinUntil([&] { return client.receivedSoFar().contains("\r\n\r\n"); }, 5000)) << "no answer without the body";
    EXPECT_EQ(client.receivedSoFar(), "HTTP/1.1 100 Continue\r\n\r\n");
    client.send(body);
    const QList<ParsedResponse> responses = parseResponses(client.readResponses(2));
    ASSERT_EQ(responses.size(), 2);
    EXPECT_EQ(responses.at(1).status, 207);
}

struct ConditionalCase {
    const char* name;
    QByteArray extra; // conditional and range headers
    int status;
    qint64 bodyBytes; // -1: no body expected at all
};

TEST_F(WebDavHostileClientsTest, ValidatorsAnswerConditionalAndRangeRequests)
{
    const QByteArray path = "/100%25%20%231+%C3%BC.wav";
    const QList<ParsedResponse> first = exchange(request("GET", path), 1);
    ASSERT_EQ(first.size(), 1);
    const QByteArray tag = first.first().header("ETag");
    const QByteArray modified = first.first().header("Last-Modified");
    ASSERT_TRUE(tag.startsWith('"') && tag.endsWith('"')) << tag.constData();
    ASSERT_TRUE(modified.endsWith(" GMT"));
    const ConditionalCase cases[] = {
        {"If-None-Match same", "If-None-Match: " + tag + "\r\n", 304, -1},
        {"If-None-Match weak same", "If-None-Match: \"x\", W/" + tag + "\r\n", 304, -1},
        {"If-None-Match star", "If-None-Match: *\r\n", 304, -1},
        {"If-None-Match other", "If-None-Match: \"other\"\r\n", 200, 70000},
        {"If-None-Match decides over a date", "If-None-Match: \"other\"\r\nIf-Modified-Since: " + modified + "\r\n", 200, 70000},
        {"If-Modified-Since same", "If-Modified-Since: " + modified + "\r\n", 304, -1},
        {"If-Modified-Since in the future is no date we gave", "If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n", 200, 70000},
        {"If-Modified-Since earlier", "If-Modified-Since: Thu, 01 Jan 1998 00:00:00 GMT\r\n", 200, 70000},
        {"If-Modified-Since unreadable", "If-Modified-Since: yesterday\r\n", 200, 70000},
        {"If-Range same tag", "Range: bytes=100-199\r\nIf-Range: " + tag + "\r\n", 206, 100},
        // The file's own second may have seen two versions: only a later date names one.
        {"If-Range same date", "Range: bytes=100-199\r\nIf-Range: " + modified + "\r\n", 200, 70000},
        {"If-Range other tag", "Range: bytes=100-199\r\nIf-Range: \"other\"\r\n", 200, 70000},
        {"If-Range weak tag", "Range: bytes=100-199\r\nIf-Range: W/" + tag + "\r\n", 200, 70000},
        {"If-Range other date", "Range: bytes=100-199\r\nIf-Range: Thu, 01 Jan 1998 00:00:00 GMT\r\n", 200, 70000},
    };
    for (const ConditionalCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Each is followed by OPTIONS: a 304 with a body would show as a broken second answer.
        const QList<ParsedResponse> responses = exchange(request("GET", path, c.extra) + request("OPTIONS", "/"), 2);
        ASSERT_EQ(responses.size(), 2);
        EXPECT_EQ(responses.at(0).status, c.status);
        EXPECT_EQ(responses.at(0).header("ETag"), tag);
        EXPECT_EQ(responses.at(1).status, 200);
        if (c.bodyBytes < 0) {
            EXPECT_EQ(responses.at(0).headerCount("Content-Length"), 0);
            EXPECT_TRUE(responses.at(0).body.isEmpty());
        } else {
            EXPECT_EQ(responses.at(0).body.size(), c.bodyBytes);
        }
    }
    const QList<ParsedResponse> head = exchange(request("HEAD", path, "If-None-Match: " + tag + "\r\n"), 1, true);
    ASSERT_EQ(head.size(), 1);
    EXPECT_EQ(head.first().status, 304);

    // Rewritten with the same size within the same second, the file gets a new tag.
    QFile file(share_.root() + QStringLiteral("/100% #1+ü.wav"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(QByteArray(70000, 'n')), 70000);
    file.close();
    const QList<ParsedResponse> changed =
        exchange(request("GET", path, "Range: bytes=100-199\r\nIf-Range: " + tag + "\r\nIf-None-Match: " + tag + "\r\n"), 1);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.first().status, 200);
    EXPECT_NE(changed.first().header("ETag"), tag);
    EXPECT_EQ(changed.first().body, QByteArray(70000, 'n'));
}

// The server shares its thread with the recorder's window: a listing of a
// huge folder must not hold it. A 10 ms timer stands for the meters.
TEST_F(WebDavHostileClientsTest, ListingAHugeFolderKeepsTheThreadResponsive)
{
    TONVALE_REQUIRE_TOOL("curl");
    constexpr int kFiles = 20000;
    const QString folder = share_.root() + QStringLiteral("/huge");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(QFile(folder + QStringLiteral("/take_%1.wav").arg(i, 5, 10, QLatin1Char('0'))).open(QIODevice::WriteOnly));
    QTemporaryDir scratch;
    const struct {
        const char* method;
        const char* xpath; // nullptr: an HTML page
    } cases[] = {{"PROPFIND", "//*[local-name()='response']"}, {"GET", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const QString body = scratch.path() + QStringLiteral("/answer");
        // Three times: a listing that holds the thread is late in every run.
        qint64 leastHeldMs = std::numeric_limits<qint64>::max();
        std::string figures;
        for (int run = 0; run < 3; ++run) {
            GuiLatenessProbe meters;
            meters.start();
            const ClientRun client =
                runClient(QStringLiteral("curl"),
                          {QStringLiteral("-s"), QStringLiteral("-o"), body, QStringLiteral("-w"), QStringLiteral("%{http_code}"),
                           QStringLiteral("-X"), QString::fromLatin1(c.method), QStringLiteral("-H"), QStringLiteral("Depth: 1"),
                           QStringLiteral("-u"), kTestUser + QLatin1Char(':') + kTestPassword, server_->url(QStringLiteral("/huge/"))},
                          60000);
            meters.stop();
            ASSERT_EQ(client.result.exitCode, 0);
            EXPECT_EQ(client.result.standardOutput.toInt(), c.xpath ? 207 : 200);
            if (meters.worstBlockedMs() < leastHeldMs) {
                leastHeldMs = meters.worstBlockedMs();
                figures = describe(meters);
            }
        }
#ifdef TONVALE_SANITIZED_BUILD
        // Instrumented code runs several times slower; the bound is the release build's.
        RecordProperty(std::string(c.method) + "_held_ms", static_cast<int>(leastHeldMs));
#else
        EXPECT_LE(leastHeldMs, 20) << "the GUI thread stood still: " << figures;
#endif
        QFile answer(body);
        ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
        const QByteArray bytes = answer.readAll();
        if (c.xpath) {
            const int count = xpathCount(bytes, QString::fromLatin1(c.xpath));
            if (count >= 0) {
                EXPECT_EQ(count, kFiles + 1);
            }
        } else {
            EXPECT_EQ(bytes.count("<li><a href="), kFiles + 1);
        }
    }
}

class WebDavSlotsTest : public WebDavHostileClientsTest {
protected:
    WebDavLimits limits() const override
    {
        WebDavLimits small;
        small.maxConnections = 8;
        small.maxUnauthenticatedConnections = 4;
        small.headTimeoutMs = 400;
        small.idleTimeoutMs = 20000;
        return small;
    }
};

// One header line at a time, each well inside the idle time; closed, it comes
// back at its next reconnection tick, as slow-header attack tools do.
class Trickler {
public:
    Trickler(quint16 port, int lineIntervalMs, int linesPerReconnect)
        : port_(port)
        , linesPerReconnect_(linesPerReconnect)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(lineIntervalMs);
        tick();
    }

private:
    void tick()
    {
        ++ticks_;
        if (!socket_ || socket_->state() == QAbstractSocket::UnconnectedState) {
            if (socket_ && ticks_ % linesPerReconnect_ != 0)
                return;
            socket_ = std::make_unique<QTcpSocket>();
            socket_->connectToHost(QHostAddress::LocalHost, port_);
            socket_->write("GET / HTTP/1.1\r\n");
            return;
        }
        socket_->write("X-Slow: " + QByteArray::number(++lines_) + "\r\n");
    }

    quint16 port_;
    int linesPerReconnect_;
    int ticks_ = 0;
    QTimer timer_;
    std::unique_ptr<QTcpSocket> socket_;
    int lines_ = 0;
};

TEST_F(WebDavSlotsTest, TricklingClientsNeverLockOutARealOne)
{
    // The deadline counts from the head's first byte: lines that keep coming
    // do not extend it.
    {
        RawClient slow(server_->port);
        QElapsedTimer sinceFirstByte;
        sinceFirstByte.start();
        slow.send("GET / HTTP/1.1\r\n");
        QTimer lines;
        QObject::connect(&lines, &QTimer::timeout, [&] { slow.send("X-Slow: 1\r\n"); });
        lines.start(50);
        ASSERT_TRUE(slow.waitClosed(5000));
        EXPECT_LT(sinceFirstByte.elapsed(), 3000);
        EXPECT_TRUE(slow.receivedSoFar().startsWith("HTTP/1.1 408 Request Timeout\r\n")) << slow.receivedSoFar().constData();
    }

    std::vector<std::unique_ptr<Trickler>> tricklers;
    // Twice the slots, four times the share of clients that have not logged in.
    for (int i = 0; i < 16; ++i)
        tricklers.push_back(std::make_unique<Trickler>(server_->port, 100, 10));
    ASSERT_TRUE(spinUntil([&] { return server_->log.filter(QStringLiteral("Closed unauthenticated connection: ")).size() >= 4; }, 10000));

    // A client that logs in keeps its slot however many newcomers arrive.
    RawClient kept(server_->port);
    kept.send(request("HEAD", "/empty.txt"));
    ASSERT_EQ(parseResponses(kept.readResponses(1, 1000, true), true).size(), 1);

    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        QElapsedTimer answered;
        answered.start();
        RawClient client(server_->port);
        client.send(request("GET", "/Day%201/sub/nested.txt"));
        const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 1000));
        ASSERT_EQ(responses.size(), 1) << "not answered within 1 s";
        EXPECT_EQ(responses.first().body, "nested\n");
        EXPECT_LT(answered.elapsed(), 1000);
    }
    EXPECT_TRUE(kept.isConnected());
    kept.send(request("HEAD", "/empty.txt"));
    EXPECT_EQ(parseResponses(kept.readResponses(2, 1000, true), true).size(), 2);
    EXPECT_LE(server_->server->connectionCount(), 8);
    EXPECT_GE(server_->log.filter(QStringLiteral("Closed slow connection: ")).size(), 1);
}

// A client with the password that opens every slot and then only keeps its
// connections, idle or trickling the next head, must not lock anyone out:
// the longest idle of them makes room, whatever address they share.
TEST_F(WebDavHostileClientsTest, LoggedInConnectionsThatOnlyHoldSlotsMakeRoomForANewClient)
{
    const int slotCount = WebDavLimits().maxConnections;
    for (const bool trickling : {false, true}) {
        SCOPED_TRACE(trickling ? "trickling after a request" : "idle after a request");
        std::vector<std::unique_ptr<RawClient>> holders;
        for (int i = 0; i < slotCount; ++i) {
            holders.push_back(std::make_unique<RawClient>(server_->port));
            holders.back()->send(request("HEAD", "/empty.txt"));
            ASSERT_EQ(parseResponses(holders.back()->readResponses(1, 10000, true), true).size(), 1) << i;
        }
        QTimer trickle;
        int lines = 0;
        QObject::connect(&trickle, &QTimer::timeout, [&] {
            for (auto& holder : holders) {
                if (holder->isConnected())
                    holder->send(lines == 0 ? QByteArray("GET / HTTP/1.1\r\n") : "X-Slow: " + QByteArray::number(lines) + "\r\n");
            }
            ++lines;
        });
        if (trickling)
            trickle.start(100);
        ASSERT_TRUE(spinUntil([&] { return server_->server->connectionCount() == slotCount && (!trickling || lines >= 2); }, 10000));
        const qsizetype madeRoom = server_->log.filter(QStringLiteral("(to make room)")).size();
        // Each newcomer stays, so each one needs a slot of its own.
        std::vector<std::unique_ptr<RawClient>> newcomers;
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            newcomers.push_back(std::make_unique<RawClient>(server_->port));
            RawClient& client = *newcomers.back();
            client.send(request("GET", "/Day%201/sub/nested.txt"));
            const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 2000));
            ASSERT_EQ(responses.size(), 1) << "not answered";
            EXPECT_EQ(responses.first().body, "nested\n");
        }
        EXPECT_GE(server_->log.filter(QStringLiteral("Closed idle connection: ")).filter(QStringLiteral("(to make room)")).size(),
                  madeRoom + 3);
        EXPECT_LE(server_->server->connectionCount(), slotCount);
        trickle.stop();
        holders.clear();
        newcomers.clear();
        ASSERT_TRUE(spinUntil([&] { return server_->server->connectionCount() == 0; }, 10000));
    }
}

class WebDavTwoSlotsTest : public WebDavHostileClientsTest {
protected:
    WebDavLimits limits() const override
    {
        WebDavLimits two;
        two.maxConnections = 2;
        return two;
    }
};

// The longest idle connection may still be taking the tail of an answer from
// the kernel: room is made from another one, never by cutting a download.
TEST_F(WebDavTwoSlotsTest, ADownloadStillInTheKernelIsNotCutToMakeRoom)
{
    const QByteArray take(12 * 1024, 't');
    QFile file(share_.root() + QStringLiteral("/short.wav"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(take) == take.size());
    file.close();
    // A client with a tiny receive window from its first byte, that does not
    // read yet: the answer waits in the server's kernel, not in Qt.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int windowBytes = 1024;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &windowBytes, sizeof windowBytes), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_->port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QByteArray get = request("GET", "/short.wav");
    ASSERT_EQ(::send(fd, get.constData(), get.size(), 0), get.size());
    ASSERT_TRUE(spinUntil([&] { return server_->log.contains(QStringLiteral("GET /short.wav")); }, 5000));
    ASSERT_TRUE(spinUntil([&] { return server_->server->unsentBytes() == 0; }, 5000)) << "all handed to the kernel";

    RawClient idle(server_->port);
    idle.send(request("HEAD", "/empty.txt"));
    ASSERT_EQ(parseResponses(idle.readResponses(1, 5000, true), true).size(), 1);
    RawClient newcomer(server_->port);
    newcomer.send(request("GET", "/Day%201/sub/nested.txt"));
    const QList<ParsedResponse> answered = parseResponses(newcomer.readResponses(1, 5000));
    ASSERT_EQ(answered.size(), 1);
    EXPECT_EQ(answered.first().body, "nested\n");
    EXPECT_TRUE(idle.waitClosed(5000)) << "the idle one made room";

    QByteArray received;
    bool reset = false;
    EXPECT_TRUE(spinUntil([&] {
        char chunk[4096];
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0)
            received.append(chunk, got);
        reset = reset || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        return received.endsWith(take) || reset;
    }, 10000)) << received.size();
    EXPECT_FALSE(reset);
    EXPECT_TRUE(received.endsWith(take)) << received.size();
    ::close(fd);
}

class WebDavListingMemoryTest : public WebDavHostileClientsTest {
protected:
    WebDavLimits limits() const override
    {
        WebDavLimits small;
        small.maxListingsInFlight = 2;
        small.listingStallMs = 500;
        return small;
    }
};

// Clients that ask for a listing of a huge folder and never read it: the
// server holds a few listings, not one per client, and a client that reads
// still gets its own.
TEST_F(WebDavListingMemoryTest, ListingsNobodyReadsAreNotHeldOnePerClient)
{
    constexpr int kFiles = 20000;
    constexpr int kNeverReaders = 12;
    const QString folder = share_.root() + QStringLiteral("/huge");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(QFile(folder + QStringLiteral("/take_%1.wav").arg(i, 5, 10, QLatin1Char('0'))).open(QIODevice::WriteOnly));

    std::vector<std::unique_ptr<QTcpSocket>> neverReaders;
    for (int i = 0; i < kNeverReaders; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        // Small kernel and Qt buffers: what the client does not take stays with the server.
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        socket->setReadBufferSize(4096);
        socket->connectToHost(QHostAddress::LocalHost, server_->port);
        socket->write(request("PROPFIND", "/huge/", "Depth: 1\r\n"));
        neverReaders.push_back(std::move(socket));
    }
    qint64 mostUnsentBytes = 0;
    int mostListings = 0;
    const auto watch = [&] {
        mostUnsentBytes = std::max(mostUnsentBytes, server_->server->unsentBytes());
        mostListings = std::max(mostListings, server_->server->listingsInFlight());
    };
    // Every never-reader's request was taken up, and the stalled ones gave
    // their places up (or the server went on holding far beyond two listings).
    ASSERT_TRUE(spinUntil(
        [&] {
            watch();
            return server_->log.filter(QStringLiteral("PROPFIND /huge/")).size() == kNeverReaders
                && (server_->log.filter(QStringLiteral("Closed stalled connection: ")).size() >= kNeverReaders - 2
                    || mostUnsentBytes > 40 * 1024 * 1024);
        },
        60000))
        << server_->log.filter(QStringLiteral("PROPFIND /huge/")).size();

    // A client that reads waits for a place, not for the idle time.
    RawClient reader(server_->port);
    reader.send(request("PROPFIND", "/huge/", "Depth: 1\r\n"));
    QList<ParsedResponse> responses;
    ASSERT_TRUE(spinUntil(
        [&] {
            watch();
            responses = parseResponses(reader.receivedSoFar());
            return !responses.isEmpty();
        },
        30000));
    EXPECT_EQ(responses.first().status, 207);
    const qint64 listingBytes = responses.first().body.size();
    EXPECT_GT(listingBytes, 5 * 1024 * 1024);
    EXPECT_LE(mostListings, 2);
    // Two listings at most, and what the sockets hold beside them.
    EXPECT_LT(mostUnsentBytes, 3 * listingBytes) << mostUnsentBytes / 1024 / 1024 << " MiB held";
    RecordProperty("most_unsent_mib", static_cast<int>(mostUnsentBytes / 1024 / 1024));
}

class WebDavMemoryTest : public WebDavHostileClientsTest {
protected:
    WebDavLimits limits() const override
    {
        WebDavLimits small;
        small.maxUnsentBytes = 64 * 1024;
        return small;
    }
};

TEST_F(WebDavMemoryTest, AClientThatNeverReadsHoldsItsAnswersBackAndIsServedInOrderWhenItReads)
{
    // Answers of about 100 KiB each, a hundred times what the kernel buffers of
    // loopback hold between them.
    ASSERT_TRUE(QDir(share_.root()).mkdir(QStringLiteral("many")));
    for (int i = 0; i < 250; ++i)
        ASSERT_TRUE(QFile(share_.root() + QStringLiteral("/many/take_%1.wav").arg(i, 4, 10, QLatin1Char('0'))).open(QIODevice::WriteOnly));
    constexpr int kRequests = 600;
    QByteArray flood;
    for (int i = 0; i < kRequests; ++i)
        flood += request("PROPFIND", "/many/", "Depth: 1\r\n");

    QTcpSocket reader;
    reader.setReadBufferSize(4096); // reads nothing beyond this: the kernel's buffer fills, then the server's
    reader.connectToHost(QHostAddress::LocalHost, server_->port);
    ASSERT_TRUE(spinUntil([&] { return reader.state() == QAbstractSocket::ConnectedState; }, 5000));
    reader.write(flood);

    qint64 mostUnsentBytes = 0;
    int answered = 0;
    int stableTurns = 0;
    const auto processed = [&] { return static_cast<int>(server_->log.filter(QStringLiteral("PROPFIND /many/")).size()); };
    // Until the server stops answering: nothing new for 100 polls in a row.
    ASSERT_TRUE(spinUntil(
        [&] {
            mostUnsentBytes = std::max(mostUnsentBytes, server_->server->unsentBytes());
            const int now = processed();
            stableTurns = now == answered && now > 0 ? stableTurns + 1 : 0;
            answered = now;
            return stableTurns > 100;
        },
        60000));
    EXPECT_LT(answered, kRequests / 2) << "the server went on answering a client that does not read";
    EXPECT_LT(mostUnsentBytes, 1024 * 1024);

    // Meanwhile others are served.
    const QList<ParsedResponse> other = exchange(request("GET", "/Day%201/sub/nested.txt"), 1);
    ASSERT_EQ(other.size(), 1);
    EXPECT_EQ(other.first().body, "nested\n");

    // Once it reads, every answer arrives, whole and in order.
    QByteArray received;
    int complete = 0;
    qsizetype at = 0;
    reader.setReadBufferSize(0);
    const auto collect = [&] {
        received += reader.readAll();
        while (true) {
            const qsizetype headEnd = received.indexOf("\r\n\r\n", at);
            if (headEnd < 0)
                return;
            const QList<ParsedResponse> head = parseResponses(received.mid(at, headEnd + 4 - at), true);
            if (head.size() != 1 || head.first().status != 207)
                return;
            const qint64 length = head.first().header("Content-Length").toLongLong();
            if (received.size() < headEnd + 4 + length)
                return;
            received.remove(0, headEnd + 4 + length);
            at = 0;
            ++complete;
        }
    };
    QObject::connect(&reader, &QTcpSocket::readyRead, collect);
    collect();
    EXPECT_TRUE(spinUntil([&] { return complete == kRequests; }, 60000)) << complete;
    EXPECT_TRUE(received.isEmpty()) << received.size() << " bytes after the last answer";
}

} // namespace
