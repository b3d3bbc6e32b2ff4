// Coalesces a model's changes into one application per frame: the first
// change schedules it from the event loop, no sooner than one frame after
// the last one, so a burst costs a view one update.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace Veltro {

class FrameClock
{
public:
    /// One frame of a 60 Hz display, in ms.
    static constexpr int FRAME_MS = 16;

    FrameClock(QObject *owner, std::function<void()> apply)
        : m_timer(owner)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, owner, std::move(apply));
    }

    /// Asks for an application: at the next turn of the event loop, or once
    /// a frame has passed since the last one.
    void schedule()
    {
        if (m_timer.isActive())
            return;
        const qint64 since = m_last.isValid() ? m_last.elapsed() : FRAME_MS;
        m_timer.start(int(qMax<qint64>(0, FRAME_MS - since)));
    }
    /// Asks for the next part of a sliced application at the next turn.
    void continueSoon() { m_timer.start(0); }
    /// An application is being made now (scheduled or not).
    void applied()
    {
        m_timer.stop();
        m_last.start();
    }
    bool pending() const { return m_timer.isActive(); }

private:
    QTimer m_timer;
    QElapsedTimer m_last;
};

} // namespace Veltro
