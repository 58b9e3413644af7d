// How a connection frames requests and when it ends: raw-socket cases of
// what post-production's clients send, and of heads that two readers could
// cut into requests differently.

#include "fileserver/WebDavTestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class WebDavFramingTest : public ServedShareTest {};

QByteArray auth()
{
    return "Authorization: " + basicAuth(kTestUser, kTestPassword).toLatin1() + "\r\n";
}

struct FramingCase {
    const char* name;
    QByteArray bytes;
    QList<int> statuses;    // every answer, in order
    const char* connection; // the Connection header of the last answer
    bool closes;            // the server closes after the last answer
    QByteArray firstBody;   // when not empty: the first answer's body
};

TEST_F(WebDavFramingTest, WireCasesFrameRequestsAndCloseWhenTheyMust)
{
    const QByteArray nested = "/Day%201/sub/nested.txt";
    const QByteArray next = request("GET", nested);
    const QByteArray port = QByteArray::number(server_->port);
    const FramingCase cases[] = {
        // Ending the connection: asked for, or HTTP/1.0 without keep-alive.
        {"HTTP/1.1 Connection: close", request("GET", nested, "Connection: close\r\n") + next, {200}, "close", true, "nested\n"},
        {"close among other options, any case", request("GET", nested, "Connection: TE, Close\r\nTE: trailers\r\n"), {200}, "close",
         true, "nested\n"},
        {"close after a streamed download", request("GET", "/100%25%20%231+%C3%BC.wav", "Connection: close\r\n"), {200}, "close",
         true, QByteArray(70000, 'w')},
        {"close after a listing", request("PROPFIND", "/", "Depth: 1\r\nConnection: close\r\n"), {207}, "close", true, {}},
        {"close after a refusal", request("GET", "/missing.wav", "Connection: close\r\n") + next, {404}, "close", true, {}},
        {"HTTP/1.0", "GET " + nested + " HTTP/1.0\r\n" + auth() + "\r\n" + next, {200}, "close", true, "nested\n"},
        {"HTTP/1.0 keep-alive", "GET " + nested + " HTTP/1.0\r\nConnection: keep-alive\r\n" + auth() + "\r\n" + next,
         {200, 200}, "keep-alive", false, "nested\n"},
        {"HTTP/1.1 keeps the connection", next + next, {200, 200}, "keep-alive", false, "nested\n"},
        // Targets: the query is no part of the path; the absolute form is taken.
        {"query", request("GET", nested + "?download=1"), {200}, "keep-alive", false, "nested\n"},
        {"query that looks like a path", request("GET", nested + "?x=/../../etc/passwd"), {200}, "keep-alive", false, "nested\n"},
        {"absolute form", request("GET", "http://127.0.0.1:" + port + nested), {200}, "keep-alive", false, "nested\n"},
        {"absolute form, scheme in capitals", request("GET", "HTTP://localhost" + nested + "?a=b"), {200}, "keep-alive", false,
         "nested\n"},
        {"absolute form without a path", request("HEAD", "http://127.0.0.1:" + port) + request("OPTIONS", "*"), {200, 200},
         "keep-alive", false, {}},
        {"other scheme", request("GET", "ftp://127.0.0.1" + nested) + next, {400}, "close", true, {}},
        {"no leading slash", request("GET", "empty.txt") + next, {400}, "close", true, {}},
        {"star for GET", request("GET", "*") + next, {400}, "close", true, {}},
        {"NUL in the path", request("GET", "/empty.txt%00.wav") + next, {400}, "close", true, {}},
        // Heads that could be framed two ways: refused and closed, so the
        // bytes after them are never read as a request.
        {"blank before the colon", request("PUT", "/x", "Content-Length : 5\r\n") + "hello" + next, {400}, "close", true, {}},
        {"folded line", request("GET", nested, "X-A: 1\r\n folded: 2\r\n") + next, {400}, "close", true, {}},
        {"folded with a tab", request("GET", nested, "X-A: 1\r\n\tContent-Length: 5\r\n") + next, {400}, "close", true, {}},
        {"two Authorization lines",
         request("GET", nested, "Authorization: " + basicAuth(kTestUser, QStringLiteral("wrong")).toLatin1() + "\r\n") + next,
         {400}, "close", true, {}},
        {"two Host lines", request("GET", nested, "Host: other\r\n") + next, {400}, "close", true, {}},
        {"HTTP/1.1 without Host", "GET " + nested + " HTTP/1.1\r\n" + auth() + "\r\n" + next, {400}, "close", true, {}},
        {"HTTP/1.0 without Host", "GET " + nested + " HTTP/1.0\r\n" + auth() + "\r\n", {200}, "close", true, "nested\n"},
        {"HTTP/9.9", "GET " + nested + " HTTP/9.9\r\nHost: x\r\n" + auth() + "\r\n" + next, {505}, "close", true, {}},
        {"HTTP/2.0", "GET " + nested + " HTTP/2.0\r\nHost: x\r\n" + auth() + "\r\n", {505}, "close", true, {}},
        {"version malformed", "GET " + nested + " HTTP/1.10\r\nHost: x\r\n" + auth() + "\r\n" + next, {400}, "close", true, {}},
        {"no version", "GET " + nested + "\r\nHost: x\r\n" + auth() + "\r\n" + next, {400}, "close", true, {}},
        {"double blank in the request line", "GET  / HTTP/1.1\r\nHost: x\r\n" + auth() + "\r\n" + next, {400}, "close", true, {}},
        {"trailing blank in the request line", "GET / HTTP/1.1 \r\nHost: x\r\n" + auth() + "\r\n" + next, {400}, "close", true,
         {}},
        {"method with a separator", "GE(T / HTTP/1.1\r\nHost: x\r\n\r\n" + next, {400}, "close", true, {}},
        {"CR alone inside the head", "GET " + nested + " HTTP/1.1\rHost: x\r\n" + auth() + "\r\n" + next, {400}, "close", true,
         {}},
        {"header name with a separator", request("GET", nested, "X(A): 1\r\n") + next, {400}, "close", true, {}},
        // Lenient where it cannot mislead: LF line ends, empty lines first.
        {"LF line ends", "GET " + nested + " HTTP/1.1\nHost: x\n" + auth().replace("\r\n", "\n") + "\n", {200}, "keep-alive",
         false, "nested\n"},
        {"empty lines before the request", "\r\n\r\n" + next, {200}, "keep-alive", false, "nested\n"},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(server_->port);
        client.send(c.bytes);
        // Well inside the head time: an answer that waits for it is a fault.
        const QByteArray answer = c.closes ? client.readUntilClosed(3000) : client.readResponses(c.statuses.size(), 3000);
        const bool headOnly = c.bytes.startsWith("HEAD");
        const QList<ParsedResponse> responses = parseResponses(answer, headOnly);
        QList<int> statuses;
        for (const ParsedResponse& response : responses)
            statuses.append(response.status);
        ASSERT_EQ(statuses, c.statuses) << answer.left(400).constData();
        EXPECT_EQ(responses.last().header("Connection"), c.connection);
        EXPECT_EQ(!client.isConnected(), c.closes);
        if (!c.firstBody.isEmpty()) {
            EXPECT_TRUE(responses.first().body == c.firstBody) << responses.first().body.left(100).constData();
        }
        if (c.closes) {
            EXPECT_TRUE(answer.endsWith(responses.last().body)) << "nothing after the last answer";
        }
    }
    // Nothing was written, and every refused connection is gone.
    EXPECT_FALSE(QFile::exists(share_.root() + QStringLiteral("/x")));
    EXPECT_TRUE(spinUntil([&] { return server_->server->connectionCount() == 0; }, 5000));
}

