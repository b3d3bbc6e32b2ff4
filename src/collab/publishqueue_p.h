// Frames on their way to the connection, in the order the host published
// them. A frame with a large payload is compressed on a worker thread, so the
// host's thread does not wait for it; the frames behind it wait instead, so
// none overtakes another. Not installed.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class WakePipe;

class PublishQueue
{
public:
    struct Frame
    {
        QString text;
        int kind; // the publisher's own tag, handed back with the frame
    };

    /// Create on the publishing thread; `ready` runs there, from its event
    /// loop, after background compressions have finished (never after the
    /// queue is destroyed).
    explicit PublishQueue(std::function<void()> ready);
    /// Forgets every frame; a compression under way finishes unseen.
    ~PublishQueue();
    PublishQueue(const PublishQueue &) = delete;
    PublishQueue &operator=(const PublishQueue &) = delete;

    /// Appends a complete frame.
    void append(QString frame, int kind);
    /// Appends the frame head + LzmaCompress64(text()) + tail, made on the
    /// worker thread (an empty payload if compression fails). `text` runs
    /// there too, so it may only use values it holds itself.
    void appendCompressed(QString head, std::function<QString()> text, QString tail, int kind);

    bool isEmpty() const { return entries.empty(); }
    /// The complete frames at the front, oldest first, taken out of the queue;
    /// never waits for a compression.
    QList<Frame> takeReady();
    /// Forgets every frame; compressions not started yet are skipped.
    void clear();

    struct Job; // one background compression

private:
    struct Channel;
    struct Entry
    {
        QString frame;
        int kind;
        std::shared_ptr<Job> job; // null once complete
    };

    std::shared_ptr<Channel> channel;
    std::unique_ptr<WakePipe> wake;
    std::deque<Entry> entries;
};
