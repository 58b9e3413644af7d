#include "fileserver/WebDavListing.h"

#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kDavNamespace = QStringLiteral("DAV:");

// The live properties every entry has, in the order an allprop answer lists
// them; the two content properties exist for files only.
enum class Prop { ResourceType, ContentLength, ContentType, DisplayName, LastModified, CreationDate };
struct PropName {
    Prop prop;
    const char* name;
};
constexpr PropName kProps[] = {
    {Prop::ResourceType, "resourcetype"},   {Prop::ContentLength, "getcontentlength"},
    {Prop::ContentType, "getcontenttype"},  {Prop::DisplayName, "displayname"},
    {Prop::LastModified, "getlastmodified"}, {Prop::CreationDate, "creationdate"},
};

bool applies(Prop prop, const WebDavListing::Entry& entry)
{
    return !entry.isDir || (prop != Prop::ContentLength && prop != Prop::ContentType);
}

void appendNumber(QByteArray& out, qint64 value, int width = 0)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    for (qsizetype pad = width - (end - digits); pad > 0; --pad)
        out += '0';
    out.append(digits, end - digits);
}

struct CivilTime {
    qint64 year;
    int month; // 1-12
    int day;
    int weekday; // 0 = Sunday
    int hour;
    int minute;
    int second;
};

// Days since 1970-01-01 to the proleptic Gregorian calendar (H. Hinnant's
// civil_from_days), so that thousands of dates cost no time-zone lookups.
CivilTime civilTime(qint64 secsSinceEpoch)
{
    qint64 days = secsSinceEpoch / 86400;
    qint64 secs = secsSinceEpoch % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    CivilTime t{};
    t.weekday = static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    t.hour = static_cast<int>(secs / 3600);
    t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    return t;
}

void appendClock(QByteArray& out, const CivilTime& t)
{
    appendNumber(out, t.hour, 2);
    out += ':';
    appendNumber(out, t.minute, 2);
    out += ':';
    appendNumber(out, t.second, 2);
}

QByteArray isoDate(qint64 secsSinceEpoch)
{
    const CivilTime t = civilTime(secsSinceEpoch);
    QByteArray out;
    appendNumber(out, t.year, 4);
    out += '-';
    appendNumber(out, t.month, 2);
    out += '-';
    appendNumber(out, t.day, 2);
    out += 'T';
    appendClock(out, t);
    out += 'Z';
    return out;
}

// XML 1.0 forbids most control characters even as references, and an HTML
// page with them is not well-formed either: a file name holding one would
// make the whole listing unreadable to the client.
bool isUnwritable(char16_t u)
{
    return (u < 0x20 && u != 0x09) || u == 0x7F || u == 0xFFFE || u == 0xFFFF;
}

void appendXmlText(QByteArray& out, const QString& text)
{
    const auto needsCare = [](QChar c) {
        const char16_t u = c.unicode();
        return isUnwritable(u) || u == u'&' || u == u'<' || u == u'>' || u == u'"';
    };
    if (std::none_of(text.cbegin(), text.cend(), needsCare)) {
        out += text.toUtf8(); // the common name, written as it is
        return;
    }
    QString cleaned = text;
    for (QChar& c : cleaned) {
        if (isUnwritable(c.unicode()))
            c = QChar(0xFFFD);
    }
    out += cleaned.toHtmlEscaped().toUtf8();
}

QByteArray xmlText(const QString& text)
{
    QByteArray out;
    appendXmlText(out, text);
    return out;
}

QByteArray withTrailingSlash(const QByteArray& path)
{
    return path.endsWith('/') ? path : path + '/';
}

bool fillEntry(const struct statx& status, WebDavListing::Entry& entry)
{
    if (!S_ISDIR(status.stx_mode) && !S_ISREG(status.stx_mode))
        return false;
    entry.isDir = S_ISDIR(status.stx_mode);
    entry.sizeBytes = static_cast<qint64>(status.stx_size);
    entry.modifiedSecs = status.stx_mtime.tv_sec;
    entry.birthSecs = (status.stx_mask & STATX_BTIME) ? status.stx_btime.tv_sec : -1;
    return true;
}

