#include "publishqueue_p.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "lzmacodec_p.h"
#include "wakepipe_p.h"

// What the queue and its jobs share; outlives whichever ends last. Standard
// mutexes and a pipe for the wake-up, so thread checkers see every hand-off.
struct PublishQueue::Channel
{
    std::mutex mutex;
    WakePipe *wake = nullptr; // null once the queue is gone
};

struct PublishQueue::Job
{
    std::shared_ptr<Channel> channel;
    QString head, tail;
    std::function<QString()> text;
    std::atomic<bool> cancelled{false};
    // Guarded by the channel's mutex.
    bool done = false;
    QString frame;

    void run()
    {
        QString out;
        if (!cancelled.load(std::memory_order_relaxed)) {
            // Kept for the thread's life: a fresh coder maps and clears its
            // match-finder tables anew for every message.
            static thread_local Veltro::LzmaCoder coder;
            QString compressed;
            lzmaCompress64(coder, text(), &compressed);
            out = head + compressed + tail;
        }
        text = nullptr;
        std::lock_guard<std::mutex> lock(channel->mutex);
        frame = std::move(out);
        done = true;
        if (channel->wake && !cancelled.load(std::memory_order_relaxed))
            channel->wake->wake();
    }
};

namespace {

// One worker thread for every collaboration object of the process: large
// payloads are occasional, one thread leaves the other cores to the host, and
// only one kept coder exists at a time. After 30 s without work the thread
// ends and its coder goes with it; the next job starts it again. Jobs are
// handed over under a standard mutex, so thread checkers see every hand-off.
class Worker : public QThread
{
public:
    void start(std::shared_ptr<PublishQueue::Job> job)
    {
        bool launch = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            jobs.push_back(std::move(job));
            launch = !running;
            running = true;
        }
        if (launch) {
            wait(); // a thread that has just gone idle finishes first
            QThread::start();
        } else {
            wakeUp.notify_one();
        }
    }

    ~Worker() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wakeUp.notify_all();
        wait();
    }

protected:
    void run() override
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const bool work = wakeUp.wait_for(lock, std::chrono::seconds(30),
                                              [this] { return stopping || !jobs.empty(); });
            if (!work || stopping) {
                running = false;
                return;
            }
            std::shared_ptr<PublishQueue::Job> job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            job->run();
            job.reset();
            lock.lock();
        }
    }

private:
    std::mutex mutex;
    std::condition_variable wakeUp;
    std::deque<std::shared_ptr<PublishQueue::Job>> jobs;
    bool running = false;
    bool stopping = false;
};
Q_GLOBAL_STATIC(Worker, worker)

} // namespace

PublishQueue::PublishQueue(std::function<void()> ready)
    : channel(std::make_shared<Channel>())
    , wake(std::make_unique<WakePipe>())
{
    QObject::connect(wake.get(), &WakePipe::woken, wake.get(), std::move(ready));
    channel->wake = wake.get();
}

PublishQueue::~PublishQueue()
{
    clear();
    std::lock_guard<std::mutex> lock(channel->mutex);
    channel->wake = nullptr;
}

void PublishQueue::append(QString frame, int kind)
{
    entries.push_back({std::move(frame), kind, nullptr});
}

void PublishQueue::appendCompressed(QString head, std::function<QString()> text, QString tail, int kind)
{
    auto job = std::make_shared<Job>();
    job->channel = channel;
    job->head = std::move(head);
    job->text = std::move(text);
    job->tail = std::move(tail);
    entries.push_back({QString(), kind, job});
    worker()->start(std::move(job));
}

QList<PublishQueue::Frame> PublishQueue::takeReady()
{
    QList<Frame> out;
    std::lock_guard<std::mutex> lock(channel->mutex);
    while (!entries.empty()) {
        Entry &e = entries.front();
        if (e.job) {
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