// A name written by another device in Latin-1, in a folder named the same
// way, beside one with control characters and a FIFO.
class OddNames {
public:
    explicit OddNames(const QString& root)
        : root_(QFile::encodeName(root))
    {
        valid_ = ::mkdir((root_ + "/d\xe9j\xe0").constData(), 0755) == 0
              && write(root_ + "/latin1_\xe9.wav", "latin-1 take\n")
              && write(root_ + "/d\xe9j\xe0/prise \xe9t\xe9.wav", "inner take\n")
              && write(root_ + "/ctl_\x01\x1b[31m.txt", "control\n")
              && ::mkfifo((root_ + "/pipe").constData(), 0644) == 0;
    }
    bool isValid() const { return valid_; }

private:
    static bool write(const QByteArray& path, const QByteArray& bytes)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    QByteArray root_;
    bool valid_ = false;
};

// xmllint, the outside reader: the document parses as XML.
bool wellFormed(const QByteArray& document)
{
    QTemporaryDir dir;
    QFile file(dir.path() + QStringLiteral("/page.xml"));
    if (!file.open(QIODevice::WriteOnly) || file.write(document) != document.size())
        return false;
    file.close();
    return runTool(QStringLiteral("xmllint"), {QStringLiteral("--noout"), file.fileName()}).exitCode == 0;
}