// About what one entry of an allprop answer takes.
constexpr qsizetype kResponseBytesEstimate = 640;

constexpr unsigned kStatxFields = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_BTIME;

void appendPropValue(QByteArray& xml, Prop prop, const WebDavListing::Entry& entry)
{
    switch (prop) {
    case Prop::ResourceType:
        xml += entry.isDir ? "<D:resourcetype><D:collection/></D:resourcetype>\n" : "<D:resourcetype/>\n";
        break;
    case Prop::ContentLength:
        xml += "<D:getcontentlength>";
        appendNumber(xml, entry.sizeBytes);
        xml += "</D:getcontentlength>\n";
        break;
    case Prop::ContentType:
        xml += "<D:getcontenttype>";
        xml += WebDavListing::mimeType(QString::fromUtf8(entry.name)).toUtf8();
        xml += "</D:getcontenttype>\n";
        break;
    case Prop::DisplayName:
        xml += "<D:displayname>";
        appendXmlText(xml, QString::fromUtf8(entry.name));
        xml += "</D:displayname>\n";
        break;
    case Prop::LastModified:
        xml += "<D:getlastmodified>";
        xml += WebDavListing::httpDate(entry.modifiedSecs);
        xml += "</D:getlastmodified>\n";
        break;
    case Prop::CreationDate:
        xml += "<D:creationdate>";
        if (entry.birthSecs >= 0)
            xml += isoDate(entry.birthSecs);
        xml += "</D:creationdate>\n";
        break;
    }
}

void appendPropstat(QByteArray& xml, const QByteArray& props, const char* status)
{
    xml += "<D:propstat>\n<D:prop>\n";
    xml += props;
    xml += "</D:prop>\n<D:status>HTTP/1.1 ";
    xml += status;
    xml += "</D:status>\n</D:propstat>\n";
}

// An empty element naming a property as the client asked for it, with its own
// namespace declared when it is not DAV:.
QByteArray propNameElement(const QString& namespaceUri, const QString& name)
{
    if (namespaceUri == kDavNamespace)
        return "<D:" + name.toUtf8() + "/>\n";
    return "<X:" + name.toUtf8() + " xmlns:X=\"" + xmlText(namespaceUri) + "\"/>\n";
}

void appendResponse(QByteArray& xml, const QByteArray& href, const WebDavListing::Entry& entry,
                    const WebDavListing::Query& query)
{
    xml += "<D:response>\n<D:href>";
    xml += href;
    xml += "</D:href>\n";
    QByteArray found;
    QByteArray missing;
    switch (query.kind) {
    case WebDavListing::Query::Kind::AllProp:
        // Written in place: the answer of almost every client, for every entry.
        xml += "<D:propstat>\n<D:prop>\n";
        for (const PropName& p : kProps) {
            if (applies(p.prop, entry))
                appendPropValue(xml, p.prop, entry);
        }
        xml += "</D:prop>\n<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n</D:response>\n";
        return;
    case WebDavListing::Query::Kind::PropName:
        for (const PropName& p : kProps) {
            if (applies(p.prop, entry))
                found += QByteArray("<D:") + p.name + "/>\n";
        }
        break;
    case WebDavListing::Query::Kind::Named:
        for (const auto& [namespaceUri, name] : query.names) {
            const auto known = std::find_if(std::cbegin(kProps), std::cend(kProps), [&](const PropName& p) {
                return namespaceUri == kDavNamespace && name == QLatin1String(p.name);
            });
            if (known != std::cend(kProps) && applies(known->prop, entry))
                appendPropValue(found, known->prop, entry);
            else
                missing += propNameElement(namespaceUri, name);
        }
        break;
    }
    if (!found.isEmpty() || missing.isEmpty())
        appendPropstat(xml, found, "200 OK");
    if (!missing.isEmpty())
        appendPropstat(xml, missing, "404 Not Found");
    xml += "</D:response>\n";
}

