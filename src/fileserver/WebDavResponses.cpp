// The answers of WebDavClientConnection: OPTIONS, PROPFIND, GET and HEAD.

#include "fileserver/WebDavClientConnection.h"

#include "fileserver/WebDavServer.h"

#include <QDateTime>
#include <QFile>
#include <QPromise>
#include <QThreadPool>
#include <QLocale>
#include <QTcpSocket>
#include <QTimeZone>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kHtmlType = QStringLiteral("text/html; charset=utf-8");

// A download reads the file in pieces of at most this size and keeps at most
// the connection's unsent bound queued in the socket.
constexpr qint64 kDownloadChunkBytes = 512 * 1024;
// A long listing is handed over in pieces of this size.
constexpr qsizetype kReplyChunkBytes = 256 * 1024;

struct ByteRange {
    qint64 firstByte = 0;
    qint64 lengthBytes = 0;
};

enum class RangeKind { Whole, Partial, Unsatisfiable };

// One "bytes=first-last", "bytes=first-" or "bytes=-suffix" range. Anything
// else (several ranges, other units, bad syntax) is served as the whole file,
// which a client must accept.
RangeKind parseRange(const QString& header, qint64 sizeBytes, ByteRange& range)
{
    if (header.isEmpty())
        return RangeKind::Whole;
    const QString prefix = QStringLiteral("bytes=");
    if (!header.startsWith(prefix, Qt::CaseInsensitive))
        return RangeKind::Whole;
    const QString rangeText = header.mid(prefix.size()).trimmed();
    if (rangeText.contains(QLatin1Char(',')))
        return RangeKind::Whole;
    const qsizetype dash = rangeText.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return RangeKind::Whole;
    const QString firstText = rangeText.left(dash).trimmed();
    const QString lastText = rangeText.mid(dash + 1).trimmed();
    const auto readNumber = [](const QString& text, qint64& value) {
        if (text.isEmpty() || !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
            return false;
        bool ok = false;
        value = text.toLongLong(&ok);
        return ok;
    };
    qint64 first = 0;
    qint64 last = 0;
    if (firstText.isEmpty()) {
        qint64 suffix = 0;
        if (!readNumber(lastText, suffix))
            return RangeKind::Whole;
        if (suffix == 0 || sizeBytes == 0)
            return RangeKind::Unsatisfiable;
        range.firstByte = std::max<qint64>(0, sizeBytes - suffix);
        range.lengthBytes = sizeBytes - range.firstByte;
        return RangeKind::Partial;
    }
    if (!readNumber(firstText, first))
        return RangeKind::Whole;
    if (lastText.isEmpty())
        last = sizeBytes - 1;
    else if (!readNumber(lastText, last))
        return RangeKind::Whole;
    if (first >= sizeBytes)
        return RangeKind::Unsatisfiable;
    if (last < first)
        return RangeKind::Whole;
    last = std::min(last, sizeBytes - 1);
    range.firstByte = first;
    range.lengthBytes = last - first + 1;
    return RangeKind::Partial;
}

// The entity tag of a file: its inode, size and modification time to the
// nanosecond, so a take rewritten or grown within the same second gets a new one.
QByteArray entityTag(const struct stat& status, qint64 modifiedNanos)
{
    return '"' + QByteArray::number(static_cast<qulonglong>(status.st_ino), 16) + '-'
         + QByteArray::number(static_cast<qint64>(status.st_size), 16) + '-' + QByteArray::number(modifiedNanos, 16) + '"';
}

constexpr qint64 kNanosPerSecond = 1000000000LL;

qint64 modifiedNanosOf(const struct stat& status)
{
    return static_cast<qint64>(status.st_mtim.tv_sec) * kNanosPerSecond + status.st_mtim.tv_nsec;
}

qint64 modifiedSecs(qint64 modifiedNanos)
{
    return modifiedNanos >= 0 ? modifiedNanos / kNanosPerSecond : -((-modifiedNanos + kNanosPerSecond - 1) / kNanosPerSecond);
}

// RFC 9110 8.8.3.2: the weak comparison ignores a "W/" prefix on either side.
bool entityTagListMatches(const QString& header, const QByteArray& tag)
{
    if (header.trimmed() == QLatin1String("*"))
        return !tag.isEmpty();
    const QString own = QString::fromLatin1(tag);
    const QStringList candidates = header.split(QLatin1Char(','));
    return std::any_of(candidates.cbegin(), candidates.cend(), [&](QString candidate) {
        candidate = candidate.trimmed();
        if (candidate.startsWith(QLatin1String("W/")))
            candidate.remove(0, 2);
        return !own.isEmpty() && candidate == own;
    });
}

// IMF-fixdate only ("Sun, 06 Nov 1994 08:49:37 GMT"), the form every current
// client sends; other forms leave the condition unevaluated, which is safe.
// A date in the future is no date the server gave (RFC 9110 13.1.3), so it
// is ignored too.
QDateTime parseHttpDate(const QString& text)
{
    QDateTime time = QLocale::c().toDateTime(text.trimmed(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!time.isValid())
        return {};
    time.setTimeZone(QTimeZone::utc());
    return time > QDateTime::currentDateTimeUtc() ? QDateTime() : time;
}

} // namespace

QString WebDavClientConnection::getMimeType(const QString& fileName)
{
    return WebDavListing::mimeType(fileName);
}

QString WebDavClientConnection::formatHttpDate(const QDateTime& time)
{
    return QString::fromLatin1(WebDavListing::httpDate(time.toSecsSinceEpoch()));
}

void WebDavClientConnection::handleOptions(const QByteArray& /*requestPath*/)
{
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Allow"), QStringLiteral("OPTIONS, PROPFIND, GET, HEAD"));
    headers.insert(QStringLiteral("DAV"), QStringLiteral("1"));
    headers.insert(QStringLiteral("MS-Author-Via"), QStringLiteral("DAV"));
    sendResponse(200, QStringLiteral("OK"), headers, QByteArray());
}

void WebDavClientConnection::handlePropfind(const QByteArray& requestPath)
{
    // RFC 4918 9.1: a whole tree in one answer is what a read-only recorder
    // must not build, so infinity is refused with its precondition; a value
    // that is no depth at all is a bad request. No Depth header lists one level.
    const QString depthText = headers_.value(QStringLiteral("depth"), QStringLiteral("1"));
    if (depthText.compare(QStringLiteral("infinity"), Qt::CaseInsensitive) == 0) {
        QMap<QString, QString> headers;
        headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/xml; charset=utf-8"));
        sendResponse(403, QStringLiteral("Forbidden"), headers,
                     QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                       "<D:error xmlns:D=\"DAV:\">\n<D:propfind-finite-depth/>\n</D:error>\n"));
        return;
    }
    if (depthText != QLatin1String("0") && depthText != QLatin1String("1")) {
        sendError(400, QStringLiteral("Bad Request"));
        return;
    }
    WebDavListing::Query query;
    if (!WebDavListing::parseQuery(body_, query)) {
        sendError(400, QStringLiteral("Bad Request"));
        return;
    }
    QByteArray fsPath;
    WebDavListing::Entry entry;
    if (!resolveServable(requestPath, fsPath, entry))
        return;
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/xml; charset=utf-8"));
    startListing(207, QStringLiteral("Multi-Status"), headers,
                 [requestPath, fsPath, rootPath = QFile::encodeName(server_->rootPath_), depth = depthText.toInt(),
                  query](const WebDavListing::CancelCheck& canceled) {
                     return WebDavListing::multistatus(requestPath, fsPath, rootPath, depth, query, canceled);
                 });
}

