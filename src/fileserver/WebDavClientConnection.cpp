#include "fileserver/WebDavClientConnection.h"

#include "fileserver/WebDavServer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

const QByteArray kHeadEnd = QByteArrayLiteral("\r\n\r\n");

// Reads a Content-Length that is a number. Text that is no number counts as
// 0 (a client sending it has no body); a number is taken at its full width so
// that a huge or negative one is refused instead of wrapping.
enum class LengthKind { NotNumber, Negative, Number, TooLarge };

LengthKind readContentLength(const QString& text, qint64& lengthBytes)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    lengthBytes = 0;
    if (!number.match(text).hasMatch())
        return LengthKind::NotNumber;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        return text.startsWith(QLatin1Char('-')) ? LengthKind::Negative : LengthKind::TooLarge;
    if (value < 0)
        return LengthKind::Negative;
    lengthBytes = value;
    return LengthKind::Number;
}

} // namespace

WebDavClientConnection::WebDavClientConnection(QTcpSocket* socket, WebDavServer* server, QObject* parent)
    : QObject(parent)
    , socket_(socket)
    , server_(server)
    , idleTimer_(new QTimer(this))
    , maxHeadBytes_(server->limits().maxHeadBytes)
    , maxBodyBytes_(server->limits().maxBodyBytes)
{
    // Owned by the connection, so the socket lives exactly as long as the one
    // object that uses it, whatever order the server's children go in.
    socket_->setParent(this);
    // Qt stops reading from the kernel beyond this, so a client that sends
    // while a download is streamed cannot grow our memory.
    socket_->setReadBufferSize(maxHeadBytes_ + maxBodyBytes_ + 64 * 1024);
    idleTimer_->setSingleShot(true);
    idleTimer_->setInterval(server->limits().idleTimeoutMs);
    idleTimer_->start();
    connect(idleTimer_, &QTimer::timeout, this, &WebDavClientConnection::onIdleTimeout);
    connect(socket_, &QTcpSocket::readyRead, this, &WebDavClientConnection::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &WebDavClientConnection::onDisconnected);
    connect(socket_, &QTcpSocket::bytesWritten, this, &WebDavClientConnection::onBytesWritten);
    // Data that came with the connection itself is not announced again.
    if (socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &WebDavClientConnection::onReadyRead, Qt::QueuedConnection);
}

WebDavClientConnection::~WebDavClientConnection()
{
    endDownload();
    socket_->disconnect(this);
    socket_->abort(); // the socket itself goes with this object's children
}

void WebDavClientConnection::shutDown()
{
    closing_ = true;
    endDownload();
    idleTimer_->stop();
    socket_->disconnect(this);
    socket_->abort();
}

void WebDavClientConnection::onReadyRead()
{
    if (closing_ || download_)
        return; // a download in progress resumes reading when it ends
    idleTimer_->start();
    // Beyond one full request the socket keeps the rest (its read buffer is
    // bounded too) until the requests already here are answered.
    if (buffer_.size() <= maxHeadBytes_ + maxBodyBytes_)
        buffer_.append(socket_->readAll());
    server_->scheduleTurn(this);
}

void WebDavClientConnection::onDisconnected()
{
    idleTimer_->stop();
    endDownload();
    if (goneReported_)
        return;
    goneReported_ = true;
    emit disconnected();
}

void WebDavClientConnection::onBytesWritten()
{
    idleTimer_->start();
    if (download_)
        pumpDownload();
}

void WebDavClientConnection::onIdleTimeout()
{
    emit server_->logMessage(QStringLiteral("Closed idle connection: %1").arg(socket_->peerAddress().toString()));
    abortConnection();
}

void WebDavClientConnection::abortConnection()
{
    closing_ = true;
    endDownload();
    socket_->abort();
    onDisconnected(); // abort announces nothing when the socket was already gone
}

