#pragma once

#include "fileserver/WebDavListing.h"
#include "fileserver/WebDavServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
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
// PROPFIND, GET and HEAD. The connection stays open between requests.
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
    bool parseHead(qsizetype headEnd);
    void processRequest();
    void resetRequest();
    bool checkAuthentication() const;
    void refuseAndClose(int statusCode, const QString& statusText);
    void abortConnection();
    // A download, a listing or an unsent backlog above the bound: the next
    // request waits.
    bool isBusy() const;

    // Framing
    void sendResponse(int statusCode, const QString& statusText, const QMap<QString, QString>& headers,
                      const QByteArray& body);
    void sendError(int statusCode, const QString& statusText,
                   const QMap<QString, QString>& extraHeaders = QMap<QString, QString>());

    // Paths
    QString resolvePath(const QString& requestPath) const;
    bool isPathAllowed(const QString& fsPath) const;
    // Resolves, then answers 403 or 404 itself and returns false when the
    // target may not be served.
    bool resolveServable(const QString& requestPath, QString& fsPath, QFileInfo& info);
    QString urlDecode(const QString& text) const;

    // Responses (WebDavResponses.cpp)
    void handleOptions(const QString& requestPath);
    void handlePropfind(const QString& requestPath);
    void handleGet(const QString& requestPath);
    void handleHead(const QString& requestPath);
    void answerFolder(const QString& requestPath, const QString& fsPath);
    // Answers 304 itself and returns true when the client's copy is current.
    bool answerNotModified(const QFileInfo& info, const QByteArray& entityTag);
    QMap<QString, QString> fileHeaders(const QFileInfo& info, const QByteArray& entityTag) const;

    // Listings, built on the server's pool; answered with `statusCode` and
    // `headers` when ready.
    void startListing(int statusCode, const QString& statusText, const QMap<QString, QString>& headers,
                      std::function<QByteArray(const WebDavListing::CancelCheck&)> build);
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
    QString path_;
    QMap<QString, QString> headers_;
    QByteArray body_;
    int contentLength_ = 0;
    bool headersComplete_ = false;

    QTimer* idleTimer_;
    QFile* download_ = nullptr;
    qint64 downloadRemainingBytes_ = 0;
    QString downloadName_;
    bool closeAfterResponse_ = false;
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
};
