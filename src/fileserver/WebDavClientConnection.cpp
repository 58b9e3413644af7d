#include "fileserver/WebDavClientConnection.h"

#include "fileserver/WebDavServer.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

const QByteArray kHeadEnd = QByteArrayLiteral("\r\n\r\n");

// Qt stops reading from the kernel beyond this while a request waits, so a
// client that sends while its answers cannot leave costs little memory.
constexpr qint64 kSocketReadBufferBytes = 64 * 1024;
constexpr qint64 kReadChunkBytes = 16 * 1024;

// An answer body up to this size is queued whole; a longer one is handed to
// the socket as it drains.
constexpr qsizetype kDirectBodyBytes = 64 * 1024;

// A Content-Length is 1*DIGIT (RFC 9110 8.6); anything else, or two lines
// that disagree, leaves the body's end unknown, and guessing would read body
// bytes as the next request.
enum class LengthKind { Invalid, Number, TooLarge };

LengthKind readContentLength(const QStringList& values, qint64& lengthBytes)
{
    lengthBytes = 0;
    if (values.isEmpty())
        return LengthKind::Number;
    for (const QString& value : values) {
        if (value != values.first())
            return LengthKind::Invalid;
    }
    const QString& text = values.first();
    if (text.isEmpty() || !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return LengthKind::Invalid;
    bool ok = false;
    lengthBytes = text.toLongLong(&ok);
    return ok ? LengthKind::Number : LengthKind::TooLarge;
}

// No body, and no Content-Length either (RFC 9110 6.4.1, 8.6).
bool isBodilessStatus(int statusCode)
{
    return statusCode < 200 || statusCode == 204 || statusCode == 304;
}

} // namespace

WebDavClientConnection::WebDavClientConnection(QTcpSocket* socket, WebDavServer* server, QObject* parent)
    : QObject(parent)
    , socket_(socket)
    , server_(server)
    , idleTimer_(new QTimer(this))
    , limits_(server->limits())
    , headTimer_(new QTimer(this))
{
    // Owned by the connection, so the socket lives exactly as long as the one
    // object that uses it, whatever order the server's children go in.
    socket_->setParent(this);
    socket_->setReadBufferSize(kSocketReadBufferBytes);
    idleTimer_->setSingleShot(true);
    idleTimer_->setInterval(limits_.idleTimeoutMs);
    idleTimer_->start();
    connect(idleTimer_, &QTimer::timeout, this, &WebDavClientConnection::onIdleTimeout);
    // Counted from a head's first byte, not restarted by each line: a client
    // that trickles one header line at a time must not hold a slot for ever.
    headTimer_->setSingleShot(true);
    headTimer_->setInterval(limits_.headTimeoutMs);
    connect(headTimer_, &QTimer::timeout, this, &WebDavClientConnection::onHeadTimeout);
    connect(socket_, &QTcpSocket::readyRead, this, &WebDavClientConnection::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &WebDavClientConnection::onDisconnected);
    connect(socket_, &QTcpSocket::bytesWritten, this, &WebDavClientConnection::onBytesWritten);
    // Data that came with the connection itself is not announced again.
    if (socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &WebDavClientConnection::onReadyRead, Qt::QueuedConnection);
}

WebDavClientConnection::~WebDavClientConnection()
{
    cancelListing();
    endDownload();
    socket_->disconnect(this);
    socket_->abort(); // the socket itself goes with this object's children
}

void WebDavClientConnection::shutDown()
{
    closing_ = true;
    cancelListing();
    endDownload();
    idleTimer_->stop();
    headTimer_->stop();
    socket_->disconnect(this);
    socket_->abort();
}

QString WebDavClientConnection::peerAddress() const
{
    return socket_->peerAddress().toString();
}

qint64 WebDavClientConnection::unsentBytes() const
{
    return socket_->bytesToWrite() + (replyBody_.size() - replySentBytes_);
}

bool WebDavClientConnection::isBusy() const
{
    return download_ || listing_ || !replyBody_.isEmpty() || socket_->bytesToWrite() > limits_.maxUnsentBytes;
}

