// Owner of the XHR transport's raw receive connection: writes the queued
// hand-built HTTP requests, reads the responses on a thread of its own and
// reports header blocks, frames and body ends; reconnects a dropped
// connection a bounded number of times.
#pragma once

#include "httpresponseparser_p.h"
#include "qstringmap.h"
#include "transportnetwork_p.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

class QEventLoop;
class QTcpSocket;
class QTimer;
class WakePipe;
class XHRRequest;

class SockJSXHRPollingWorker : public QObject
{
    Q_OBJECT

public:
    /// Most requests waiting to be written; a queue holding more refuses.
    static constexpr int MAX_QUEUE = 50;
    /// Reconnection attempts tolerated in a row before the loop gives up.
    static constexpr int MAX_CONNECT_ATTEMPTS = 10;
    static constexpr int CONNECT_TIMEOUT_MS = 30000;
    static constexpr int LOCK_TIMEOUT_MS = 1000;
    /// Interval of the loop's housekeeping (incomplete-data check).
    static constexpr int TICK_MS = 1000;
    /// Incomplete data older than this drops the connection.
    static constexpr int DATA_TIMEOUT_MS = 2000;

    /// Uses (does not own) `socket`, created and connected by the transport.
    SockJSXHRPollingWorker(QObject *parent, QTcpSocket *socket, QString host, int port,
                           bool useSsl, bool keepAlive);
    ~SockJSXHRPollingWorker() override;

    /// What reconnections use: a copy of the TLS configuration, the accepted
    /// certificate errors and the proxy with the credentials known by now.
    /// Nobody is asked from the worker's thread: a proxy's 407 or a refused
    /// certificate ends the loop with that reason. Call before the thread starts.
    void setNetwork(const Veltro::TransportNetwork &network);
    /// Queues a request to be written as soon as the connection is idle.
    /// Any thread. False (request neither written nor released) when stopping,
    /// when the queue lock is not obtained within 1 s, or the queue is full.
    bool enqueue(XHRRequest *request);
    /// Bound of one received frame; call before the worker thread starts.
    void setMaxFrameSize(qint64 bytes) { parser.setMaxFrameBytes(bytes); }
    /// Asks the loop to end; it does so promptly. Any thread.
    void stop();
    bool isStopping() const { return closing.load(); }
    /// Ends the loop (no reconnection) for `reason`; worker thread only.
    void giveUp(const Veltro::FailureReason &reason);
    /// Why the loop ended (None when stopped); read once finished() was emitted.
    Veltro::FailureReason endReason() const { return m_endReason; }
    /// The certificate errors and chain of a reconnection's refused handshake.
    QList<QSslError> refusedSslErrors() const { return m_refusedErrors; }
    QList<QSslCertificate> refusedChain() const { return m_refusedChain; }

public slots:
    /// The receive loop; runs on the worker thread until stopped or the
    /// reconnection attempts are exhausted, then emits finished().
    void process();

signals:
    void finished();
    void reconnected();
    void receivedHeadersResponse(XHRRequest *request, QStringMap headers);
    /// One SockJS frame of the response body of `request`.
    void receivedMessageResponse(XHRRequest *request, QString message);
    /// The response body of `request` has ended.
    void receivedResponseEnd(XHRRequest *request);
    /// `request` will never be answered (connection lost or loop ended); it
    /// is handed back for release on the receiver's thread.
    void requestDiscarded(XHRRequest *request);

private slots:
    void onWake();

private:
    void wake();
    void sendNext();
    void onReadyRead();
    void onTick();
    void onConnectionLost();
    void startReconnect();
    void onReconnectDone(bool ok);
    void dropConnection(const QString &why);
    void discardRequests();
    void endLoop();
    void startConnect();

    QDateTime lastDataTime;
    int connectAttempts = 0;
    const QString host;
    const int port;
    const bool useSsl;
    const bool keepAlive;
    std::atomic<bool> closing{false};
    // Guards txQueue; a standard mutex so that thread checkers see it.
    std::mutex queueMutex;
    QList<XHRRequest *> txQueue;
    // Worker thread only, once the loop runs:
    QList<XHRRequest *> inFlight;
    XHRRequest *current = nullptr;
    QTcpSocket *socket;
    Veltro::HttpResponseParser parser;
    QEventLoop *loop = nullptr;
    QTimer *tick = nullptr;
    QTimer *connectTimer = nullptr;
    bool reconnecting = false;
    Veltro::TransportNetwork network;
    QString tlsText;   // the refused handshake of the attempt under way
    Veltro::FailureReason m_endReason;
    QList<QSslError> m_refusedErrors;
    QList<QSslCertificate> m_refusedChain;
    bool attemptActive = false;
    bool attemptTimedOut = false;
    std::atomic<bool> ended{false};
    std::atomic<bool> wakePending{false};
    // The loop's wake-up, alive while the loop runs; guarded for wake().
    std::mutex wakeMutex;
    WakePipe *wakePipe = nullptr;
};
