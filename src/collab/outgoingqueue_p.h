// Frames the host published while the live connection was down, kept in
// order for the moment it is back. Bounded by a frame count and a size; past
// either bound the oldest frames go first and are counted.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>

class OutgoingQueue
{
public:
    static const int DEFAULT_MAX_FRAMES = 1000;
    static const qint64 DEFAULT_MAX_CHARS = 16 * 1024 * 1024;

    /// Bounds; a frame's size is its length in characters (frames are ASCII
    /// JSON around Base64 payloads, so one byte each on the wire).
    explicit OutgoingQueue(int maxFrames = DEFAULT_MAX_FRAMES, qint64 maxChars = DEFAULT_MAX_CHARS);

    /// Appends a frame; returns how many frames were dropped to stay within
    /// bounds (a frame larger than the whole bound is itself dropped).
    int push(const QString &frame);
    /// Every queued frame, oldest first; the queue is left empty.
    QStringList takeAll();
    /// Forgets the queued frames (not counted as dropped).
    void clear();

    int size() const { return int(frames.size()); }
    qint64 chars() const { return totalChars; }
    /// Frames dropped because of the bounds since construction.
    qint64 dropped() const { return droppedCount; }

private:
    std::deque<QString> frames;
    int maxFrames;
    qint64 maxChars;
    qint64 totalChars = 0;
    qint64 droppedCount = 0;
};