void WebDavClientConnection::onReadyRead()
{
    if (closing_)
        return;
    idleTimer_->start();
    // A busy connection leaves what arrives in the socket (whose buffer is
    // bounded) and the kernel; the end of the busy spell schedules a turn.
    if (!isBusy())
        server_->scheduleTurn(this);
}

void WebDavClientConnection::onDisconnected()
{
    idleTimer_->stop();
    headTimer_->stop();
    cancelListing();
    endDownload();
    if (goneReported_)
        return;
    goneReported_ = true;
    emit disconnected();
}

void WebDavClientConnection::onBytesWritten()
{
    if (closing_)
        return;
    idleTimer_->start();
    if (download_)
        pumpDownload();
    else if (!replyBody_.isEmpty())
        pumpReplyBody();
    // The backlog drained: requests that waited behind it are read again.
    if (!closing_ && !isBusy() && (!buffer_.isEmpty() || socket_->bytesAvailable() > 0))
        server_->scheduleTurn(this);
}

void WebDavClientConnection::onIdleTimeout()
{
    emit server_->logMessage(QStringLiteral("Closed idle connection: %1").arg(socket_->peerAddress().toString()));
    abortConnection();
}

void WebDavClientConnection::onHeadTimeout()
{
    if (closing_ || headersComplete_)
        return;
    emit server_->logMessage(QStringLiteral("Closed slow connection: %1 (request head not complete within %2 ms)")
                                 .arg(socket_->peerAddress().toString())
                                 .arg(limits_.headTimeoutMs));
    refuseAndClose(408, QStringLiteral("Request Timeout"));
}

void WebDavClientConnection::abortConnection()
{
    closing_ = true;
    cancelListing();
    endDownload();
    headTimer_->stop();
    socket_->abort();
    onDisconnected(); // abort announces nothing when the socket was already gone
}

// Answers the next complete request in the buffer. The server calls it once
// per event-loop turn and connection in turn, so a burst of clients never
// holds the GUI thread for longer than one request; a pipelining client is
// scheduled again at once for what it has already sent.
void WebDavClientConnection::processNextRequest()
{
    if (closing_ || isBusy())
        return;
    // Not busy: the previous request is fully answered, and a refusal of the
    // next head before its method is known carries its body.
    if (!headersComplete_)
        answeringHead_ = false;
    readRequestBytes();
    while (!headersComplete_) {
        const qsizetype headEnd = buffer_.indexOf(kHeadEnd);
        if (headEnd < 0) {
            if (buffer_.size() > limits_.maxHeadBytes)
                refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            else if (!buffer_.isEmpty() && !headTimer_->isActive())
                headTimer_->start();
            return;
        }
        headTimer_->stop();
        if (headEnd + kHeadEnd.size() > limits_.maxHeadBytes) {
            refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            return;
        }
        if (!parseHead(headEnd) && closing_)
            return; // refused and closing; a malformed line (400) was dropped and parsing goes on
        readRequestBytes();
        if (headersComplete_ && buffer_.size() < contentLength_
            && headers_.value(QStringLiteral("expect")).compare(QStringLiteral("100-continue"), Qt::CaseInsensitive) == 0) {
            // The client holds its body back until told to send it.
            socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
            socket_->flush();
        }
    }
    if (buffer_.size() < contentLength_)
        return;
    body_ = buffer_.left(contentLength_);
    buffer_.remove(0, contentLength_);
    processRequest();
    resetRequest();
    if (!closing_ && !isBusy() && (!buffer_.isEmpty() || socket_->bytesAvailable() > 0))
        server_->scheduleTurn(this);
}

// Reads only until the buffer holds the request being parsed: pipelined
// requests wait in the socket, whose buffer is bounded, so ours never holds
// (and never moves) more than one request and a piece.
void WebDavClientConnection::readRequestBytes()
{
    const auto complete = [this] {
        if (headersComplete_)
            return buffer_.size() >= contentLength_;
        return buffer_.size() > limits_.maxHeadBytes || buffer_.indexOf(kHeadEnd) >= 0;
    };
    while (socket_->bytesAvailable() > 0 && !complete())
        buffer_.append(socket_->read(kReadChunkBytes));
}