// The last segment of a path as stored, "/" and "." aside.
QByteArray lastSegment(const QByteArray& fsPath)
{
    QByteArray path = fsPath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path.mid(path.lastIndexOf('/') + 1);
}

} // namespace

bool WebDavListing::parseQuery(const QByteArray& body, Query& query)
{
    query = Query();
    if (body.trimmed().isEmpty())
        return true; // no body asks for all properties
    QXmlStreamReader reader(body);
    if (!reader.readNextStartElement() || reader.namespaceUri() != kDavNamespace || reader.name() != QLatin1String("propfind"))
        return false;
    bool chosen = false;
    while (reader.readNextStartElement()) {
        if (reader.namespaceUri() != kDavNamespace) {
            reader.skipCurrentElement(); // foreign elements are extensions a server ignores
            continue;
        }
        if (reader.name() == QLatin1String("allprop")) {
            query.kind = Query::Kind::AllProp;
        } else if (reader.name() == QLatin1String("propname")) {
            query.kind = Query::Kind::PropName;
        } else if (reader.name() == QLatin1String("prop")) {
            query.kind = Query::Kind::Named;
            while (reader.readNextStartElement()) {
                query.names.append({reader.namespaceUri().toString(), reader.name().toString()});
                reader.skipCurrentElement();
            }
            chosen = true;
            continue;
        } else {
            reader.skipCurrentElement(); // e.g. include, which adds nothing to the properties listed here
            continue;
        }
        chosen = true;
        reader.skipCurrentElement();
    }
    // Read to the end: a document broken after its useful part is still broken.
    while (!reader.atEnd())
        reader.readNext();
    return chosen && !reader.hasError();
}

QByteArray WebDavListing::multistatus(const QByteArray& requestPath, const QByteArray& fsPath, const QByteArray& rootPath,
                                      int depth, const Query& query, const CancelCheck& canceled)
{
    Entry target;
    if (!readEntry(fsPath, target))
        return {};
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n";
    appendResponse(xml, encodeHrefPath(target.isDir ? withTrailingSlash(requestPath) : requestPath), target, query);
    if (target.isDir && depth > 0) {
        const QByteArray folderHref = encodeHrefPath(withTrailingSlash(requestPath));
        const QList<Entry> entries = listFolder(fsPath, rootPath, canceled);
        // Reserved whole: appending without room copies the document again
        // and again, which costs more than listing the folder.
        xml.reserve(xml.size() + (entries.size() + 1) * kResponseBytesEstimate);
        QByteArray href;
        for (const Entry& entry : entries) {
            if (canceled())
                return {};
            href = folderHref;
            href += entry.name.toPercentEncoding();
            if (entry.isDir)
                href += '/';
            appendResponse(xml, href, entry, query);
        }
    }
    xml += "</D:multistatus>\n";
    return canceled() ? QByteArray() : xml;
}

QByteArray WebDavListing::indexPage(const QByteArray& requestPath, const QByteArray& fsPath, const QByteArray& rootPath,
                                    const CancelCheck& canceled)
{
    // Links are absolute, so the page works whether or not the folder was
    // asked with its final "/"; names are escaped, so a file name is never markup.
    const QByteArray folder = withTrailingSlash(requestPath);
    const QByteArray title = xmlText(readableName(requestPath));
    QByteArray page = "<!DOCTYPE html><html><head><title>Index of " + title + "</title></head><body>";
    page += "<h1>Index of " + title + "</h1><ul>";
    if (requestPath != "/") {
        const qsizetype lastSlash = folder.lastIndexOf('/', folder.size() - 2);
        page += "<li><a href=\"" + encodeHrefPath(folder.left(lastSlash + 1)) + "\">..</a></li>";
    }
    for (const Entry& entry : listFolder(fsPath, rootPath, canceled)) {
        const QByteArray name = entry.isDir ? entry.name + '/' : entry.name;
        page += "<li><a href=\"" + encodeHrefPath(folder + name) + "\">" + xmlText(readableName(name)) + "</a></li>";
    }
    page += "</ul></body></html>";
    return canceled() ? QByteArray() : page;
}

