// The XHR transports of SockJS (streaming and polling) on one object: the
// receive side writes hand-built HTTP requests on a raw socket read by a
// SockJSXHRPollingWorker on its own thread; outgoing frames are posted to
// "/xhr_send" through a QNetworkAccessManager. Cookies set on either side are
// returned on both.
#pragma once

#include "qstringmap.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QNetworkAccessManager;
class QNetworkCookieJar;
class QNetworkReply;
class QTcpSocket;
class QThread;
class SockJSXHRPollingWorker;
class XHRRequest;

class SockJSXHRPolling : public QObject
{
    Q_OBJECT

public:
    /// Creates the access manager and its cookie jar; nothing is opened.
    explicit SockJSXHRPolling(QObject *parent);
    /// Stops the worker and waits (bounded) for its thread to end.
    ~SockJSXHRPolling() override;

    /// Connects the receive socket to host:port (TLS when `useSsl`; blocking,
    /// at most 30 s), starts the worker thread and the first receive request
    /// on `path` ("/xhr_streaming" when `streaming`, else "/xhr").
    /// False when the socket did not connect.
    bool open(QString host, int port, bool useSsl, QString path, bool streaming);
    /// Posts one outgoing SockJS text to "/xhr_send". Texts sent while a post
    /// is under way are merged into the next post, so they arrive in order.
    void send(QString message);
    /// Refuses further requests and tells the worker to stop; connectionClosed()
    /// follows when it has.
    void close();

    // Read by tests.
    QString getRequestPath() const { return requestPath; }
    QString getServerRoot() const { return serverRoot; }
    QString getBaseUrl() const { return baseUrl; }
    QNetworkCookieJar *getCookieJar() const { return cookieJar; }

signals:
    /// The receive side has ended (the worker finished).
    void connectionClosed();
    /// One SockJS frame received, as text.
    void textMessageReceived(QString message);

private slots:
    void onReceivedHeadersResponse(XHRRequest *request, QStringMap headers);
    void onReceivedMessageResponse(XHRRequest *request, QString message);
    void onNAMRequestFinished(QNetworkReply *reply);
    void onReconnected();

private:
    struct Mailbox;
    void poll();
    void request(QString path, QString body);
    QString cookieHeaderValue() const;
    void onResponseEnd(XHRRequest *request);
    void onWorkerFinished();
    void drainMailbox();
    void postNextSend();
    void shutDownWorker();

    QNetworkAccessManager *networkAccessManager;
    QNetworkCookieJar *cookieJar;
    QString host;
    int port = 0;
    QString requestPath;
    QString serverRoot;
    QString baseUrl;
    bool closed = true;
    bool keepAlive = false;
    bool streaming = false;
    SockJSXHRPollingWorker *worker = nullptr;
    QThread *workerThread = nullptr;
    QTcpSocket *socket = nullptr;
    XHRRequest *currentRequest = nullptr;
    // Id of the receive request whose end issues the next one.
    int receiveRequestId = 0;
    bool workerFinished = false;
    std::shared_ptr<Mailbox> mailbox;
    QStringList pendingSends;
    QNetworkReply *sendReply = nullptr;
    // close() waits for sends already handed over (a goodbye) before it ends the receive side.
    bool stopWhenSent = false;
    void stopWorker();
};