// Answers the next complete request in the buffer. The server calls it once
// per event-loop turn and connection in turn, so a burst of clients never
// holds the GUI thread for longer than one request; a pipelining client is
// scheduled again at once for what it has already sent.
void WebDavClientConnection::processNextRequest()
{
    if (closing_ || download_)
        return;
    if (buffer_.size() <= maxHeadBytes_ + maxBodyBytes_ && socket_->bytesAvailable() > 0)
        buffer_.append(socket_->readAll());
    while (!headersComplete_) {
        const qsizetype headEnd = buffer_.indexOf(kHeadEnd);
        if (headEnd < 0) {
            if (buffer_.size() > maxHeadBytes_)
                refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            return;
        }
        if (headEnd + kHeadEnd.size() > maxHeadBytes_) {
            refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            return;
        }
        if (!parseHead(headEnd) && closing_)
            return; // refused and closing; a malformed line (400) was dropped and parsing goes on
    }
    if (buffer_.size() < contentLength_)
        return;
    body_ = buffer_.left(contentLength_);
    buffer_.remove(0, contentLength_);
    processRequest();
    resetRequest();
    if (!closing_ && !download_ && !buffer_.isEmpty())
        server_->scheduleTurn(this);
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
    if (requestLine.size() < 2) {
        // The bad head is dropped, so the next request on this connection is
        // read on its own.
        sendError(400, QStringLiteral("Bad Request"));
        return false;
    }
    method_ = requestLine.at(0).toUpper();
    path_ = urlDecode(requestLine.at(1));

    headers_.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        headers_.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }

    const QString transferEncoding = headers_.value(QStringLiteral("transfer-encoding"));
    if (!transferEncoding.isEmpty() && transferEncoding.compare(QStringLiteral("identity"), Qt::CaseInsensitive) != 0) {
        // Without a length the end of the body is unknown; guessing would
        // read body bytes as the next request.
        refuseAndClose(501, QStringLiteral("Not Implemented"));
        return false;
    }
    qint64 lengthBytes = 0;
    switch (readContentLength(headers_.value(QStringLiteral("content-length"), QStringLiteral("0")), lengthBytes)) {
    case LengthKind::Negative:
        refuseAndClose(400, QStringLiteral("Bad Request"));
        return false;
    case LengthKind::TooLarge:
        refuseAndClose(413, QStringLiteral("Content Too Large"));
        return false;
    case LengthKind::NotNumber:
    case LengthKind::Number:
        break;
    }
    if (lengthBytes > maxBodyBytes_) {
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

    if (method_ == QLatin1String("OPTIONS")) {
        handleOptions(path_);
    } else if (method_ == QLatin1String("PROPFIND")) {
        const QString depthText = headers_.value(QStringLiteral("depth"), QStringLiteral("1"));
        const int depth = depthText == QLatin1String("infinity") ? 999 : depthText.toInt();
        handlePropfind(path_, depth);
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
    if (!headers.contains(QStringLiteral("Content-Length")))
        head += QStringLiteral("Content-Length: %1\r\n").arg(body.size());
    head += QStringLiteral("\r\n");
    socket_->write(head.toUtf8());
    if (!body.isEmpty())
        socket_->write(body);
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
    if (!withSlash(QFileInfo(fsPath).absoluteFilePath()).startsWith(root))
        return false;
    // A symbolic link inside the share may point anywhere: what it leads to
    // must lie in the share too.
    const QFileInfo info(fsPath);
    if (!info.exists())
        return true;
    const QString canonicalRoot = QFileInfo(server_->rootPath_).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        return false;
    return withSlash(info.canonicalFilePath()).startsWith(withSlash(canonicalRoot));
}

bool WebDavClientConnection::resolveServable(const QString& requestPath, QString& fsPath, QFileInfo& info)
{
    fsPath = resolvePath(requestPath);
    if (!isPathAllowed(fsPath)) {
        sendError(403, QStringLiteral("Forbidden"));
        return false;
    }
    // Hidden entries are never listed, so they are not served either.
    const QStringList segments = QDir::cleanPath(requestPath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool hidden = std::any_of(segments.cbegin(), segments.cend(),
                                    [](const QString& segment) { return segment.startsWith(QLatin1Char('.')); });
    info = QFileInfo(fsPath);
    if (hidden || !info.exists()) {
        sendError(404, QStringLiteral("Not Found"));
        return false;
    }
    return true;
}

QString WebDavClientConnection::urlDecode(const QString& text) const
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}
