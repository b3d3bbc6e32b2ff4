// What both window tests use: a watch for nested event loops, a service that holds its answers, and where
// screenshots go.
#pragma once

#include <QCoreApplication>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Counts the turns of the event loop taken inside a watched step: a timer due
// at once, running only during the step, fires there only if the step runs a
// nested loop (a blocking call's wait, processEvents(), exec()).
class LoopWatch : public QObject
{
public:
    explicit LoopWatch(QObject *parent) : QObject(parent)
    {
        m_tick.setInterval(0);
        connect(&m_tick, &QTimer::timeout, this, [this] { ++m_nested; });
    }
    template <class Step> void run(Step step)
    {
        m_tick.start();
        step();
        m_tick.stop();
    }
    int nested() const { return m_nested; }

private:
    QTimer m_tick;
    int m_nested = 0;
};

inline LoopWatch *watch()
{
    static LoopWatch *w = new LoopWatch(QCoreApplication::instance());
    return w;
}

// The PNG file for the state `name` when VELTRO_SCREENSHOTS names a folder (scripts/screenshots), else empty.
inline QString screenshotPath(const char *name)
{
    const QString dir = qEnvironmentVariable("VELTRO_SCREENSHOTS");
    return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
}

// A service that holds every request until released, as a slow one would, and
// counts the connections dropped by the client.
class SlowService : public QTcpServer
{
public:
    SlowService()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::disconnected, this, [this] { ++dropped; });
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    m_waiting[s] += s->readAll().count("POST ");
                    release(m_released);
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
    int held() const
    {
        int n = 0;
        for (int w : m_waiting)
            n += w;
        return n;
    }
    int dropped = 0;
    void release(bool released = true)
    {
        const QByteArray body = R"({"infoMsgKeys":["success"],"data":{}})";
        m_released = released;
        for (auto it = m_waiting.begin(); m_released && it != m_waiting.end(); ++it) {
            for (; it.value() > 0; --it.value())
                it.key()->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                                + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
    }

private:
    QHash<QTcpSocket *, int> m_waiting;
    bool m_released = false;
};

