#include "standin.h"
#include "testsupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>

StandIn *StandIn::shared()
{
    static StandIn *instance = [] () -> StandIn * {
        QFile f(qEnvironmentVariable("VELTRO_SIM_INFO"));
        if (!f.open(QIODevice::ReadOnly)) {
            qWarning("stand-in fixture not running (VELTRO_SIM_INFO=%s)", qPrintable(f.fileName()));
            return nullptr;
        }
        auto *s = new StandIn;
        s->m_info = QJsonDocument::fromJson(f.readLine()).object();
        return s;
    }();
    return instance;
}

std::unique_ptr<StandIn> StandIn::launch(const QStringList &args, int timeoutMs)
{
    std::unique_ptr<StandIn> s(new StandIn);
    s->m_args = args;
    if (!s->start(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + args, timeoutMs))
        return nullptr;
    return s;
}

bool StandIn::relaunch(int timeoutMs)
{
    if (!m_process)
        return false;
    const QString port = QString::number(m_info.value(QStringLiteral("port")).toInt());
    return start(QStringList{QStringLiteral("--port"), port} + m_args, timeoutMs);
}

bool StandIn::start(const QStringList &args, int timeoutMs)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setReadChannel(QProcess::StandardOutput);
    QStringList all{sourcePath(QStringLiteral("sim/server.js")), QStringLiteral("--max-lifetime"),
                    QStringLiteral("900")};
    all += args;
    const QDeadlineTimer deadline(timeoutMs);
    m_process->start(nodeProgram(), all);
    if (!m_process->waitForStarted(timeoutMs))
        return false;
    // The ready line is the first one naming the control interface.
    QJsonObject ready;
    while (ready.isEmpty() && m_process->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        m_process->waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
        while (ready.isEmpty() && m_process->canReadLine()) {
            ready = QJsonDocument::fromJson(m_process->readLine()).object();
            if (!ready.contains(QStringLiteral("control")))
                ready = {};
        }
    }
    if (ready.isEmpty()) {
        qWarning("stand-in did not start: %s", m_process->readAllStandardError().constData());
        return false;
    }
    m_info = ready;
    // Its log is not read from here on: dropped as it comes, so a long run holds none of it.
    QProcess *p = m_process.get();
    QObject::connect(p, &QProcess::readyReadStandardError, p, [p] { p->readAllStandardError(); });
    p->readAllStandardError();
    return true;
}

StandIn::~StandIn()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
    }
}

void StandIn::kill()
{
    if (m_process) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

QJsonDocument StandIn::control(const QByteArray &method, const QString &path, const QJsonObject &body,
                               int timeoutMs, int *status) const
{
    QNetworkAccessManager nam;
    QNetworkRequest req(QUrl(m_info.value(QStringLiteral("control")).toString() + path));
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false); // the service speaks HTTP/1.1 only
    const QString caFile = m_info.value(QStringLiteral("caFile")).toString();
    if (!caFile.isEmpty()) {
        // A --tls instance: trust its generated authority for the control calls.
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates(QSslCertificate::fromPath(caFile));
        req.setSslConfiguration(ssl);
    }
    QNetworkReply *reply = method == "GET"
        ? nam.get(req)
        : nam.sendCustomRequest(req, method, QJsonDocument(body).toJson(QJsonDocument::Compact));
    waitUntil(timeoutMs, [reply] { return reply->isFinished(); });
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QJsonDocument doc;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        doc = QJsonDocument::fromJson(reply->readAll());
    else
        reply->abort();
    delete reply;
    return doc;
}

QJsonArray StandIn::addLearners(const QString &sessionCode, int count, const QString &transport,
                                const QJsonObject &extra) const
{
    QJsonObject body = extra;
    body.insert(QStringLiteral("sessionCode"), sessionCode);
    body.insert(QStringLiteral("count"), count);
    body.insert(QStringLiteral("transport"), transport);
    // Many learners over a slow transport take a while to walk in.
    return control("POST", QStringLiteral("/learners"), body, 15000 + 100 * count)
        .object().value(QStringLiteral("learners")).toArray();
}

QJsonArray StandIn::records(const QString &token) const
{
    return control("GET", QStringLiteral("/records?token=") + QString::fromLatin1(QUrl::toPercentEncoding(token)))
        .object().value(QStringLiteral("records")).toArray();
}

static bool posted(const StandIn *s, const QString &path, const QJsonObject &body)
{
    int status = 0;
    s->control("POST", path, body, 15000, &status);
    return status == 200;
}

bool StandIn::setSwitches(const QJsonObject &switches) const { return posted(this, QStringLiteral("/switches"), switches); }
bool StandIn::reset() const { return posted(this, QStringLiteral("/reset"), {}); }
