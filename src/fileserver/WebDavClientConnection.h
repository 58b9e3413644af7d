#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QMap>
#include <QObject>
#include <QString>

class QFile;
class QTcpSocket;
class QTimer;
class WebDavServer;

// One client of the read-only WebDAV server: cuts the bytes it sends into
// HTTP/1.1 requests, authenticates each with Basic credentials against the
// server's, keeps every path inside the shared folder and answers OPTIONS,
// PROPFIND, GET and HEAD. The connection stays open between requests.
//
// Threads: GUI thread only, driven by its socket's signals, its idle timer
// and the server's turns (one request per turn). The server owns it (as a
// child) and deletes it later when the client goes; it owns its socket.
//
// Bounds, because the first bytes come from clients nobody has authenticated:
// the head and the body are limited (431 / 413, then the connection closes),
// a connection without traffic is closed after the idle time, and a download
// is streamed from the file as the socket drains, so memory per client stays
// at a few MiB whatever the file size.
class WebDavClientConnection : public QObject {
    Q_OBJECT

public:
    WebDavClientConnection(QTcpSocket* socket, WebDavServer* server, QObject* parent = nullptr);
    ~WebDavClientConnection() override;

    // Ends any download and closes the socket now; used by WebDavServer::stop.
    void shutDown();
    // Answers the next complete request, if any; called by the server's turns.
    void processNextRequest();

    // Shared with tests: the suffix table and the date forms are pure.
    static QString getMimeType(const QString& fileName);
    static QString formatHttpDate(const QDateTime& time);
    // Each path segment percent-encoded (RFC 3986 unreserved characters kept).
    static QString encodeHrefPath(const QString& decodedPath);

signals:
    void disconnected();

private slots:
    void onReadyRead();
    void onDisconnected();
    void onBytesWritten();
    void onIdleTimeout();

private:
    // Requests
    bool parseHead(qsizetype headEnd);
    void processRequest();
    void resetRequest();
    bool checkAuthentication() const;
    void refuseAndClose(int statusCode, const QString& statusText);
    void abortConnection();

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
    void handlePropfind(const QString& requestPath, int depth);
    void handleGet(const QString& requestPath);
    void handleHead(const QString& requestPath);
    QString generatePropfindResponse(const QString& requestPath, const QString& fsPath, int depth);
    QString generateResourceXml(const QString& href, const QFileInfo& entry);
    QByteArray generateIndexPage(const QString& requestPath, const QString& fsPath);
    QList<QFileInfo> listFolder(const QString& fsPath) const;
    QMap<QString, QString> fileHeaders(const QFileInfo& info) const;

    // Downloads
    void startDownload(QFile* file, qint64 offsetBytes, qint64 lengthBytes);
    void pumpDownload();
    void endDownload();

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
    qint64 maxHeadBytes_;
    qint64 maxBodyBytes_;
};
