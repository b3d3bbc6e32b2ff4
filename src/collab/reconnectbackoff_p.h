// When to try the live connection again after it dropped: exponential
// backoff with jitter, bounded by an attempt count and a total time. Pure
// arithmetic on the times and random draws it is given, so it can be tested
// without a clock or a network.
#pragma once

#include <QtGlobal>

class ReconnectBackoff
{
public:
    /// First delay and the cap every later delay stays under.
    void setDelays(int initialMs, int maxMs);
    /// Give up after `maxAttempts` attempts or `maxTotalMs` since the drop (0: no limit).
    void setLimits(int maxAttempts, qint64 maxTotalMs);

    /// The link is up again: the next drop starts a new series.
    void reset();
    /// Delay before the next attempt, the link having dropped and every attempt
    /// so far failed; `nowMs` is any monotonic time, `random` a draw in [0, 1).
    /// Returns -1 when the limits say to give up.
    int next(qint64 nowMs, double random);
    /// Number of the attempt the last next() scheduled (1 for the first).
    int attempt() const { return attempts; }

private:
    int initialMs = 500;
    int maxMs = 30000;
    int maxAttempts = 0;
    qint64 maxTotalMs = 30 * 60 * 1000;
    int attempts = 0;
    qint64 firstDropMs = 0;
};
