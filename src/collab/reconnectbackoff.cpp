#include "reconnectbackoff_p.h"

#include <QtGlobal>

void ReconnectBackoff::setDelays(int initial, int max)
{
    initialMs = qMax(1, initial);
    maxMs = qMax(initialMs, max);
}

void ReconnectBackoff::setLimits(int attemptsLimit, qint64 totalMs)
{
    maxAttempts = qMax(0, attemptsLimit);
    maxTotalMs = qMax<qint64>(0, totalMs);
}

void ReconnectBackoff::reset()
{
    attempts = 0;
}

int ReconnectBackoff::next(qint64 nowMs, double random)
{
    if (attempts == 0)
        firstDropMs = nowMs;
    if (maxAttempts > 0 && attempts >= maxAttempts)
        return -1;
    // Doubling from the first delay, capped; the shift is bounded so it cannot overflow.
    const qint64 ceiling = qMin<qint64>(maxMs, qint64(initialMs) << qMin(attempts, 20));
    // Jitter over the upper half keeps a class of presenters behind one
    // access point from reconnecting in lock step, yet never waits less than half.
    const int delay = int(ceiling / 2 + qint64(qBound(0.0, random, 1.0) * double(ceiling - ceiling / 2)));
    if (maxTotalMs > 0 && nowMs - firstDropMs + delay > maxTotalMs)
        return -1;
    ++attempts;
    return qMax(1, delay);
}
