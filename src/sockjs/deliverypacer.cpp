#include "deliverypacer_p.h"

#include "wakepipe_p.h"

#include <QElapsedTimer>

namespace Veltro {

bool BacklogBudget::take(qint64 bytes)
{
    qint64 used = m_used.load();
    do {
        if (used + bytes > m_max.load())
            return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    return true;
}

PacerBase::PacerBase(QObject *parent, bool crossThread)
    : QObject(parent)
{
    if (crossThread) {
        wakePipe = new WakePipe(this);
        connect(wakePipe, &WakePipe::woken, this, &PacerBase::drain);
    }
}

PacerBase::~PacerBase() = default;

void PacerBase::scheduleLocked()
{
    if (scheduled)
        return;
    scheduled = true;
    if (wakePipe)
        wakePipe->wake();
    else
        QMetaObject::invokeMethod(this, &PacerBase::drain, Qt::QueuedConnection);
}

void PacerBase::drain()
{
    // A handler's nested event loop: the drain under way keeps the order and
    // carries on once that handler returns.
    if (draining)
        return;
    QPointer<PacerBase> self(this);
    draining = true;
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        if (slice.elapsed() >= SLICE_MS) {
            // Scheduled: later pushes wake nobody, the next turn carries on.
            {
                std::lock_guard<std::mutex> lock(mutex);
                scheduled = true;
            }
            QMetaObject::invokeMethod(this, &PacerBase::drain, Qt::QueuedConnection);
            break;
        }
        if (!deliverOne())
            break;
        if (!self)
            return;
    }
    draining = false;
}

} // namespace Veltro
