#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <functional>

// Folder listings of the WebDAV server: what a PROPFIND body asks for, the
// 207 multistatus document and the HTML index of a folder.
//
// Threads: pure functions of their arguments and the file system, which they
// only read. parseQuery runs on the GUI thread; multistatus and indexPage run
// on the server's listing pool, because a folder of many thousand takes takes
// longer to list than the GUI thread may stand still. They poll `canceled`
// between entries, so a listing whose client has gone ends early.
class WebDavListing {
public:
    // What a PROPFIND asks for (its body's propfind element).
    struct Query {
        enum class Kind { AllProp, PropName, Named };
        Kind kind = Kind::AllProp;
        QList<QPair<QString, QString>> names; // (namespace URI, local name) of each named property, in request order
    };

    // One visible entry of a folder, read with a single stat. Names and paths
    // are the file system's bytes: a take named on another device may not be
    // UTF-8, and only its own bytes lead back to it.
    struct Entry {
        QByteArray name;
        bool isDir = false;
        qint64 sizeBytes = 0;
        qint64 modifiedSecs = 0; // since the epoch, UTC
        qint64 birthSecs = -1;   // -1 where the file system keeps no birth time
    };

    using CancelCheck = std::function<bool()>;

    // False when a non-empty body is no well-formed DAV:propfind document.
    static bool parseQuery(const QByteArray& body, Query& query);

    // The 207 document for the target (a file or folder at `fsPath`, asked as
    // the percent-decoded `requestPath`) and, at depth 1, its visible
    // entries. Empty when canceled or when the target cannot be read.
    static QByteArray multistatus(const QByteArray& requestPath, const QByteArray& fsPath, const QByteArray& rootPath,
                                  int depth, const Query& query, const CancelCheck& canceled);
    // The HTML index of the folder at `fsPath`; links are absolute.
    static QByteArray indexPage(const QByteArray& requestPath, const QByteArray& fsPath, const QByteArray& rootPath,
                                const CancelCheck& canceled);

    // Folders first, then files, each by name; hidden names, what is neither
    // file nor folder (sockets, FIFOs, broken links) and symbolic links that
    // lead out of the share at `rootPath` are left out.
    static QList<Entry> listFolder(const QByteArray& fsPath, const QByteArray& rootPath, const CancelCheck& canceled);
    // `fsPath` read with one stat, following links; false when it cannot be,
    // or when it is neither file nor folder.
    static bool readEntry(const QByteArray& fsPath, Entry& entry);
    // Where `fsPath` really leads (links followed) lies in the share.
    static bool leadsInto(const QByteArray& fsPath, const QByteArray& rootPath);
    // A name or path as a person reads it: bytes that are no UTF-8 show as
    // U+FFFD, control characters too, so that no listing carries them raw.
    static QString readableName(const QByteArray& name);

    // "Sun, 01 Mar 2026 06:05:09 GMT": English names and ASCII digits
    // whatever the locale, and fast enough for thousands of entries.
    static QByteArray httpDate(qint64 secsSinceEpoch);
    // The MIME type by the name's suffix, any case; "application/octet-stream" when unknown.
    static QString mimeType(const QString& fileName);
    // Every byte of the path but "/" and the RFC 3986 unreserved characters
    // percent-encoded, so a name that is no UTF-8 keeps its own bytes.
    static QByteArray encodeHrefPath(const QByteArray& decodedPath);
};
