#include "fileserver/WebDavClientConnection.h"

#include "fileserver/WebDavServer.h"

#include <QFile>
#include <QThreadPool>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace {

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

// Where the head at the front of `buffer` ends: its first empty line. A
// line may end in LF alone (RFC 9112 2.2 lets a server take it), so a head
// typed by hand is answered at once. -1 while incomplete; `consumedBytes`
// covers the empty line.
qsizetype findHeadEnd(const QByteArray& buffer, qsizetype& consumedBytes)
{
    const qsizetype lf = buffer.indexOf("\n\n");
    const qsizetype crlf = buffer.indexOf("\n\r\n");
    if (lf < 0 && crlf < 0)
        return -1;
    if (crlf < 0 || (lf >= 0 && lf < crlf)) {
        consumedBytes = lf + 2;
        return lf;
    }
    consumedBytes = crlf + 3;
    return crlf;
}

// RFC 9110 5.6.2.
bool isToken(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
    });
}

// "HTTP/" DIGIT "." DIGIT; false when malformed.
bool readVersion(const QByteArray& text, int& major, int& minor)
{
    if (text.size() != 8 || !text.startsWith("HTTP/") || text.at(6) != '.')
        return false;
    const char a = text.at(5);
    const char b = text.at(7);
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return false;
    major = a - '0';
    minor = b - '0';
    return true;
}

