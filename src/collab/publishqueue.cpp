#include "publishqueue_p.h"

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThreadPool>
#include <QWaitCondition>

#include <atomic>

#include "lzmacodec_p.h"

namespace {

// One worker thread for every collaboration object of the process: large
// payloads are occasional, one thread leaves the other cores to the host, and
// only one kept coder exists at a time. After 30 s without work the thread
// ends and its coder is released with it.
class CompressionPool : public QThreadPool
{
public:
    CompressionPool() { setMaxThreadCount(1); }
};
Q_GLOBAL_STATIC(CompressionPool, compressionPool)

} // namespace

// What the queue and the jobs it started share; outlives whichever ends last.
struct PublishQueue::Channel
{
    QMutex mutex;
    QWaitCondition finished;
    QObject *owner = nullptr; // null once the queue is gone
    std::function<void()> ready;
};

struct PublishQueue::Job
{
    QString head, tail;
    std::function<QString()> text;
    std::atomic<bool> cancelled{false};
    // Guarded by the channel's mutex.
    bool done = false;
    QString frame;
};

PublishQueue::PublishQueue(QObject *owner, std::function<void()> ready)
    : channel(std::make_shared<Channel>())
{
    channel->owner = owner;
    channel->ready = std::move(ready);
}

PublishQueue::~PublishQueue()
{
    clear();
    QMutexLocker lock(&channel->mutex);
    channel->owner = nullptr;
}

void PublishQueue::append(QString frame, int kind)
{
    entries.push_back({std::move(frame), kind, nullptr});
}

void PublishQueue::appendCompressed(QString head, std::function<QString()> text, QString tail, int kind)
{
    auto job = std::make_shared<Job>();
    job->head = std::move(head);
    job->text = std::move(text);
    job->tail = std::move(tail);
    entries.push_back({QString(), kind, job});
    std::shared_ptr<Channel> ch = channel;
    compressionPool()->start([job, ch] {
        QString frame;
        if (!job->cancelled.load(std::memory_order_relaxed)) {
            // Kept for the thread's life: a fresh coder maps and clears its
            // match-finder tables anew for every message.
            static thread_local Veltro::LzmaCoder coder;
            QString compressed;
            lzmaCompress64(coder, job->text(), &compressed);
            job->text = nullptr; // only the worker touches it once started
            frame = job->head + compressed + job->tail;
        }
        QMutexLocker lock(&ch->mutex);
        job->frame = std::move(frame);
        job->done = true;
        ch->finished.wakeAll();
        if (ch->owner && !job->cancelled.load(std::memory_order_relaxed))
            QMetaObject::invokeMethod(ch->owner, ch->ready, Qt::QueuedConnection);
    });
}

QList<PublishQueue::Frame> PublishQueue::takeReady() { return take(false); }
QList<PublishQueue::Frame> PublishQueue::waitAndTakeAll() { return take(true); }

QList<PublishQueue::Frame> PublishQueue::take(bool wait)
{
    QList<Frame> out;
    QMutexLocker lock(&channel->mutex);
    while (!entries.empty()) {
        Entry &e = entries.front();
        if (e.job) {
            while (wait && !e.job->done)
                channel->finished.wait(&channel->mutex);
            if (!e.job->done)
                break;
            e.frame = std::move(e.job->frame);
        }
        out.append({std::move(e.frame), e.kind});
        entries.pop_front();
    }
    return out;
}

void PublishQueue::clear()
{
    for (const Entry &e : entries)
        if (e.job)
            e.job->cancelled.store(true, std::memory_order_relaxed);
    entries.clear();
}