// GET and HEAD of a folder give the same index page; HEAD only leaves out its bytes.
void WebDavClientConnection::answerFolder(const QByteArray& requestPath, const QByteArray& fsPath)
{
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Content-Type"), kHtmlType);
    startListing(200, QStringLiteral("OK"), headers,
                 [requestPath, fsPath, rootPath = QFile::encodeName(server_->rootPath_)](const WebDavListing::CancelCheck& canceled) {
                     return WebDavListing::indexPage(requestPath, fsPath, rootPath, canceled);
                 });
}

QMap<QString, QString> WebDavClientConnection::fileHeaders(const QByteArray& requestPath, const FileState& state) const
{
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Accept-Ranges"), QStringLiteral("bytes"));
    headers.insert(QStringLiteral("Content-Length"), QString::number(state.sizeBytes));
    headers.insert(QStringLiteral("Content-Type"), getMimeType(QString::fromUtf8(requestPath)));
    headers.insert(QStringLiteral("Last-Modified"), QString::fromLatin1(WebDavListing::httpDate(modifiedSecs(state.modifiedNanos))));
    if (!state.entityTag.isEmpty())
        headers.insert(QStringLiteral("ETag"), QString::fromLatin1(state.entityTag));
    return headers;
}

// RFC 9110 13.2.2: If-None-Match decides when present, If-Modified-Since only
// without it.
bool WebDavClientConnection::answerNotModified(const FileState& state)
{
    bool current = false;
    if (headers_.contains(QStringLiteral("if-none-match"))) {
        current = entityTagListMatches(headers_.value(QStringLiteral("if-none-match")), state.entityTag);
    } else if (headers_.contains(QStringLiteral("if-modified-since"))) {
        const QDateTime since = parseHttpDate(headers_.value(QStringLiteral("if-modified-since")));
        current = since.isValid() && modifiedSecs(state.modifiedNanos) <= since.toSecsSinceEpoch();
    }
    if (!current)
        return false;
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Last-Modified"), QString::fromLatin1(WebDavListing::httpDate(modifiedSecs(state.modifiedNanos))));
    if (!state.entityTag.isEmpty())
        headers.insert(QStringLiteral("ETag"), QString::fromLatin1(state.entityTag));
    sendResponse(304, QStringLiteral("Not Modified"), headers, QByteArray());
    return true;
}

