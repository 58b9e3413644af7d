#include "fileserver/WebDavServer.h"

#include "fileserver/WebDavClientConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

WebDavServer::WebDavServer(QObject* parent)
    : QObject(parent)
    , tcpServer_(new QTcpServer(this))
    , username_(QStringLiteral("tonvale"))
    , port_(8080)
    , turnTimer_(new QTimer(this))
    , listingPool_(new QThreadPool(this))
    , listingWatch_(new QTimer(this))
{
    // Two listings at once keep a second core busy without taking the
    // recorder's; more clients wait their turn in the pool's queue.
    listingPool_->setMaxThreadCount(2);
    connect(tcpServer_, &QTcpServer::newConnection, this, &WebDavServer::onNewConnection);
    turnTimer_->setInterval(0);
    connect(turnTimer_, &QTimer::timeout, this, &WebDavServer::onTurn);
    connect(listingWatch_, &QTimer::timeout, this, &WebDavServer::onListingWatch);
}

WebDavServer::~WebDavServer()
{
    stop();
    // stop canceled every connection's listing; the jobs end at their next entry.
    listingPool_->waitForDone();
}

bool WebDavServer::start(quint16 port)
{
    if (tcpServer_->isListening())
        return true;
    if (rootPath_.isEmpty() || !QDir(rootPath_).exists()) {
        emit logMessage(QStringLiteral("Error: Invalid root path"));
        return false;
    }
    if (password_.isEmpty()) {
        emit logMessage(QStringLiteral("Error: Password not set"));
        return false;
    }
    port_ = port;
    if (!tcpServer_->listen(QHostAddress::Any, port)) {
        emit logMessage(QStringLiteral("Failed to start server: %1").arg(tcpServer_->errorString()));
        return false;
    }
    emit logMessage(QStringLiteral("WebDAV server started on port %1").arg(port));
    emit serverStarted();
    return true;
}

void WebDavServer::stop()
{
    if (!tcpServer_->isListening())
        return;
    for (WebDavClientConnection* connection : std::as_const(connections_)) {
        // Deleted later, but cut off now: no further request of a stopped
        // server may be answered while the deletion waits for the event loop.
        connection->disconnect(this);
        connection->shutDown();
        connection->deleteLater();
    }
    connections_.clear();
    waiting_.clear();
    listingHolders_.clear();
    listingQueue_.clear();
    listingWatch_->stop();
    turnTimer_->stop();
    tcpServer_->close();
    emit logMessage(QStringLiteral("WebDAV server stopped"));
    emit serverStopped();
}

bool WebDavServer::isRunning() const
{
    return tcpServer_->isListening();
}

quint16 WebDavServer::serverPort() const
{
    return tcpServer_->isListening() ? tcpServer_->serverPort() : port_;
}

void WebDavServer::setRootPath(const QString& path)
{
    rootPath_ = QDir(path).absolutePath();
}

void WebDavServer::setCredentials(const QString& username, const QString& password)
{
    username_ = username.isEmpty() ? QStringLiteral("tonvale") : username;
    password_ = password;
}

void WebDavServer::onNewConnection()
{
    while (tcpServer_->hasPendingConnections()) {
        QTcpSocket* socket = tcpServer_->nextPendingConnection();
        const QString address = socket->peerAddress().toString();
        // Every new client starts unauthenticated: it takes the place of the
        // oldest one that still has not logged in, before anyone is refused.
        if (unauthenticatedCount() >= limits_.maxUnauthenticatedConnections
            || connections_.size() >= limits_.maxConnections)
            evictUnauthenticated();
        // Clients that logged in and then only keep their connections open
        // must not lock out a newcomer either.
        if (connections_.size() >= limits_.maxConnections)
            evictIdle();
        if (connections_.size() >= limits_.maxConnections) {
            // A flood of clients must not exhaust the recorder's file handles.
            socket->abort();
            socket->deleteLater();
            emit logMessage(QStringLiteral("Connection refused: %1 (limit of %2 connections reached)")
                                .arg(address)
                                .arg(limits_.maxConnections));
            continue;
        }
        auto* connection = new WebDavClientConnection(socket, this, this);
        connections_.append(connection);
        connect(connection, &WebDavClientConnection::disconnected, this, &WebDavServer::onClientDisconnected);
        emit clientConnected(address);
        emit logMessage(QStringLiteral("Client connected: %1").arg(address));
    }
}

