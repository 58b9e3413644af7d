#include "fileserver/WebDavTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Sparse, but every MiB starts with a pattern naming its offset, so a range
// served from the wrong place or out of order changes the hash.
bool writeBigFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(ShareFixture::kBigFileBytes))
        return false;
    for (qint64 offset = 0; offset < ShareFixture::kBigFileBytes; offset += 1024 * 1024) {
        QByteArray block(4096, '\0');
        const QByteArray mark = QByteArray::number(offset) + ' ';
        for (int i = 0; i < block.size(); ++i)
            block[i] = mark.at(i % mark.size());
        if (!file.seek(offset) || file.write(block) != block.size())
            return false;
    }
    return true;
}

} // namespace

ShareFixture::ShareFixture()
{
    const QString share = root();
    QDir top(dir_.path());
    valid_ = dir_.isValid() && top.mkpath(QStringLiteral("share/Day 1/sub")) && top.mkpath(QStringLiteral("outside"))
          && writeFile(share + QStringLiteral("/Day 1/take & one.wav"), QByteArray("RIFF take one ") + QByteArray(5000, 'a'))
          && writeFile(share + QStringLiteral("/Day 1/sub/nested.txt"), "nested\n")
          && writeFile(share + QStringLiteral("/Day 1/.hidden-in-day.txt"), "hidden\n")
          && writeFile(share + QStringLiteral("/empty.txt"), QByteArray())
          && writeFile(share + QStringLiteral("/100% #1+ü.wav"), QByteArray(70000, 'w'))
          && writeFile(share + QStringLiteral("/.hidden.txt"), "hidden\n")
          && writeFile(outside() + QStringLiteral("/secret.txt"), "secret\n")
          && QFile::link(outside(), share + QStringLiteral("/escape"))
          && writeBigFile(share + QStringLiteral("/big.bin"));
    if (!valid_)
        return;
    socketFd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(share + QStringLiteral("/sock"));
    valid_ = socketFd_ >= 0 && socketPath.size() < static_cast<qsizetype>(sizeof(address.sun_path));
    if (valid_) {
        memcpy(address.sun_path, socketPath.constData(), socketPath.size());
        valid_ = ::bind(socketFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
}

ShareFixture::~ShareFixture()
{
    if (socketFd_ >= 0)
        ::close(socketFd_);
}

QList<ShareFixture::Entry> ShareFixture::visibleEntries()
{
    return {
        {QStringLiteral("Day 1/"), -1},
        {QStringLiteral("Day 1/sub/"), -1},
        {QStringLiteral("Day 1/sub/nested.txt"), 7},
        {QStringLiteral("Day 1/take & one.wav"), 5014},
        {QStringLiteral("100% #1+ü.wav"), 70000},
        {QStringLiteral("big.bin"), kBigFileBytes},
        {QStringLiteral("empty.txt"), 0},
    };
}

QMap<QString, QString> ShareFixture::snapshot() const
{
    QMap<QString, QString> result;
    QDirIterator it(root(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(root()).relativeFilePath(info.filePath());
        if (info.isSymLink() || !info.isFile()) {
            result.insert(relative, info.isDir() ? QStringLiteral("dir") : QStringLiteral("other"));
            continue;
        }
        QFile file(info.filePath());
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(&file);
        result.insert(relative, QString::fromLatin1(hash.result().toHex()));
    }
    return result;
}

QString RunningServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

std::unique_ptr<RunningServer> startServer(const QString& root, const WebDavLimits& limits)
{
    auto running = std::make_unique<RunningServer>();
    running->server = std::make_unique<WebDavServer>();
    RunningServer* raw = running.get();
    QObject::connect(running->server.get(), &WebDavServer::logMessage, [raw](const QString& line) { raw->log.append(line); });
    running->server->setLimits(limits);
    running->server->setRootPath(root);
    running->server->setCredentials(kTestUser, kTestPassword);
    if (!running->server->start(0))
        return nullptr;
    running->port = running->server->serverPort();
    return running;
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

ClientRun runClient(const QString& program, const QStringList& arguments, int timeoutMs,
                    const QProcessEnvironment& environment, const QString& workingDirectory,
                    const QByteArray& standardInput)
{
    ClientRun run;
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
        run.timedOut = true;
        loop.quit();
    });
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return run;
    run.result.started = true;
    if (!standardInput.isEmpty())
        process.write(standardInput);
    process.closeWriteChannel();
    timeout.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (run.timedOut) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    run.result.standardError = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class RawClient::Impl {
public:
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};

RawClient::RawClient(quint16 port)
    : impl_(std::make_unique<Impl>())
{
    Impl* impl = impl_.get();
    QObject::connect(&impl->socket, &QTcpSocket::readyRead, [impl] { impl->received.append(impl->socket.readAll()); });
    QObject::connect(&impl->socket, &QTcpSocket::disconnected, [impl] { impl->closed = true; });
    // A server that closes at once shows as an error, not as a disconnection.
    QObject::connect(&impl->socket, &QTcpSocket::errorOccurred, [impl] { impl->closed = true; });
    impl->socket.connectToHost(QHostAddress::LocalHost, port);
    spinUntil([impl] { return impl->closed || impl->socket.state() == QAbstractSocket::ConnectedState; }, 5000);
}

RawClient::~RawClient() = default;

bool RawClient::isConnected() const
{
    return impl_->socket.state() == QAbstractSocket::ConnectedState;
}

void RawClient::send(const QByteArray& bytes)
{
    impl_->socket.write(bytes);
    impl_->socket.flush();
}

QByteArray RawClient::readResponses(int count, int timeoutMs, bool bodiless)
{
    Impl* impl = impl_.get();
    spinUntil([&] { return impl->closed || parseResponses(impl->received, bodiless).size() >= count; }, timeoutMs);
    return impl->received;
}

QByteArray RawClient::readUntilClosed(int timeoutMs)
{
    waitClosed(timeoutMs);
    return impl_->received;
}

bool RawClient::waitClosed(int timeoutMs)
{
    Impl* impl = impl_.get();
    return spinUntil([impl] { return impl->closed || impl->socket.state() == QAbstractSocket::UnconnectedState; },
                     timeoutMs);
}

QByteArray RawClient::pending()
{
    spinUntil([] { return false; }, 100);
    return impl_->received;
}

QByteArray RawClient::receivedSoFar() const
{
    return impl_->received;
}

QByteArray ParsedResponse::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

int ParsedResponse::headerCount(const QByteArray& name) const
{
    int count = 0;
    for (const auto& entry : headers)
        count += entry.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

QList<ParsedResponse> parseResponses(const QByteArray& bytes, bool bodiless)
{
    QList<ParsedResponse> responses;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype headEnd = bytes.indexOf("\r\n\r\n", at);
        if (headEnd < 0)
            break;
        const QList<QByteArray> lines = bytes.mid(at, headEnd - at).split('\n');
        ParsedResponse response;
        const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
        response.status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                response.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        const qint64 length = bodiless ? 0 : response.header("Content-Length").toLongLong();
        const qsizetype bodyStart = headEnd + 4;
        if (bytes.size() - bodyStart < length)
            break;
        response.body = bytes.mid(bodyStart, length);
        responses.append(response);
        at = bodyStart + length;
    }
    return responses;
}

QByteArray ServedShareTest::request(const QByteArray& method, const QByteArray& path, const QByteArray& extra,
                                    bool authenticated)
{
    QByteArray bytes = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (authenticated)
        bytes += "Authorization: " + basicAuth(kTestUser, kTestPassword).toLatin1() + "\r\n";
    return bytes + extra + "\r\n";
}

QString basicAuth(const QString& user, const QString& password)
{
    return QStringLiteral("Basic ") + QString::fromLatin1((user + QLatin1Char(':') + password).toUtf8().toBase64());
}
