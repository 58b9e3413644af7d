#pragma once

#include "fileserver/WebDavListing.h"
#include "fileserver/WebDavServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QFile;
class QTcpSocket;
class QTimer;

// One client of the read-only WebDAV server: cuts the bytes it sends into
// HTTP/1.1 requests, authenticates each with Basic credentials against the
// server's, keeps every path inside the shared folder and answers OPTIONS,
// PROPFIND, GET and HEAD. The connection stays open between requests unless
// the client asks to close it (or speaks HTTP/1.0 without keep-alive). A head
// whose framing could be read two ways is answered 400 and the connection
// closed, so that no body is ever taken for a request.
//
// Threads: GUI thread only, driven by its socket's signals, its timers and
// the server's turns (one request per turn). The server owns it (as a child)
// and deletes it later when the client goes; it owns its socket. A folder
// listing (PROPFIND, or GET and HEAD of a folder) is built on the server's
// listing pool from copies of the paths; the connection waits for it through
// a watcher it owns and cancels it when it goes, so no worker ever touches
// the connection.
//
// Bounds, because the first bytes come from clients nobody has authenticated:
// the head and the body are limited (431 / 413, then the connection closes);
// a head must arrive whole within the head time from its first byte, and a
// connection without traffic is closed after the idle time. Answers wait for
// the socket: while more than maxUnsentBytes of them are unsent, no further
// request is read or answered, and downloads and long listings are handed to
// the socket as it drains, so memory per client stays at a few MiB whatever
// the client sends or fails to read.
class WebDavClientConnection : public QObject {
    Q_OBJECT

public:
    WebDavClientConnection(QTcpSocket* socket, WebDavServer* server, QObject* parent = nullptr);
    ~WebDavClientConnection() override;

    // Ends any download and closes the socket now; used by WebDavServer::stop.
    void shutDown();
    // Answers the next complete request, if any; called by the server's turns.
    void processNextRequest();
    // Has sent a complete request with the right credentials.
    bool isAuthenticated() const { return authenticated_; }
    QString peerAddress() const;
    // Answer bytes queued in the socket or waiting to be handed to it.
    qint64 unsentBytes() const;
    // Answer bytes queued in the socket only.
    qint64 socketBacklogBytes() const;
    // A request is being read past its head, answered, or waits for a turn
    // or a listing place; only a connection without one may be closed to
    // make room.
    bool hasRequestInHand() const;
    // Since the client last sent or took anything.
    qint64 idleMs() const { return lastTraffic_.elapsed(); }
    // Since the client last took answer bytes, while some wait; 0 when none wait.
    qint64 stalledMs() const;
    // The server gives a waiting listing its place.
    void startWaitingListing();

    // Shared with tests: the suffix table and the date forms are pure.
    static QString getMimeType(const QString& fileName);
    static QString formatHttpDate(const QDateTime& time);

signals:
    void disconnected();

private slots:
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten();
    void onIdleTimeout();
    void onHeadTimeout();
    void onListingReady();

private:
    // Requests
    void readRequestBytes();
    bool parseHead(const QByteArray& head);
    bool parseTarget(const QByteArray& target, QByteArray& path) const;
    void processRequest();
    void resetRequest();
    bool checkAuthentication() const;
    void refuseAndClose(int statusCode, const QString& statusText);
    void abortConnection();
    // A download, a listing or an unsent backlog above the bound: the next
    // request waits.
    bool isBusy() const;
    // The current answer has been handed to the socket whole: close if the
    // client asked for it, else read the next request.
    void answerHandedOver();
    // How far this connection may fill its socket's queue now.
    qint64 unsentCapBytes() const;

    // Framing
    void sendResponse(int statusCode, const QString& statusText, const QMap<QString, QString>& headers,
                      const QByteArray& body);
    void sendError(int statusCode, const QString& statusText,
                   const QMap<QString, QString>& extraHeaders = QMap<QString, QString>());

    // Paths: a request path is the target's percent-decoded bytes, a file
    // system path the bytes the kernel takes, so names that are no UTF-8
    // are served as they are stored.
    // The path in the share that `requestPath` names; empty when ".."
    // segments would climb out of it.
    QByteArray resolvePath(const QByteArray& requestPath) const;
    // Resolves, then answers 403 or 404 itself and returns false when the
    // target may not be served; else `entry` holds the target's stat.
    bool resolveServable(const QByteArray& requestPath, QByteArray& fsPath, WebDavListing::Entry& entry);
    static QByteArray urlDecode(const QByteArray& text);

    // A file as one stat saw it.
    struct FileState {
        qint64 sizeBytes = 0;
        qint64 modifiedNanos = 0; // since the epoch, UTC
        QByteArray entityTag;
    };

    // Responses (WebDavResponses.cpp)
    void handleOptions(const QByteArray& requestPath);
    void handlePropfind(const QByteArray& requestPath);
    void handleGet(const QByteArray& requestPath);
    void handleHead(const QByteArray& requestPath);
    void answerFolder(const QByteArray& requestPath, const QByteArray& fsPath);
    // Answers 304 itself and returns true when the client's copy is current.
    bool answerNotModified(const FileState& state);
    // The Range header applies: no If-Range, or one that names this state.
    bool rangeStillValid(const FileState& state) const;
    QMap<QString, QString> fileHeaders(const QByteArray& requestPath, const FileState& state) const;

    // Listings, built on the server's pool; answered with `statusCode` and
    // `headers` when ready.
    using ListingBuild = std::function<QByteArray(const WebDavListing::CancelCheck&)>;
    void startListing(int statusCode, const QString& statusText, const QMap<QString, QString>& headers,
                      ListingBuild build);
    void cancelListing();

    // Downloads and long answers, handed to the socket as it drains
    void startDownload(QFile* file, qint64 offsetBytes, qint64 lengthBytes);
    void pumpDownload();
    void endDownload();
    void pumpReplyBody();

    QTcpSocket* socket_;
    WebDavServer* server_;
    QByteArray buffer_;
    QString method_;
    QByteArray path_; // percent-decoded, without the query
    QMap<QString, QString> headers_;
    QByteArray body_;
    int contentLength_ = 0;
    bool headersComplete_ = false;

    QTimer* idleTimer_;
    QFile* download_ = nullptr;
    qint64 downloadRemainingBytes_ = 0;
    QString downloadName_;
    bool closeAfterResponse_ = false; // the client asked to close, or the head was refused
    QElapsedTimer lastTraffic_;
    QElapsedTimer lastDrain_;
    bool closing_ = false;
    bool goneReported_ = false;
    const WebDavLimits limits_;

    QTimer* headTimer_;
    bool authenticated_ = false;
    bool answeringHead_ = false; // the request being answered is a HEAD: no body, whatever the status
    QByteArray replyBody_;       // the part of a long answer not yet handed to the socket
    qsizetype replySentBytes_ = 0;

    struct ListingReply {
        int statusCode = 0;
        QString statusText;
        QMap<QString, QString> headers;
    };
    QFutureWatcher<QByteArray>* listing_ = nullptr;
    ListingReply listingReply_;
    ListingBuild waitingListing_; // set while the listing waits for a place
    bool holdsListingPlace_ = false;
};
