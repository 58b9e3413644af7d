// The answers of WebDavClientConnection: OPTIONS, PROPFIND, GET and HEAD.

#include "fileserver/WebDavClientConnection.h"

#include "fileserver/WebDavServer.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QTcpSocket>
#include <QTimeZone>
#include <QUrl>

#include <sys/stat.h>

namespace {

const QString kHtmlType = QStringLiteral("text/html; charset=utf-8");

// A download keeps at most this much queued in the socket: enough to keep
// loopback and Wi-Fi busy, little enough that a hundred slow clients cost
// the recorder no more than a few hundred MiB.
constexpr qint64 kDownloadChunkBytes = 512 * 1024;
constexpr qint64 kDownloadQueuedBytes = 1024 * 1024;

// XML 1.0 forbids most control characters even as references; a file name
// holding one would make the whole listing unreadable to the client.
QString xmlText(const QString& text)
{
    QString cleaned = text;
    for (QChar& c : cleaned) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D)
            c = QChar(0xFFFD);
        else if (u == 0xFFFE || u == 0xFFFF)
            c = QChar(0xFFFD);
    }
    return cleaned.toHtmlEscaped();
}

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

bool isRegularFile(const QString& fsPath)
{
    struct stat status {};
    return ::stat(QFile::encodeName(fsPath).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

QString withTrailingSlash(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

} // namespace

QString WebDavClientConnection::getMimeType(const QString& fileName)
{
    static const QHash<QString, QString> types = {
        {QStringLiteral("wav"), QStringLiteral("audio/wav")},
        {QStringLiteral("bwf"), QStringLiteral("audio/wav")},
        {QStringLiteral("aif"), QStringLiteral("audio/aiff")},
        {QStringLiteral("aiff"), QStringLiteral("audio/aiff")},
        {QStringLiteral("mp3"), QStringLiteral("audio/mpeg")},
        {QStringLiteral("flac"), QStringLiteral("audio/flac")},
        {QStringLiteral("ogg"), QStringLiteral("audio/ogg")},
        {QStringLiteral("pdf"), QStringLiteral("application/pdf")},
        {QStringLiteral("csv"), QStringLiteral("text/csv")},
        {QStringLiteral("txt"), QStringLiteral("text/plain")},
        {QStringLiteral("xml"), QStringLiteral("application/xml")},
        {QStringLiteral("html"), QStringLiteral("text/html")},
        {QStringLiteral("htm"), QStringLiteral("text/html")},
        {QStringLiteral("jpg"), QStringLiteral("image/jpeg")},
        {QStringLiteral("jpeg"), QStringLiteral("image/jpeg")},
        {QStringLiteral("png"), QStringLiteral("image/png")},
        {QStringLiteral("gif"), QStringLiteral("image/gif")},
    };
    return types.value(QFileInfo(fileName).suffix().toLower(), QStringLiteral("application/octet-stream"));
}

QString WebDavClientConnection::formatHttpDate(const QDateTime& time)
{
    // The C locale writes English day and month names whatever the user's
    // language; HTTP dates must be in English.
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")) + QStringLiteral(" GMT");
}

QString WebDavClientConnection::encodeHrefPath(const QString& decodedPath)
{
    const QStringList segments = decodedPath.split(QLatin1Char('/'));
    QStringList encoded;
    encoded.reserve(segments.size());
    for (const QString& segment : segments)
        encoded.append(QString::fromLatin1(QUrl::toPercentEncoding(segment)));
    return encoded.join(QLatin1Char('/'));
}

void WebDavClientConnection::handleOptions(const QString& /*requestPath*/)
{
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Allow"), QStringLiteral("OPTIONS, PROPFIND, GET, HEAD"));
    headers.insert(QStringLiteral("DAV"), QStringLiteral("1"));
    headers.insert(QStringLiteral("MS-Author-Via"), QStringLiteral("DAV"));
    sendResponse(200, QStringLiteral("OK"), headers, QByteArray());
}

void WebDavClientConnection::handlePropfind(const QString& requestPath, int depth)
{
    QString fsPath;
    QFileInfo info;
    if (!resolveServable(requestPath, fsPath, info))
        return;
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/xml; charset=utf-8"));
    sendResponse(207, QStringLiteral("Multi-Status"), headers, generatePropfindResponse(requestPath, fsPath, depth).toUtf8());
}

QString WebDavClientConnection::generatePropfindResponse(const QString& requestPath, const QString& fsPath, int depth)
{
    const QFileInfo target(fsPath);
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n");
    const QString ownHref = target.isDir() ? withTrailingSlash(requestPath) : requestPath;
    xml += generateResourceXml(ownHref, target);
    if (target.isDir() && depth > 0) {
        const QString folderHref = withTrailingSlash(requestPath);
        for (const QFileInfo& entry : listFolder(fsPath))
            xml += generateResourceXml(folderHref + entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString()), entry);
    }
    xml += QStringLiteral("</D:multistatus>\n");
    return xml;
}

QString WebDavClientConnection::generateResourceXml(const QString& href, const QFileInfo& entry)
{
    QString xml = QStringLiteral("<D:response>\n");
    xml += QStringLiteral("<D:href>%1</D:href>\n").arg(xmlText(encodeHrefPath(href)));
    xml += QStringLiteral("<D:propstat>\n<D:prop>\n");
    if (entry.isDir()) {
        xml += QStringLiteral("<D:resourcetype><D:collection/></D:resourcetype>\n");
    } else {
        xml += QStringLiteral("<D:resourcetype/>\n");
        xml += QStringLiteral("<D:getcontentlength>%1</D:getcontentlength>\n").arg(entry.size());
        xml += QStringLiteral("<D:getcontenttype>%1</D:getcontenttype>\n").arg(getMimeType(entry.fileName()));
    }
    const QString name = entry.fileName().isEmpty() ? QDir(entry.absoluteFilePath()).dirName() : entry.fileName();
    xml += QStringLiteral("<D:displayname>%1</D:displayname>\n").arg(xmlText(name));
    xml += QStringLiteral("<D:getlastmodified>%1</D:getlastmodified>\n").arg(formatHttpDate(entry.lastModified()));
    const QDateTime birth = entry.fileTime(QFileDevice::FileBirthTime);
    xml += QStringLiteral("<D:creationdate>%1</D:creationdate>\n")
               .arg(birth.isValid() ? birth.toUTC().toString(Qt::ISODate) : QString());
    xml += QStringLiteral("</D:prop>\n<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n</D:response>\n");
    return xml;
}

// Folders first, then files, each by name; hidden entries and whatever leads
// out of the share (a symbolic link pointing elsewhere) are left out.
QList<QFileInfo> WebDavClientConnection::listFolder(const QString& fsPath) const
{
    QList<QFileInfo> visible;
    const QFileInfoList entries =
        QDir(fsPath).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
    for (const QFileInfo& entry : entries) {
        // Only a symbolic link can lead out of a folder that lies in the share.
        if (entry.fileName().startsWith(QLatin1Char('.')) || (entry.isSymLink() && !isPathAllowed(entry.absoluteFilePath())))
            continue;
        visible.append(entry);
    }
    return visible;
}

QByteArray WebDavClientConnection::generateIndexPage(const QString& requestPath, const QString& fsPath)
{
    // Links are absolute, so the page works whether or not the folder was
    // asked with its final "/"; names are escaped, so a file name is never markup.
    const QString folder = withTrailingSlash(requestPath);
    const QString title = requestPath.toHtmlEscaped();
    QString page = QStringLiteral("<!DOCTYPE html><html><head><title>Index of %1</title></head><body>").arg(title);
    page += QStringLiteral("<h1>Index of %1</h1><ul>").arg(title);
    if (requestPath != QLatin1String("/")) {
        QString parent = QDir::cleanPath(folder + QStringLiteral(".."));
        if (parent.isEmpty() || parent == QLatin1String("."))
            parent = QStringLiteral("/");
        page += QStringLiteral("<li><a href=\"%1\">..</a></li>").arg(encodeHrefPath(withTrailingSlash(parent)).toHtmlEscaped());
    }
    for (const QFileInfo& entry : listFolder(fsPath)) {
        const QString name = entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString());
        page += QStringLiteral("<li><a href=\"%1\">%2</a></li>")
                    .arg(encodeHrefPath(folder + name).toHtmlEscaped(), name.toHtmlEscaped());
    }
    page += QStringLiteral("</ul></body></html>");
    return page.toUtf8();
}

