// Small helpers shared by the tests, the benchmarks and the fuzz targets: where the source tree and Node.js are,
// a bounded wait on the event loop, a port nothing listens on, quiet library logging, and a thread for peers.
// Nothing here needs QtTest, so programs that are not tests link it too.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>

/// `relative` below the source tree: $VELTRO_SOURCE_DIR (set by CTest) or the tree this was built from.
QString sourcePath(const QString &relative);

/// The Node.js program found when the build was configured.
QString nodeProgram();

/// A loopback port that was free a moment ago and has no listener now: connections to it are refused.
quint16 closedPort();

/// Turns off the library's debug lines (and with `warningsToo` its warnings), for programs whose output is a
/// table or whose inputs are hostile on purpose.
void quietLibraryLogging(bool warningsToo = false);

/// Turns the event loop until `done()` holds or `ms` pass; true when it holds. Between checks the thread
/// sleeps in the event loop, so a benchmark's CPU figures do not count the wait.
template <typename Done>
bool waitUntil(int ms, Done done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick, deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    tick.start(20);
    deadline.start(ms);
    loop.exec();
    return done();
}

/// A thread for peers that stand for other machines (a service, a proxy): they answer while the test's own
/// thread blocks without an event loop, as the library's teardown does. Objects made in run() live there; the
/// last run() (in the owner's destructor, say) must release them. Jobs pass through a standard mutex, not Qt's
/// event queue, so that thread checkers see every hand-off.
class PeerThread
{
public:
    PeerThread()
    {
        // On that thread: a timer takes each job, runs it and says so.
        QObject::connect(&thread, &QThread::started, [this] {
            auto *tick = new QTimer;
            QObject::connect(tick, &QTimer::timeout, [this, tick] {
                std::lock_guard<std::mutex> lock(mutex);
                if (!job)
                    return;
                job();
                job = nullptr;
                if (stopping) {
                    tick->stop();
                    tick->deleteLater();
                    QThread::currentThread()->quit();
                }
                done.notify_all();
            });
            tick->start(1);
        });
        thread.start();
    }
    ~PeerThread()
    {
        stopping = true; // read by the last job's taker, after the hand-off below
        run([] {});
        thread.wait();
    }
    /// Runs `f` there and waits for it.
    void run(std::function<void()> f)
    {
        std::unique_lock<std::mutex> lock(mutex);
        job = std::move(f);
        done.wait(lock, [this] { return !job; });
    }

private:
    QThread thread;
    std::mutex mutex;
    std::condition_variable done;
    std::function<void()> job;
    bool stopping = false;
};