// Parses the head that ends at `headEnd` and removes it from the buffer.
// False when the request was answered here (malformed) and nothing remains to
// be processed for it.
bool WebDavClientConnection::parseHead(qsizetype headEnd)
{
    const QString head = QString::fromUtf8(buffer_.constData(), headEnd);
    buffer_.remove(0, headEnd + kHeadEnd.size());

    const QStringList lines = head.split(QStringLiteral("\r\n"));
    const QStringList requestLine = lines.first().split(QLatin1Char(' '));
    answeringHead_ = false;
    if (requestLine.size() < 2) {
        // The bad head is dropped, so the next request on this connection is
        // read on its own.
        sendError(400, QStringLiteral("Bad Request"));
        return false;
    }
    method_ = requestLine.at(0).toUpper();
    path_ = urlDecode(requestLine.at(1));
    answeringHead_ = method_ == QLatin1String("HEAD");

    headers_.clear();
    QStringList contentLengths;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString name = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (name == QLatin1String("content-length"))
            contentLengths.append(value);
        headers_.insert(name, value);
    }

    const QString transferEncoding = headers_.value(QStringLiteral("transfer-encoding"));
    if (!transferEncoding.isEmpty() && transferEncoding.compare(QStringLiteral("identity"), Qt::CaseInsensitive) != 0) {
        // Without a length the end of the body is unknown; guessing would
        // read body bytes as the next request.
        refuseAndClose(501, QStringLiteral("Not Implemented"));
        return false;
    }
    qint64 lengthBytes = 0;
    switch (readContentLength(contentLengths, lengthBytes)) {
    case LengthKind::Invalid:
        refuseAndClose(400, QStringLiteral("Bad Request"));
        return false;
    case LengthKind::TooLarge:
        refuseAndClose(413, QStringLiteral("Content Too Large"));
        return false;
    case LengthKind::Number:
        break;
    }
    if (lengthBytes > limits_.maxBodyBytes) {
        refuseAndClose(413, QStringLiteral("Content Too Large"));
        return false;
    }
    contentLength_ = static_cast<int>(lengthBytes);
    headersComplete_ = true;
    return true;
}

void WebDavClientConnection::resetRequest()
{
    headersComplete_ = false;
    contentLength_ = 0;
    method_.clear();
    path_.clear();
    headers_.clear();
    body_.clear();
}

void WebDavClientConnection::refuseAndClose(int statusCode, const QString& statusText)
{
    closeAfterResponse_ = true;
    sendError(statusCode, statusText);
    closing_ = true;
    headTimer_->stop();
    buffer_.clear();
    resetRequest();
    // Flushes the answer, then closes; a client that never reads it is cut
    // off by the idle timer.
    socket_->disconnectFromHost();
}

void WebDavClientConnection::processRequest()
{
    emit server_->logMessage(QStringLiteral("%1 %2").arg(method_, path_));

    if (method_ != QLatin1String("OPTIONS") && !checkAuthentication()) {
        QMap<QString, QString> headers;
        headers.insert(QStringLiteral("WWW-Authenticate"), QStringLiteral("Basic realm=\"Tonvale File Server\""));
        sendResponse(401, QStringLiteral("Unauthorized"), headers, QByteArrayLiteral("Authentication required"));
        return;
    }
    if (method_ != QLatin1String("OPTIONS"))
        authenticated_ = true;

    if (method_ == QLatin1String("OPTIONS")) {
        handleOptions(path_);
    } else if (method_ == QLatin1String("PROPFIND")) {
        handlePropfind(path_);
    } else if (method_ == QLatin1String("GET")) {
        handleGet(path_);
    } else if (method_ == QLatin1String("HEAD")) {
        handleHead(path_);
    } else {
        QMap<QString, QString> headers;
        headers.insert(QStringLiteral("Allow"), QStringLiteral("OPTIONS, PROPFIND, GET, HEAD"));
        sendError(405, QStringLiteral("Method Not Allowed"), headers);
    }
}

