// The link-quality figure: how long the presenter's own broadcasts take to
// come back on the session address. Frames are matched to their echoes by
// message type and payload, oldest first for equal ones; the figure is the
// median of the last few round trips. Pure bookkeeping on the times it is
// given, so it can be tested without a clock or a network. Not installed.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <deque>

class RoundTripMeter
{
public:
    /// Frames waiting for their echo, at most (the oldest go first).
    static const int MAX_WAITING = 16;
    /// A frame whose echo has not come within this many milliseconds is forgotten.
    static const int EXPIRY_MS = 30000;
    /// Round trips the median is taken of.
    static const int SAMPLES = 5;
    /// A change smaller than this (ms), or than a quarter of the figure last
    /// reported, is not worth reporting.
    static const int MIN_CHANGE_MS = 20;

    /// The key of a message: its type and its compressed payload.
    static QString key(const QString &type, QStringView payload);
    /// The key of an outgoing publish frame if it goes where `prefix` says
    /// (the frame's text up to its body: type and address), else a null text.
    /// Reads both the envelope form and the serialized message object.
    static QString keyOfFrame(const QString &frame, const QString &prefix);

    /// A frame with `key` was handed to the transport at `nowMs`.
    void sent(const QString &key, qint64 nowMs);
    /// A frame with `key` came back at `nowMs`. True when the figure to report
    /// changed markedly (or became known).
    bool echoed(const QString &key, qint64 nowMs);
    /// The connection ended: everything is forgotten. True when a known figure
    /// became unknown.
    bool clear();

    /// The median of the last round trips in ms, -1 when none is known.
    int value() const;
    /// The figure last reported (what echoed() or clear() returned true for).
    int reported() const { return m_reported; }
    /// Frames waiting for their echo.
    int waiting() const { return int(m_waiting.size()); }

private:
    struct Waiting
    {
        QString key;
        qint64 sentMs;
    };
    void expire(qint64 nowMs);

    std::deque<Waiting> m_waiting;
    QList<int> m_samples;
    int m_reported = -1;
};
