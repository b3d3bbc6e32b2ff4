// Starting the stand-in classroom service for a benchmark and talking to its
// control interface; every wait is bounded.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>

#include <memory>

#include <sys/resource.h>

class BenchSim
{
public:
    /// Starts `node server.js --port 0 args...`; null when it is not ready in time.
    static std::unique_ptr<BenchSim> launch(const QString &node, const QString &script, const QStringList &args,
                                            int timeoutMs = 30000)
    {
        std::unique_ptr<BenchSim> s(new BenchSim);
        s->m_process.setProcessChannelMode(QProcess::SeparateChannels);
        s->m_process.setStandardErrorFile(QProcess::nullDevice());
        s->m_process.start(node, QStringList{script, QStringLiteral("--port"), QStringLiteral("0"),
                                             QStringLiteral("--max-lifetime"), QStringLiteral("900")}
                                     + args);
        if (!s->m_process.waitForStarted(timeoutMs))
            return nullptr;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (s->m_process.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(s->m_process.readLine()).object();
                if (o.contains(QStringLiteral("control"))) {
                    s->m_info = o;
                    return s;
                }
                continue;
            }
            if (s->m_process.state() == QProcess::NotRunning)
                return nullptr;
            s->m_process.waitForReadyRead(200);
        }
        return nullptr;
    }

    ~BenchSim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }

    QString server() const { return m_info.value(QStringLiteral("server")).toString(); }

    /// GET or POST (JSON body) below the control URL; a null document on any failure.
    QJsonDocument control(const QByteArray &method, const QString &path, const QJsonObject &body = {},
                          int timeoutMs = 60000)
    {
        QNetworkRequest req(QUrl(m_info.value(QStringLiteral("control")).toString() + path));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply *reply = method == "GET" ? m_nam.get(req)
                                               : m_nam.post(req, QJsonDocument(body).toJson(QJsonDocument::Compact));
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        loop.exec();
        QJsonDocument doc;
        if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
            doc = QJsonDocument::fromJson(reply->readAll());
        else
            reply->abort();
        reply->deleteLater();
        return doc;
    }

private:
    BenchSim() = default;
    QProcess m_process;
    QJsonObject m_info;
    QNetworkAccessManager m_nam;
};

/// CPU time (user + system) of this process in seconds.
inline double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

/// Peak resident set of this process in MiB.
inline double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

/// Turns the event loop until `done` holds or `ms` pass; true when done.
/// Sleeps in the event loop between checks, so it costs no CPU of its own.
template <typename F>
bool waitUntil(int ms, F done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick, deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    tick.start(20);
    deadline.start(ms);
    loop.exec();
    return done();
}