int WebDavServer::unauthenticatedCount() const
{
    return static_cast<int>(std::count_if(connections_.cbegin(), connections_.cend(),
                                          [](const WebDavClientConnection* c) { return !c->isAuthenticated(); }));
}

bool WebDavServer::evictUnauthenticated()
{
    const auto oldest = std::find_if(connections_.cbegin(), connections_.cend(),
                                     [](const WebDavClientConnection* c) { return !c->isAuthenticated(); });
    if (oldest == connections_.cend())
        return false;
    closeToMakeRoom(*oldest, QStringLiteral("Closed unauthenticated connection: %1 (to make room)"));
    return true;
}

bool WebDavServer::evictIdle()
{
    WebDavClientConnection* idlest = nullptr;
    for (WebDavClientConnection* connection : std::as_const(connections_)) {
        if (connection->hasRequestInHand() || waiting_.contains(connection))
            continue;
        if (!idlest || connection->idleMs() > idlest->idleMs())
            idlest = connection;
    }
    if (!idlest)
        return false;
    closeToMakeRoom(idlest, QStringLiteral("Closed idle connection: %1 (to make room)"));
    return true;
}

void WebDavServer::closeToMakeRoom(WebDavClientConnection* connection, const QString& logLine)
{
    emit logMessage(logLine.arg(connection->peerAddress()));
    connection->disconnect(this);
    connection->shutDown();
    connection->deleteLater();
    forget(connection);
}

void WebDavServer::forget(WebDavClientConnection* connection)
{
    connections_.removeAll(connection);
    waiting_.removeAll(connection);
    listingQueue_.removeAll(connection);
    if (listingHolders_.removeAll(connection) > 0)
        startWaitingListings();
}

bool WebDavServer::acquireListingPlace(WebDavClientConnection* connection)
{
    if (listingHolders_.contains(connection))
        return true;
    if (listingHolders_.size() < limits_.maxListingsInFlight && listingQueue_.isEmpty()) {
        listingHolders_.append(connection);
        return true;
    }
    if (!listingQueue_.contains(connection))
        listingQueue_.append(connection);
    if (!listingWatch_->isActive())
        listingWatch_->start(std::clamp(limits_.listingStallMs / 2, 50, 1000));
    return false;
}

void WebDavServer::releaseListingPlace(WebDavClientConnection* connection)
{
    if (listingHolders_.removeAll(connection) > 0)
        startWaitingListings();
}

void WebDavServer::startWaitingListings()
{
    while (!listingQueue_.isEmpty() && listingHolders_.size() < limits_.maxListingsInFlight) {
        WebDavClientConnection* next = listingQueue_.takeFirst();
        listingHolders_.append(next);
        next->startWaitingListing();
    }
    if (listingQueue_.isEmpty())
        listingWatch_->stop();
}

// While listings wait for a place, a holder whose client has taken nothing
// for the stall time gives its place up with its connection.
void WebDavServer::onListingWatch()
{
    if (listingQueue_.isEmpty()) {
        listingWatch_->stop();
        return;
    }
    const QList<WebDavClientConnection*> holders = listingHolders_;
    for (WebDavClientConnection* holder : holders) {
        if (holder->stalledMs() < limits_.listingStallMs)
            continue;
        closeToMakeRoom(holder, QStringLiteral("Closed stalled connection: %1 (its answer was not read)"));
    }
}

qint64 WebDavServer::socketBacklogBytes() const
{
    qint64 total = 0;
    for (const WebDavClientConnection* connection : connections_)
        total += connection->socketBacklogBytes();
    return total;
}

qint64 WebDavServer::unsentBytes() const
{
    qint64 total = 0;
    for (const WebDavClientConnection* connection : connections_)
        total += connection->unsentBytes();
    return total;
}

void WebDavServer::onClientDisconnected()
{
    auto* connection = qobject_cast<WebDavClientConnection*>(sender());
    if (!connection)
        return;
    connection->deleteLater();
    forget(connection);
}

void WebDavServer::scheduleTurn(WebDavClientConnection* connection)
{
    if (!connections_.contains(connection) || waiting_.contains(connection))
        return;
    waiting_.append(connection);
    if (!turnTimer_->isActive())
        turnTimer_->start();
}

void WebDavServer::onTurn()
{
    if (!waiting_.isEmpty())
        waiting_.takeFirst()->processNextRequest();
    if (waiting_.isEmpty())
        turnTimer_->stop();
}