// If-Range (RFC 9110 13.1.5): a range of a file that changed since the
// client's part would splice old and new bytes, so it gets the whole file.
// An entity tag must match strongly. A date names one version only when the
// file is at least a second older than it (RFC 9110 8.8.2.2): a file written
// twice within one second has two versions under the same date.
bool WebDavClientConnection::rangeStillValid(const FileState& state) const
{
    const QString ifRange = headers_.value(QStringLiteral("if-range"));
    if (ifRange.isEmpty())
        return true;
    if (ifRange.startsWith(QLatin1Char('"')))
        return ifRange == QString::fromLatin1(state.entityTag);
    const QDateTime date = parseHttpDate(ifRange);
    return date.isValid() && state.modifiedNanos + kNanosPerSecond <= date.toSecsSinceEpoch() * kNanosPerSecond;
}

void WebDavClientConnection::handleGet(const QByteArray& requestPath)
{
    QByteArray fsPath;
    WebDavListing::Entry entry;
    if (!resolveServable(requestPath, fsPath, entry))
        return;
    if (entry.isDir) {
        answerFolder(requestPath, fsPath);
        return;
    }
    // Without blocking: a name that became a FIFO since the check would
    // hold the GUI thread in open. What is opened is checked again.
    const int fd = ::open(fsPath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        sendError(500, QStringLiteral("Internal Server Error"));
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        sendError(404, QStringLiteral("Not Found"));
        return;
    }
    auto* file = new QFile(this);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        delete file;
        sendError(500, QStringLiteral("Internal Server Error"));
        return;
    }
    // The validators describe the file as opened: a take replaced after this
    // point is still served whole under the old tag, never spliced.
    const qint64 modifiedNanos = modifiedNanosOf(status);
    const FileState state{static_cast<qint64>(status.st_size), modifiedNanos, entityTag(status, modifiedNanos)};
    if (answerNotModified(state)) {
        delete file;
        return;
    }
    const qint64 sizeBytes = state.sizeBytes;
    QMap<QString, QString> headers = fileHeaders(requestPath, state);
    ByteRange range{0, sizeBytes};
    const RangeKind kind = rangeStillValid(state) ? parseRange(headers_.value(QStringLiteral("range")), sizeBytes, range)
                                                  : RangeKind::Whole;
    switch (kind) {
    case RangeKind::Whole:
        range = ByteRange{0, sizeBytes};
        sendResponse(200, QStringLiteral("OK"), headers, QByteArray());
        break;
    case RangeKind::Partial:
        headers.insert(QStringLiteral("Content-Length"), QString::number(range.lengthBytes));
        headers.insert(QStringLiteral("Content-Range"), QStringLiteral("bytes %1-%2/%3")
                                                            .arg(range.firstByte)
                                                            .arg(range.firstByte + range.lengthBytes - 1)
                                                            .arg(sizeBytes));
        sendResponse(206, QStringLiteral("Partial Content"), headers, QByteArray());
        break;
    case RangeKind::Unsatisfiable: {
        delete file;
        QMap<QString, QString> rangeHeaders;
        rangeHeaders.insert(QStringLiteral("Content-Range"), QStringLiteral("bytes */%1").arg(sizeBytes));
        sendError(416, QStringLiteral("Range Not Satisfiable"), rangeHeaders);
        return;
    }
    }
    downloadName_ = WebDavListing::readableName(requestPath);
    startDownload(file, range.firstByte, range.lengthBytes);
}

void WebDavClientConnection::handleHead(const QByteArray& requestPath)
{
    QByteArray fsPath;
    WebDavListing::Entry entry;
    if (!resolveServable(requestPath, fsPath, entry))
        return;
    if (entry.isDir) {
        answerFolder(requestPath, fsPath);
        return;
    }
    // The file is not opened: HEAD reports what the file system says.
    struct stat status {};
    if (::stat(fsPath.constData(), &status) != 0 || !S_ISREG(status.st_mode)) {
        sendError(404, QStringLiteral("Not Found"));
        return;
    }
    const qint64 modifiedNanos = modifiedNanosOf(status);
    const FileState state{static_cast<qint64>(status.st_size), modifiedNanos, entityTag(status, modifiedNanos)};
    if (!answerNotModified(state))
        sendResponse(200, QStringLiteral("OK"), fileHeaders(requestPath, state), QByteArray());
}