// Fields a request may carry once only: a second Host or Authorization
// would let two readers of the same head disagree on whom it is for.
bool isSingletonField(const QByteArray& lowerName)
{
    return lowerName == "host" || lowerName == "authorization";
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
    lastTraffic_.start();
    lastDrain_.start();
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

qint64 WebDavClientConnection::socketBacklogBytes() const
{
    return socket_->bytesToWrite();
}

bool WebDavClientConnection::hasRequestInHand() const
{
    if (headersComplete_ || waitingListing_ || isBusy() || socket_->bytesToWrite() > 0)
        return true;
    // The tail of an answer may still sit in the kernel, unread or unacknowledged:
    // closing now would cut a download the client is still taking.
    int kernelQueuedBytes = 0;
    const qintptr fd = socket_->socketDescriptor();
    return fd >= 0 && ::ioctl(static_cast<int>(fd), SIOCOUTQ, &kernelQueuedBytes) == 0 && kernelQueuedBytes > 0;
}

qint64 WebDavClientConnection::stalledMs() const
{
    return unsentBytes() > 0 ? lastDrain_.elapsed() : 0;
}

bool WebDavClientConnection::isBusy() const
{
    return download_ || listing_ || waitingListing_ || !replyBody_.isEmpty()
        || socket_->bytesToWrite() > limits_.maxUnsentBytes;
}

qint64 WebDavClientConnection::unsentCapBytes() const
{
    return server_->socketBacklogBytes() < limits_.maxTotalUnsentBytes ? limits_.maxUnsentBytes
                                                                       : limits_.unsentShareBytes;
}

void WebDavClientConnection::answerHandedOver()
{
    if (closing_)
        return;
    if (holdsListingPlace_) {
        holdsListingPlace_ = false;
        server_->releaseListingPlace(this);
    }
    if (closeAfterResponse_) {
        // Flushes the answer, then closes: a client that reads to the end of
        // the connection is not left waiting for the idle time.
        closing_ = true;
        headTimer_->stop();
        buffer_.clear();
        socket_->disconnectFromHost();
        return;
    }
    if (!isBusy() && (!buffer_.isEmpty() || socket_->bytesAvailable() > 0))
        server_->scheduleTurn(this);
}

void WebDavClientConnection::onReadyRead()
{
    if (closing_)
        return;
    idleTimer_->start();
    lastTraffic_.restart();
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
    lastTraffic_.restart();
    lastDrain_.restart();
    if (download_)
        pumpDownload();
    else if (!replyBody_.isEmpty())
        pumpReplyBody();
    // The backlog drained: requests that waited behind it are read again.
    if (!closing_ && !closeAfterResponse_ && !isBusy() && (!buffer_.isEmpty() || socket_->bytesAvailable() > 0))
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
    if (!headersComplete_) {
        // Nothing after an answer the client asked to be the last.
        if (closeAfterResponse_)
            return;
        // Not busy: the previous request is fully answered, and a refusal of
        // the next head before its method is known carries its body.
        answeringHead_ = false;
    }
    readRequestBytes();
    if (!headersComplete_) {
        // RFC 9112 2.2: empty lines before a request line are ignored (a
        // client may end a body with an extra CRLF).
        while (buffer_.startsWith("\r\n") || buffer_.startsWith('\n'))
            buffer_.remove(0, buffer_.startsWith('\n') ? 1 : 2);
        qsizetype consumedBytes = 0;
        const qsizetype headEnd = findHeadEnd(buffer_, consumedBytes);
        if (headEnd < 0) {
            if (buffer_.size() > limits_.maxHeadBytes)
                refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            else if (!buffer_.isEmpty() && !headTimer_->isActive())
                headTimer_->start();
            return;
        }
        headTimer_->stop();
        if (consumedBytes > limits_.maxHeadBytes) {
            refuseAndClose(431, QStringLiteral("Request Header Fields Too Large"));
            return;
        }
        const QByteArray head = buffer_.left(headEnd);
        buffer_.remove(0, consumedBytes);
        if (!parseHead(head))
            return; // refused and closing
        readRequestBytes();
        if (buffer_.size() < contentLength_
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
    if (!download_ && !listing_ && !waitingListing_ && replyBody_.isEmpty())
        answerHandedOver();
}

// Reads only until the buffer holds the request being parsed: pipelined
// requests wait in the socket, whose buffer is bounded, so ours never holds
// (and never moves) more than one request and a piece.
void WebDavClientConnection::readRequestBytes()
{
    const auto complete = [this] {
        if (headersComplete_)
            return buffer_.size() >= contentLength_;
        qsizetype consumedBytes = 0;
        return buffer_.size() > limits_.maxHeadBytes || findHeadEnd(buffer_, consumedBytes) >= 0;
    };
    while (socket_->bytesAvailable() > 0 && !complete())
        buffer_.append(socket_->read(kReadChunkBytes));
}

// Parses a head (without its empty line). False when it was refused: the
// answer is sent and the connection closes, because after a head that two
// readers could frame differently nothing that follows can be trusted.
bool WebDavClientConnection::parseHead(const QByteArray& head)
{
    const auto refuse = [this] {
        refuseAndClose(400, QStringLiteral("Bad Request"));
        return false;
    };
    answeringHead_ = false;
    QByteArrayList lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        // A CR alone or a NUL is read as a line end by some and not by others.
        if (line.contains('\r') || line.contains('\0'))
            return refuse();
    }
    // Exactly method SP target SP version: a doubled blank shifts every part.
    const QByteArrayList requestLine = lines.first().split(' ');
    if (requestLine.size() != 3 || !isToken(requestLine.at(0)))
        return refuse();
    int major = 0;
    int minor = 0;
    if (!readVersion(requestLine.at(2), major, minor))
        return refuse();
    if (major != 1) {
        refuseAndClose(505, QStringLiteral("HTTP Version Not Supported"));
        return false;
    }
    method_ = QString::fromLatin1(requestLine.at(0)).toUpper();
    answeringHead_ = method_ == QLatin1String("HEAD");
    if (!parseTarget(requestLine.at(1), path_))
        return refuse();

    headers_.clear();
    QStringList contentLengths;
    QByteArrayList seen;
    bool askedClose = false;
    bool askedKeepAlive = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        // A folded line (obsolete) continues the previous field for some
        // readers and starts a new one for others.
        if (line.startsWith(' ') || line.startsWith('\t'))
            return refuse();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        // No blank before the colon (RFC 9112 5.1): "Content-Length : 5"
        // must not be a length for one reader and nothing for another.
        const QByteArray rawName = line.left(colon);
        if (!isToken(rawName))
            return refuse();
        const QByteArray name = rawName.toLower();
        if (isSingletonField(name)) {
            if (seen.contains(name))
                return refuse();
            seen.append(name);
        }
        const QString value = QString::fromUtf8(line.mid(colon + 1)).trimmed();
        if (name == "content-length")
            contentLengths.append(value);
        if (name == "connection") {
            for (const QString& option : value.split(QLatin1Char(','))) {
                askedClose = askedClose || option.trimmed().compare(QStringLiteral("close"), Qt::CaseInsensitive) == 0;
                askedKeepAlive = askedKeepAlive || option.trimmed().compare(QStringLiteral("keep-alive"), Qt::CaseInsensitive) == 0;
            }
        }
        headers_.insert(QString::fromLatin1(name), value);
    }
    // HTTP/1.0 closes after each answer unless the client asked otherwise,
    // and knows no interim answers (RFC 9110 15.2).
    if (askedClose || (minor == 0 && !askedKeepAlive))
        closeAfterResponse_ = true;
    if (minor == 0)
        headers_.remove(QStringLiteral("expect"));

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
        return refuse();
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
    // RFC 9112 3.2: an HTTP/1.1 request names its host.
    if (minor >= 1 && !seen.contains("host"))
        return refuse();
    contentLength_ = static_cast<int>(lengthBytes);
    headersComplete_ = true;
    return true;
}

// The path a request target names: origin form ("/a/b?q"), absolute form
// ("http://host:port/a/b", which RFC 9112 3.2.2 requires a server to take)
// or "*" for OPTIONS. The query is not part of the path.
bool WebDavClientConnection::parseTarget(const QByteArray& target, QByteArray& path) const
{
    QByteArray rest = target;
    if (target == "*") {
        if (method_ != QLatin1String("OPTIONS"))
            return false;
        path = "*";
        return true;
    }
    const qsizetype schemeEnd = target.indexOf("://");
    if (schemeEnd > 0) {
        const QByteArray scheme = target.left(schemeEnd).toLower();
        if (scheme != "http" && scheme != "https")
            return false;
        const qsizetype pathStart = target.indexOf('/', schemeEnd + 3);
        const qsizetype queryStart = target.indexOf('?', schemeEnd + 3);
        if (pathStart < 0 || (queryStart >= 0 && queryStart < pathStart))
            rest = "/" + (queryStart >= 0 ? target.mid(queryStart) : QByteArray());
        else
            rest = target.mid(pathStart);
    }
    if (!rest.startsWith('/'))
        return false;
    const qsizetype query = rest.indexOf('?');
    if (query >= 0)
        rest.truncate(query);
    path = urlDecode(rest);
    // A NUL ends the name for the kernel, so "a.txt%00.wav" would be a.txt.
    return !path.contains('\0');
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
    emit server_->logMessage(QStringLiteral("%1 %2").arg(method_, WebDavListing::readableName(path_)));

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

QByteArray WebDavClientConnection::resolvePath(const QByteArray& requestPath) const
{
    QByteArrayList segments;
    for (const QByteArray& segment : requestPath.split('/')) {
        if (segment.isEmpty() || segment == ".")
            continue;
        if (segment == "..") {
            if (segments.isEmpty())
                return {};
            segments.removeLast();
            continue;
        }
        segments.append(segment);
    }
    const QByteArray root = QFile::encodeName(server_->rootPath_);
    return segments.isEmpty() ? root : root + '/' + segments.join('/');
}

bool WebDavClientConnection::resolveServable(const QByteArray& requestPath, QByteArray& fsPath,
                                             WebDavListing::Entry& entry)
{
    fsPath = resolvePath(requestPath);
    if (fsPath.isEmpty()) {
        sendError(403, QStringLiteral("Forbidden"));
        return false;
    }
    // Hidden entries are never listed, so they are not served either, nor
    // what is neither file nor folder (a FIFO would block its reader). A
    // symbolic link that leads out of the share is answered exactly as a
    // missing name, so that a client cannot learn what lies outside.
    const QByteArrayList segments = requestPath.split('/');
    const bool hidden = std::any_of(segments.cbegin(), segments.cend(), [](const QByteArray& segment) {
        return segment.startsWith('.') && segment != "." && segment != "..";
    });
    if (hidden || !WebDavListing::readEntry(fsPath, entry)
        || !WebDavListing::leadsInto(fsPath, QFile::encodeName(server_->rootPath_))) {
        sendError(404, QStringLiteral("Not Found"));
        return false;
    }
    return true;
}

QByteArray WebDavClientConnection::urlDecode(const QByteArray& text)
{
    return QByteArray::fromPercentEncoding(text);
}