QMap<QString, QString> WebDavClientConnection::fileHeaders(const QFileInfo& info) const
{
    QMap<QString, QString> headers;
    headers.insert(QStringLiteral("Accept-Ranges"), QStringLiteral("bytes"));
    headers.insert(QStringLiteral("Content-Length"), QString::number(info.size()));
    headers.insert(QStringLiteral("Content-Type"), getMimeType(info.fileName()));
    headers.insert(QStringLiteral("Last-Modified"), formatHttpDate(info.lastModified()));
    return headers;
}

void WebDavClientConnection::handleGet(const QString& requestPath)
{
    QString fsPath;
    QFileInfo info;
    if (!resolveServable(requestPath, fsPath, info))
        return;
    if (info.isDir()) {
        QMap<QString, QString> headers;
        headers.insert(QStringLiteral("Content-Type"), kHtmlType);
        sendResponse(200, QStringLiteral("OK"), headers, generateIndexPage(requestPath, fsPath));
        return;
    }
    // Only regular files: opening a FIFO would block the GUI thread.
    auto* file = new QFile(fsPath, this);
    if (!isRegularFile(fsPath) || !file->open(QIODevice::ReadOnly)) {
        delete file;
        sendError(500, QStringLiteral("Internal Server Error"));
        return;
    }
    const qint64 sizeBytes = file->size();
    QMap<QString, QString> headers = fileHeaders(info);
    headers.insert(QStringLiteral("Content-Length"), QString::number(sizeBytes));
    ByteRange range{0, sizeBytes};
    switch (parseRange(headers_.value(QStringLiteral("range")), sizeBytes, range)) {
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
    downloadName_ = requestPath;
    startDownload(file, range.firstByte, range.lengthBytes);
}

void WebDavClientConnection::handleHead(const QString& requestPath)
{
    QString fsPath;
    QFileInfo info;
    if (!resolveServable(requestPath, fsPath, info))
        return;
    if (info.isDir()) {
        QMap<QString, QString> headers;
        headers.insert(QStringLiteral("Content-Type"), kHtmlType);
        sendResponse(200, QStringLiteral("OK"), headers, QByteArray());
        return;
    }
    sendResponse(200, QStringLiteral("OK"), fileHeaders(info), QByteArray());
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
    while (download_ && socket_->bytesToWrite() < kDownloadQueuedBytes) {
        const qint64 wanted = std::min(kDownloadChunkBytes, downloadRemainingBytes_);
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
            server_->scheduleTurn(this);
        }
    }
}

void WebDavClientConnection::endDownload()
{
    delete download_;
    download_ = nullptr;
    downloadRemainingBytes_ = 0;
}
