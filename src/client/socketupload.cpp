#include "socketupload_p.h"

#include "httpresponseparser_p.h"
#include "networksettings_p.h"
#include "teardownpost_p.h"
#include "transportnetwork_p.h"

#include <QAuthenticator>
#include <QBuffer>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpSocket>

#include <cstring>

namespace Veltro {

namespace {

// The error the network layer gives an answer of this status.
QNetworkReply::NetworkError errorOfStatus(int status)
{
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status >= 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

// The error the network layer gives a connection that failed this way.
QNetworkReply::NetworkError errorOfSocket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

bool isHeader(const QString &name, const char *wanted)
{
    return name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0;
}

// One multipart POST on its own plain connection ("Connection: close"). Its
// answer is read whole: the engine bounds it through downloadProgress().
class SocketUploadReply : public QNetworkReply
{
public:
    SocketUploadReply(QNetworkAccessManager *manager, NetworkHub *hub, const QNetworkRequest &request,
                      const QByteArray &body)
        : QNetworkReply(manager)
        , m_manager(manager)
        , m_hub(hub)
        , m_body(body)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(QNetworkAccessManager::PostOperation);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        connectSocket();
    }

    void abort() override
    {
        if (isFinished())
            return;
        QNetworkReply::close(); // as the network layer's: an aborted reply has nothing to read
        end(OperationCanceledError, QStringLiteral("Operation canceled"));
    }
    qint64 bytesAvailable() const override { return m_answer.size() - m_read; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(m_answer.size()) - m_read);
        if (n <= 0)
            return isFinished() ? -1 : 0;
        std::memcpy(data, m_answer.constData() + m_read, size_t(n));
        m_read += n;
        return n;
    }

private:
    void connectSocket()
    {
        const QUrl u = url();
        const QString host = u.host();
        const quint16 port = quint16(u.port(80));
        auto *socket = new QTcpSocket(this);
        m_socket = socket;
        m_parser.reset();
        m_parser.setWholeBody(true);
        TransportNetwork::forServer(m_hub, host, port, false, u.path()).prepare(socket);

        // Proxy credentials are asked where the network layer asks: the
        // manager's signal, which the client answers.
        connect(socket, &QAbstractSocket::proxyAuthenticationRequired, this,
                [this](const QNetworkProxy &proxy, QAuthenticator *authenticator) {
                    emit m_manager->proxyAuthenticationRequired(proxy, authenticator);
                },
                Qt::DirectConnection);
        connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError e) {
            if (socket != m_socket)
                return;
            if (e == QAbstractSocket::RemoteHostClosedError)
                closed();
            else
                end(errorOfSocket(e), socket->errorString());
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            if (socket == m_socket)
                closed();
        });
        connect(socket, &QIODevice::readyRead, this, [this, socket] {
            if (socket == m_socket)
                readAnswer();
        });
        connect(socket, &QAbstractSocket::connected, this, [this] { send(); });
        socket->connectToHost(host, port);
    }

    void send()
    {
        // Head and body leave in one go, without waiting on Nagle's algorithm.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QList<QNetworkCookie> cookies;
        if (QNetworkCookieJar *jar = m_manager->cookieJar())
            cookies = jar->cookiesForUrl(url());
        const QNetworkRequest &r = request();
        QByteArray extra;
        for (const QByteArray &name : r.rawHeaderList()) {
            const QString n = QString::fromLatin1(name);
            if (!isHeader(n, "Content-Type") && !isHeader(n, "accept-encoding") && !isHeader(n, "Content-Length")
                && !isHeader(n, "Host") && !isHeader(n, "Connection") && !isHeader(n, "Cookie"))
                extra += name + ": " + r.rawHeader(name) + "\r\n";
        }
        if (!m_authorization.isEmpty())
            extra += "Authorization: " + m_authorization + "\r\n";
        const QByteArray type = r.header(QNetworkRequest::ContentTypeHeader).toString().toLatin1();
        m_socket->write(httpPostHead(url(), type, cookies, m_body.size(), extra));
        m_socket->write(m_body);
    }

    void readAnswer()
    {
        QVector<HttpResponseParser::Event> events;
        const bool ok = m_parser.feed(m_socket->readAll(), &events);
        handle(events);
        if (!ok && !isFinished() && !m_parser.errorString().isEmpty())
            end(ProtocolFailure, m_parser.errorString());
    }

    // The connection ended: a body delimited by the close ends here.
    void closed()
    {
        if (isFinished())
            return;
        QVector<HttpResponseParser::Event> events;
        const bool whole = m_status != 0 && m_parser.finish(&events);
        handle(events);
        if (!isFinished())
            end(whole ? ProtocolFailure : RemoteHostClosedError, QStringLiteral("Connection closed"));
    }

    void handle(const QVector<HttpResponseParser::Event> &events)
    {
        for (const HttpResponseParser::Event &ev : events) {
            if (isFinished() || !m_socket)
                return;
            switch (ev.kind) {
            case HttpResponseParser::Event::Headers:
                if (!headers(ev))
                    return; // asked again with credentials
                break;
            case HttpResponseParser::Event::Frame:
                m_answer += ev.data;
                emit downloadProgress(m_answer.size(), m_declared);
                if (!isFinished())
                    emit readyRead();
                break;
            case HttpResponseParser::Event::End:
                end(m_status >= 400 ? errorOfStatus(m_status) : NoError,
                    m_status >= 400 ? QStringLiteral("Server replied with status %1").arg(m_status) : QString());
                return;
            }
        }
    }

    // False when the request goes again with the server's credentials.
    bool headers(const HttpResponseParser::Event &ev)
    {
        m_status = ev.status;
        m_declared = ev.contentLength;
        QString challenge;
        for (auto it = ev.headers.constBegin(); it != ev.headers.constEnd(); ++it) {
            setRawHeader(it.key().toLatin1(), it.value().toUtf8());
            if (isHeader(it.key(), "Set-Cookie") && m_manager->cookieJar())
                m_manager->cookieJar()->setCookiesFromUrl(QNetworkCookie::parseCookies(it.value().toUtf8()), url());
            else if (isHeader(it.key(), "Location") && ev.status >= 300 && ev.status < 400)
                setAttribute(QNetworkRequest::RedirectionTargetAttribute, QUrl(it.value()));
            else if (isHeader(it.key(), "WWW-Authenticate"))
                challenge = it.value();
        }
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, ev.status);
        if (ev.contentLength >= 0)
            setHeader(QNetworkRequest::ContentLengthHeader, ev.contentLength);
        // Server authentication, asked once, as the network layer asks.
        if (ev.status == 401 && m_authorization.isEmpty()
            && challenge.startsWith(QLatin1String("Basic"), Qt::CaseInsensitive)) {
            QAuthenticator authenticator;
            QPointer<SocketUploadReply> self(this);
            emit m_manager->authenticationRequired(this, &authenticator);
            if (!self || isFinished())
                return false;
            if (!authenticator.user().isEmpty()) {
                m_authorization = "Basic "
                    + (authenticator.user() + QLatin1Char(':') + authenticator.password()).toUtf8().toBase64();
                dropSocket(false);
                connectSocket();
                return false;
            }
        }
        emit metaDataChanged();
        return true;
    }

    void dropSocket(bool orderly)
    {
        if (!m_socket)
            return;
        QAbstractSocket *socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        if (orderly)
            socket->disconnectFromHost();
        else
            socket->abort();
        socket->deleteLater();
    }

    void end(NetworkError code, const QString &text)
    {
        if (isFinished())
            return;
        dropSocket(code == NoError);
        if (code != NoError) {
            setError(code, text);
            emit errorOccurred(code);
        }
        setFinished(true);
        emit finished();
    }

    QNetworkAccessManager *m_manager;
    NetworkHub *m_hub;
    QByteArray m_body;
    QPointer<QAbstractSocket> m_socket;
    HttpResponseParser m_parser;
    QByteArray m_authorization;
    QByteArray m_answer;
    qint64 m_read = 0;
    qint64 m_declared = -1;
    int m_status = 0;
};

} // namespace

ClientAccessManager::ClientAccessManager(NetworkHub *hub, QObject *parent)
    : QNetworkAccessManager(parent)
    , m_hub(hub)
{
}

QNetworkReply *ClientAccessManager::createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData)
{
    auto *body = qobject_cast<QBuffer *>(outgoingData);
    if (op != PostOperation || !body || request.url().scheme() != QLatin1String("http")
        || !request.header(QNetworkRequest::ContentTypeHeader).toString().startsWith(QLatin1String("multipart/form-data")))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    return new SocketUploadReply(this, m_hub, request, body->data());
}

} // namespace Veltro