void WebDavClientConnection::startListing(int statusCode, const QString& statusText,
                                          const QMap<QString, QString>& headers, ListingBuild build)
{
    listingReply_ = ListingReply{statusCode, statusText, headers};
    waitingListing_ = std::move(build);
    // Held until the answer is handed to the socket whole (answerHandedOver)
    // or the connection goes (the server forgets it then).
    if (server_->acquireListingPlace(this))
        startWaitingListing();
}

void WebDavClientConnection::startWaitingListing()
{
    if (!waitingListing_ || closing_) {
        server_->releaseListingPlace(this); // nothing left to list: the place goes to the next
        return;
    }
    holdsListingPlace_ = true;
    ListingBuild build = std::move(waitingListing_);
    waitingListing_ = nullptr;
    lastDrain_.restart();
    listing_ = new QFutureWatcher<QByteArray>(this);
    connect(listing_, &QFutureWatcherBase::finished, this, &WebDavClientConnection::onListingReady);
    // The promise is shared with the job only: the job reads nothing of the
    // connection, and a cancel from the GUI thread reaches it through the future.
    auto promise = std::make_shared<QPromise<QByteArray>>();
    listing_->setFuture(promise->future());
    promise->start();
    server_->listingPool_->start([promise, build = std::move(build)] {
        promise->addResult(build([&promise] { return promise->isCanceled(); }));
        promise->finish();
    });
}

void WebDavClientConnection::cancelListing()
{
    waitingListing_ = nullptr;
    if (!listing_)
        return;
    listing_->disconnect(this);
    listing_->cancel();
    listing_->deleteLater();
    listing_ = nullptr;
}

void WebDavClientConnection::onListingReady()
{
    const QFuture<QByteArray> future = listing_->future();
    const QByteArray body = future.resultCount() > 0 ? future.result() : QByteArray();
    listing_->deleteLater();
    listing_ = nullptr;
    if (closing_)
        return;
    lastDrain_.restart();
    // Empty only when the target vanished between the check and the listing.
    if (body.isEmpty())
        sendError(404, QStringLiteral("Not Found"));
    else
        sendResponse(listingReply_.statusCode, listingReply_.statusText, listingReply_.headers, body);
    listingReply_ = ListingReply();
    if (replyBody_.isEmpty())
        answerHandedOver();
}

void WebDavClientConnection::startDownload(QFile* file, qint64 offsetBytes, qint64 lengthBytes)
{
    if (lengthBytes <= 0 || !file->seek(offsetBytes)) {
        delete file;
        if (lengthBytes > 0)
            abortConnection();
        return;
    }
    download_ = file;
    downloadRemainingBytes_ = lengthBytes;
    pumpDownload();
}

// Tops the socket's queue up from the file; called again as the socket drains.
void WebDavClientConnection::pumpDownload()
{
    qint64 roomBytes = 0;
    while (download_ && (roomBytes = unsentCapBytes() - socket_->bytesToWrite()) > 0) {
        const qint64 wanted = std::min({kDownloadChunkBytes, downloadRemainingBytes_, roomBytes});
        const QByteArray chunk = download_->read(wanted);
        if (chunk.size() != wanted) {
            // The file shrank (or failed) after its length was promised: the
            // only honest end is to cut the connection, so the client sees a
            // short transfer instead of a complete-looking wrong file.
            emit server_->logMessage(QStringLiteral("Download ended early: %1 could not be read to its end").arg(downloadName_));
            abortConnection();
            return;
        }
        socket_->write(chunk);
        downloadRemainingBytes_ -= wanted;
        if (downloadRemainingBytes_ == 0) {
            endDownload();
            // What the client sent meanwhile is answered on a later turn.
            answerHandedOver();
        }
    }
}

void WebDavClientConnection::endDownload()
{
    delete download_;
    download_ = nullptr;
    downloadRemainingBytes_ = 0;
}

// Hands a long answer to the socket as it drains; the next request waits.
void WebDavClientConnection::pumpReplyBody()
{
    qint64 roomBytes = 0;
    while (!replyBody_.isEmpty() && (roomBytes = unsentCapBytes() - socket_->bytesToWrite()) > 0) {
        const qsizetype chunk = std::min<qsizetype>({kReplyChunkBytes, replyBody_.size() - replySentBytes_, roomBytes});
        socket_->write(replyBody_.constData() + replySentBytes_, chunk);
        replySentBytes_ += chunk;
        if (replySentBytes_ == replyBody_.size()) {
            replyBody_.clear();
            replySentBytes_ = 0;
            answerHandedOver();
        }
    }
}