QList<WebDavListing::Entry> WebDavListing::listFolder(const QByteArray& fsPath, const QByteArray& rootPath,
                                                      const CancelCheck& canceled)
{
    QList<Entry> entries;
    DIR* dir = ::opendir(fsPath.constData());
    if (!dir)
        return entries;
    const int dirFd = ::dirfd(dir);
    while (const dirent* item = ::readdir(dir)) {
        if (canceled()) {
            entries.clear();
            break;
        }
        if (item->d_name[0] == '.')
            continue; // hidden, and "." and ".."
        struct statx status {};
        if (::statx(dirFd, item->d_name, 0, kStatxFields, &status) != 0)
            continue; // gone meanwhile, or a link to nothing
        Entry entry;
        if (!fillEntry(status, entry))
            continue;
        entry.name = QByteArray(item->d_name);
        // Only a symbolic link can lead out of a folder that lies in the share.
        if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
            struct stat own {};
            if (::fstatat(dirFd, item->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0
                || (S_ISLNK(own.st_mode) && !leadsInto(withTrailingSlash(fsPath) + entry.name, rootPath)))
                continue;
        }
        entries.append(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.isDir != b.isDir)
            return a.isDir;
        return a.name < b.name;
    });
    return entries;
}

bool WebDavListing::readEntry(const QByteArray& fsPath, Entry& entry)
{
    struct statx status {};
    if (::statx(AT_FDCWD, fsPath.constData(), 0, kStatxFields, &status) != 0)
        return false;
    entry.name = lastSegment(fsPath);
    return fillEntry(status, entry);
}

bool WebDavListing::leadsInto(const QByteArray& fsPath, const QByteArray& rootPath)
{
    const auto canonical = [](const QByteArray& path) {
        char* resolved = ::realpath(path.constData(), nullptr);
        const QByteArray result = resolved ? QByteArray(resolved) : QByteArray();
        ::free(resolved);
        return result;
    };
    const QByteArray canonicalRoot = canonical(rootPath);
    const QByteArray target = canonical(fsPath);
    if (canonicalRoot.isEmpty() || target.isEmpty())
        return false;
    return withTrailingSlash(target).startsWith(withTrailingSlash(canonicalRoot));
}

QString WebDavListing::readableName(const QByteArray& name)
{
    QString text = QString::fromUtf8(name);
    for (QChar& c : text) {
        if (isUnwritable(c.unicode()))
            c = QChar(0xFFFD);
    }
    return text;
}

QByteArray WebDavListing::httpDate(qint64 secsSinceEpoch)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const CivilTime t = civilTime(secsSinceEpoch);
    QByteArray out;
    out.reserve(29);
    out += kDays[t.weekday];
    out += ", ";
    appendNumber(out, t.day, 2);
    out += ' ';
    out += kMonths[t.month - 1];
    out += ' ';
    appendNumber(out, t.year, 4);
    out += ' ';
    appendClock(out, t);
    out += " GMT";
    return out;
}

QString WebDavListing::mimeType(const QString& fileName)
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
    // The text after the name's last dot, as QFileInfo::suffix gives it, but
    // without building a QFileInfo for each of thousands of entries.
    const qsizetype nameStart = fileName.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot >= nameStart ? fileName.mid(dot + 1).toLower() : QString();
    return types.value(suffix, QStringLiteral("application/octet-stream"));
}

QByteArray WebDavListing::encodeHrefPath(const QByteArray& decodedPath)
{
    return decodedPath.toPercentEncoding("/");
}