bool WebDavClientConnection::checkAuthentication() const
{
    // An empty password admits nobody: a password cleared while the server
    // runs must not open the share to "tonvale:".
    if (server_->password_.isEmpty())
        return false;
    const QString authorization = headers_.value(QStringLiteral("authorization"));
    if (authorization.isEmpty())
        return false;
    if (!authorization.startsWith(QStringLiteral("Basic "), Qt::CaseInsensitive))
        return false;
    const QString credentials = QString::fromUtf8(QByteArray::fromBase64(authorization.mid(6).toUtf8()));
    const qsizetype colon = credentials.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    return credentials.left(colon) == server_->username_ && credentials.mid(colon + 1) == server_->password_;
}

void WebDavClientConnection::sendResponse(int statusCode, const QString& statusText,
                                          const QMap<QString, QString>& headers, const QByteArray& body)
{
    QString head = QStringLiteral("HTTP/1.1 %1 %2\r\n").arg(statusCode).arg(statusText);
    head += QStringLiteral("Server: Tonvale WebDAV\r\n");
    head += closeAfterResponse_ ? QStringLiteral("Connection: close\r\n") : QStringLiteral("Connection: keep-alive\r\n");
    head += QStringLiteral("Date: %1\r\n").arg(formatHttpDate(QDateTime::currentDateTimeUtc()));
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        head += QStringLiteral("%1: %2\r\n").arg(it.key(), it.value());
    const bool bodiless = isBodilessStatus(statusCode);
    if (!bodiless && !headers.contains(QStringLiteral("Content-Length")))
        head += QStringLiteral("Content-Length: %1\r\n").arg(body.size());
    head += QStringLiteral("\r\n");
    socket_->write(head.toUtf8());
    // A HEAD answer announces the length GET would send but never sends it,
    // whatever the status: a body here would be read as the next answer.
    if (!bodiless && !answeringHead_ && !body.isEmpty()) {
        if (body.size() <= kDirectBodyBytes) {
            socket_->write(body);
        } else {
            replyBody_ = body;
            replySentBytes_ = 0;
            pumpReplyBody();
        }
    }
    socket_->flush();
}

void WebDavClientConnection::sendError(int statusCode, const QString& statusText,
                                       const QMap<QString, QString>& extraHeaders)
{
    QMap<QString, QString> headers = extraHeaders;
    headers.insert(QStringLiteral("Content-Type"), QStringLiteral("text/html; charset=utf-8"));
    const QByteArray body = QStringLiteral("<html><body><h1>%1 %2</h1></body></html>").arg(statusCode).arg(statusText).toUtf8();
    sendResponse(statusCode, statusText, headers, body);
}

QString WebDavClientConnection::resolvePath(const QString& requestPath) const
{
    QString cleaned = QDir::cleanPath(requestPath);
    if (cleaned.isEmpty() || cleaned == QLatin1String("."))
        cleaned = QStringLiteral("/");
    if (cleaned.startsWith(QLatin1Char('/')))
        cleaned.remove(0, 1);
    if (cleaned.isEmpty())
        return server_->rootPath_;
    return QDir(server_->rootPath_).absoluteFilePath(cleaned);
}

bool WebDavClientConnection::isPathAllowed(const QString& fsPath) const
{
    const auto withSlash = [](QString path) {
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        return path;
    };
    const QString root = withSlash(QFileInfo(server_->rootPath_).absoluteFilePath());
    return withSlash(QFileInfo(fsPath).absoluteFilePath()).startsWith(root);
}

bool WebDavClientConnection::resolveServable(const QString& requestPath, QString& fsPath, QFileInfo& info)
{
    fsPath = resolvePath(requestPath);
    if (!isPathAllowed(fsPath)) {
        sendError(403, QStringLiteral("Forbidden"));
        return false;
    }
    // Hidden entries are never listed, so they are not served either. A
    // symbolic link that leads out of the share is answered exactly as a
    // missing name, so that a client cannot learn what lies outside.
    const QStringList segments = QDir::cleanPath(requestPath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool hidden = std::any_of(segments.cbegin(), segments.cend(),
                                    [](const QString& segment) { return segment.startsWith(QLatin1Char('.')); });
    info = QFileInfo(fsPath);
    if (hidden || !info.exists() || !WebDavListing::leadsInto(fsPath, server_->rootPath_)) {
        sendError(404, QStringLiteral("Not Found"));
        return false;
    }
    return true;
}

QString WebDavClientConnection::urlDecode(const QString& text) const
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}
