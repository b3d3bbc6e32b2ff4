// What both window tests use: a watch for nested event loops and where screenshots go.
#pragma once

#include <QCoreApplication>
#include <QString>
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