TEST_F(WebDavFramingTest, NamesThatAreNoUtf8AreListedAndServedByTheirOwnBytes)
{
    TONVALE_REQUIRE_TOOL("xmllint");
    TONVALE_REQUIRE_TOOL("curl");
    OddNames odd(share_.root());
    ASSERT_TRUE(odd.isValid());
    const auto exchange = [&](const QByteArray& bytes) {
        RawClient client(server_->port);
        client.send(bytes);
        const QList<ParsedResponse> responses = parseResponses(client.readResponses(1, 10000));
        return responses.isEmpty() ? ParsedResponse() : responses.first();
    };

    const ParsedResponse root = exchange(request("PROPFIND", "/", "Depth: 1\r\n"));
    ASSERT_EQ(root.status, 207);
    EXPECT_TRUE(wellFormed(root.body));
    EXPECT_TRUE(root.body.contains("<D:href>/latin1_%E9.wav</D:href>")) << root.body.constData();
    EXPECT_TRUE(root.body.contains("<D:href>/d%E9j%E0/</D:href>"));
    EXPECT_TRUE(root.body.contains("<D:displayname>latin1_\xef\xbf\xbd.wav</D:displayname>")) << "readable, not raw bytes";
    EXPECT_FALSE(root.body.contains("pipe"));
    const ParsedResponse inner = exchange(request("PROPFIND", "/d%E9j%E0/", "Depth: 1\r\n"));
    ASSERT_EQ(inner.status, 207);
    EXPECT_TRUE(inner.body.contains("<D:href>/d%E9j%E0/prise%20%E9t%E9.wav</D:href>")) << inner.body.constData();

    const ParsedResponse page = exchange(request("GET", "/"));
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(wellFormed(page.body)) << page.body.constData();
    EXPECT_TRUE(page.body.contains("<a href=\"/latin1_%E9.wav\">")) << page.body.constData();
    EXPECT_TRUE(page.body.contains("<a href=\"/ctl_%01%1B%5B31m.txt\">"));
    EXPECT_FALSE(page.body.contains('\x01'));
    EXPECT_FALSE(page.body.contains('\x1b'));
    const ParsedResponse innerPage = exchange(request("GET", "/d%E9j%E0/"));
    EXPECT_TRUE(wellFormed(innerPage.body)) << innerPage.body.constData();
    EXPECT_TRUE(innerPage.body.contains("<a href=\"/\">..</a>"));

    // Every href leads back to the bytes, for curl as for a raw client.
    QTemporaryDir scratch;
    const struct {
        const char* href;
        QByteArray bytes;
    } files[] = {{"/latin1_%E9.wav", "latin-1 take\n"}, {"/d%E9j%E0/prise%20%E9t%E9.wav", "inner take\n"},
                 {"/ctl_%01%1B%5B31m.txt", "control\n"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.href);
        EXPECT_EQ(exchange(request("GET", f.href)).body, f.bytes);
        const QString out = scratch.path() + QStringLiteral("/out");
        const ClientRun curl =
            runClient(QStringLiteral("curl"), {QStringLiteral("-sf"), QStringLiteral("-u"), kTestUser + QLatin1Char(':') + kTestPassword,
                                               QStringLiteral("-o"), out, server_->url() + QString::fromLatin1(f.href).mid(1)});
        ASSERT_EQ(curl.result.exitCode, 0) << curl.result.standardError.toStdString();
        QFile copy(out);
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), f.bytes);
    }
    // The UTF-8 reading of the same name is another name.
    EXPECT_EQ(exchange(request("GET", "/latin1_%C3%A9.wav")).status, 404);

    // A FIFO is not there for any method, and nothing waits on it.
    for (const QByteArray& method : {QByteArray("GET"), QByteArray("PROPFIND")})
        EXPECT_EQ(exchange(request(method, "/pipe", "Depth: 0\r\n")).status, 404) << method.constData();
    RawClient head(server_->port);
    head.send(request("HEAD", "/pipe"));
    const QList<ParsedResponse> heads = parseResponses(head.readResponses(1, 10000, true), true);
    ASSERT_EQ(heads.size(), 1);
    EXPECT_EQ(heads.first().status, 404);
}

// The sha256 of every regular file under `root`, sorted: what a copy must
// hold whatever names its client gave the files. Walked by bytes, since Qt
// cannot open a name that is no UTF-8.
void collectHashes(const QByteArray& folder, QStringList& hashes)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat status {};
        if (::lstat(path.constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            collectHashes(path, hashes);
        } else if (S_ISREG(status.st_mode)) {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            QFile file;
            if (fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                hashes.append(QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()));
        }
    }
    ::closedir(dir);
}

QStringList contentHashes(const QString& root)
{
    QStringList hashes;
    collectHashes(QFile::encodeName(root), hashes);
    hashes.sort();
    return hashes;
}

