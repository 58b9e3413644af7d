#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

class QTcpServer;
class QThreadPool;
class QTimer;
class WebDavClientConnection;

// What one client may cost the recorder before it is cut off. The server runs
// on the GUI thread of a program that may be recording, and it answers
// clients that have not authenticated yet, so nothing a client sends may grow
// without bound or hold a socket forever.
struct WebDavLimits {
    qint64 maxHeadBytes = 64 * 1024;      // a longer head is answered 431 and the connection closed
    qint64 maxBodyBytes = 1024 * 1024;    // a longer declared body is answered 413 and the connection closed
    // Beyond, a newcomer takes the place of the oldest connection that has not
    // logged in or, failing that, of the longest idle one with no request in
    // hand; a client is closed at once only when nobody can make room. Never
    // counted per address: a post house reaches us from one address.
    int maxConnections = 100;
    // Connections that have not yet sent a complete request with the right
    // credentials hold at most this many slots (a quarter): a new client
    // closes the oldest of them, so clients that never log in cannot lock out
    // the one that can.
    int maxUnauthenticatedConnections = 25;
    int headTimeoutMs = 10 * 1000;        // a head not complete this long after its first byte is answered 408 and closed
    int idleTimeoutMs = 60 * 1000;        // a connection with no traffic for this long is closed
    // A connection whose answers wait unsent beyond this (a client that sends
    // requests and never reads) is not read or answered until they drain.
    qint64 maxUnsentBytes = 1024 * 1024;
    // All connections' queued answer bytes together: beyond, each connection
    // tops its queue up only to unsentShareBytes, so a hundred clients that
    // never read cannot hold a hundred times the bound above.
    qint64 maxTotalUnsentBytes = 16 * 1024 * 1024;
    qint64 unsentShareBytes = 64 * 1024;
    // A folder listing is built whole (its length goes first) and held until
    // the client has taken it: about 10 MiB for 20,000 takes. At most this
    // many are built or held at once; further listings wait for a place.
    int maxListingsInFlight = 4;
    // While listings wait, one whose client has taken none of it for this
    // long is closed to make room: a client that never reads must not hold
    // the places of those that do.
    int listingStallMs = 10 * 1000;
};

// The read-only WebDAV listener: accepts clients on every local address and
// hands each to a WebDavClientConnection, which reads the shared folder and
// the credentials held here at every request.
//
// Threads: the GUI thread, except for folder listings. Every socket, timer
// and signal is driven by the GUI thread's event loop; there are no locks.
// Connections are children of the server and are deleted later, never inside
// one of their own slots. Listings of large folders run on the listing pool
// (two threads), each from copies of its paths, reading only the file system;
// a connection that goes cancels its listing, and the destructor waits for
// the pool, whose jobs end at the next entry once canceled. A listing takes
// one of a few places (maxListingsInFlight) from its start until its answer
// is handed to the socket; the server hands places out in order of asking
// and takes a place back from every connection it forgets.
class WebDavServer : public QObject {
    Q_OBJECT

    friend class WebDavClientConnection;

public:
    explicit WebDavServer(QObject* parent = nullptr);
    ~WebDavServer() override;

    // Listens on `port` once a shared folder that exists and a password are
    // set. True at once (and on the old port) when already listening.
    bool start(quint16 port);
    // Drops every connection (clients mid-transfer lose it) and stops listening.
    void stop();
    bool isRunning() const;

    // Stored as an absolute path; whether the folder exists is checked by start.
    void setRootPath(const QString& path);
    // An empty user name means "tonvale". An empty password admits nobody.
    void setCredentials(const QString& username, const QString& password);

    // Tests shrink the limits to reach them quickly; applies to new connections.
    void setLimits(const WebDavLimits& limits) { limits_ = limits; }
    const WebDavLimits& limits() const { return limits_; }
    // The port actually bound (differs from the one asked only for port 0).
    quint16 serverPort() const;
    int connectionCount() const { return static_cast<int>(connections_.size()); }
    // Answer bytes of every connection not yet taken by the kernel.
    qint64 unsentBytes() const;
    // Listings being built or held for their clients (at most maxListingsInFlight).
    int listingsInFlight() const { return static_cast<int>(listingHolders_.size()); }

signals:
    void serverStarted();
    void serverStopped();
    void clientConnected(const QString& address);
    void clientDisconnected(const QString& address);
    void logMessage(const QString& message);

private slots:
    void onNewConnection();
    void onClientDisconnected();
    void onTurn();
    void onListingWatch();

private:
    // A connection with a request to answer waits for its turn: one request
    // per event-loop turn, connections in order, so the GUI thread's timers
    // run between any two requests however many clients ask at once.
    void scheduleTurn(WebDavClientConnection* connection);
    // Closes the oldest connection that has not authenticated; false when
    // every connection has.
    bool evictUnauthenticated();
    // Closes the connection idle longest among those with no request in
    // hand; false when every one has a request in hand.
    bool evictIdle();
    int unauthenticatedCount() const;
    // Drops a connection from every list and lets a waiting listing start.
    void forget(WebDavClientConnection* connection);
    void closeToMakeRoom(WebDavClientConnection* connection, const QString& logLine);

    // Listing places: true when `connection` may build its listing now; else
    // it waits and is started by startListing later. Released when its
    // answer is handed to its socket whole, or when it goes.
    bool acquireListingPlace(WebDavClientConnection* connection);
    void releaseListingPlace(WebDavClientConnection* connection);
    void startWaitingListings();
    // Queued answer bytes of every connection's socket.
    qint64 socketBacklogBytes() const;

    QTcpServer* tcpServer_;
    QString rootPath_;
    QString username_;
    QString password_;
    quint16 port_;
    QList<WebDavClientConnection*> connections_;
    WebDavLimits limits_;
    QTimer* turnTimer_;
    QList<WebDavClientConnection*> waiting_;
    QThreadPool* listingPool_;
    QList<WebDavClientConnection*> listingHolders_;
    QList<WebDavClientConnection*> listingQueue_;
    QTimer* listingWatch_;
};