TEST(WebDavOddNamesTest, RcloneCopiesATreeWithNamesThatAreNoUtf8)
{
    TONVALE_REQUIRE_TOOL("rclone");
    QTemporaryDir dir;
    const QString share = dir.path() + QStringLiteral("/share");
    ASSERT_TRUE(QDir().mkpath(share));
    OddNames odd(share);
    ASSERT_TRUE(odd.isValid());
    QFile plain(share + QStringLiteral("/plain.wav"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("plain take\n") == 11);
    plain.close();
    auto running = startServer(share);
    ASSERT_TRUE(running);

    const ClientRun obscure = runClient(QStringLiteral("rclone"), {QStringLiteral("obscure"), kTestPassword});
    ASSERT_EQ(obscure.result.exitCode, 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RCLONE_CONFIG"), dir.path() + QStringLiteral("/rclone.conf"));
    environment.insert(QStringLiteral("RCLONE_CONFIG_TV_TYPE"), QStringLiteral("webdav"));
    environment.insert(QStringLiteral("RCLONE_CONFIG_TV_URL"), running->url());
    environment.insert(QStringLiteral("RCLONE_CONFIG_TV_VENDOR"), QStringLiteral("other"));
    environment.insert(QStringLiteral("RCLONE_CONFIG_TV_USER"), kTestUser);
    environment.insert(QStringLiteral("RCLONE_CONFIG_TV_PASS"), obscure.result.standardOutput.trimmed());
    const QString target = dir.path() + QStringLiteral("/copy");
    const ClientRun copy =
        runClient(QStringLiteral("rclone"), {QStringLiteral("copy"), QStringLiteral("tv:"), target}, 60000, environment);
    ASSERT_FALSE(copy.timedOut);
    ASSERT_EQ(copy.result.exitCode, 0) << copy.result.standardError.toStdString();
    const QStringList expected = contentHashes(share);
    EXPECT_EQ(expected.size(), 4);
    EXPECT_EQ(contentHashes(target), expected);
}

struct IfRangeCase {
    const char* name;
    QByteArray ifRange;
    int status;
    QByteArray body;
};

// A date names one version of a file only when the file is at least a
// second older than it: within its own second the file may have changed.
TEST_F(WebDavFramingTest, AnIfRangeDateIsTrustedOnlyASecondAfterTheChange)
{
    const QString path = share_.root() + QStringLiteral("/resume.wav");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write("0123456789"), 10);
    file.close();
    // Written at 12:00:00.5 on a day long past.
    const timespec times[2] = {{1577880000, 500000000}, {1577880000, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    const IfRangeCase cases[] = {
        {"its own second", "Wed, 01 Jan 2020 12:00:00 GMT", 200, "0123456789"},
        {"half a second later", "Wed, 01 Jan 2020 12:00:01 GMT", 200, "0123456789"},
        {"a second and a half later", "Wed, 01 Jan 2020 12:00:02 GMT", 206, "234"},
        {"before", "Wed, 01 Jan 2020 11:59:59 GMT", 200, "0123456789"},
        {"in the future", "Fri, 01 Jan 2100 00:00:00 GMT", 200, "0123456789"},
        {"not a date", "yesterday", 200, "0123456789"},
    };
    for (const IfRangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(server_->port);
        client.send(request("GET", "/resume.wav", "Range: bytes=2-4\r\nIf-Range: " + c.ifRange + "\r\n"));
        const QList<ParsedResponse> responses = parseResponses(client.readResponses(1));
        ASSERT_EQ(responses.size(), 1);
        EXPECT_EQ(responses.first().status, c.status);
        EXPECT_EQ(responses.first().body, c.body);
    }

    // Fetched, rewritten at once, resumed with the date it was given: the
    // whole new take, never old bytes followed by new ones.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        RawClient client(server_->port);
        client.send(request("GET", "/resume.wav"));
        const QList<ParsedResponse> first = parseResponses(client.readResponses(1));
        ASSERT_EQ(first.size(), 1);
        const QByteArray date = first.first().header("Last-Modified");
        const QByteArray take = QByteArray(10, static_cast<char>('a' + round));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(take), 10);
        file.close();
        client.send(request("GET", "/resume.wav", "Range: bytes=5-\r\nIf-Range: " + date + "\r\n"));
        const QList<ParsedResponse> resumed = parseResponses(client.readResponses(2));
        ASSERT_EQ(resumed.size(), 2);
        EXPECT_EQ(resumed.at(1).status, 200);
        EXPECT_EQ(resumed.at(1).body, take);
    }
}

} // namespace
