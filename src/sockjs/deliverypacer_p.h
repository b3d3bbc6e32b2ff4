// Hands what a connection received to its owner's thread in order, a few
// milliseconds of that thread at a time, and keeps the bytes waiting under
// one bound. The connector paces the messages it hands to its owner, the XHR
// transport the reports of its worker thread; both charge the same budget.
#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

class WakePipe;

namespace Veltro {

/// Bytes received and not yet handed on, against one bound. Shared by the
/// pacers of one connection; any thread.
class BacklogBudget
{
public:
    /// Default bound of what waits for the host, in bytes.
    static constexpr qint64 DEFAULT_MAX = 64 * 1024 * 1024;

    explicit BacklogBudget(qint64 max = DEFAULT_MAX) : m_max(max) {}
    /// Charges `bytes`; false, and nothing charged, when the bound would be crossed.
    bool take(qint64 bytes);
    /// Gives back what take() charged.
    void give(qint64 bytes) { m_used.fetch_sub(bytes); }
    qint64 used() const { return m_used.load(); }
    qint64 max() const { return m_max.load(); }
    /// Takes effect for what arrives from now on.
    void setMax(qint64 bytes) { m_max.store(bytes); }

private:
    std::atomic<qint64> m_used{0};
    std::atomic<qint64> m_max;
};

/// The scheduling half of DeliveryPacer: drains on the owner's thread, at most
/// SLICE_MS at a time, and comes back at the next turn of the event loop.
class PacerBase : public QObject
{
    Q_OBJECT

public:
    /// Longest run of deliveries before the owner's event loop gets a turn.
    static constexpr int SLICE_MS = 5;

    ~PacerBase() override;

    /// Hands on what waits now, on the owner's thread (a slice at most),
    /// rather than at the next turn of the event loop; nothing when a drain
    /// is under way. Saves the turn when the caller is itself an event.
    void drainNow() { drain(); }

protected:
    /// `crossThread`: items may be pushed from other threads (woken through
    /// a pipe that thread checkers understand).
    PacerBase(QObject *parent, bool crossThread);
    /// Asks for a drain; call with `mutex` held, right after adding an item.
    void scheduleLocked();
    /// Hands on the oldest item; false when there was none (the schedule is
    /// then cleared). May delete the owner, and so this pacer.
    virtual bool deliverOne() = 0;

    std::mutex mutex;
    bool scheduled = false;   // guarded by mutex

private:
    void drain();

    WakePipe *wakePipe = nullptr;
    bool draining = false;
};

/// Takes items on any thread (or the owner's, see PacerBase) and hands each to
/// `handler` on the owner's thread, in order.
template <typename T>
class DeliveryPacer final : public PacerBase
{
public:
    using Handler = std::function<void(T &&)>;

    /// `budget`: charged for each item's bytes until it is handed on; a
    /// private one with the default bound when null.
    DeliveryPacer(QObject *parent, Handler handler, std::shared_ptr<BacklogBudget> budget = {},
                  bool crossThread = false)
        : PacerBase(parent, crossThread)
        , m_handler(std::move(handler))
        , m_budget(budget ? std::move(budget) : std::make_shared<BacklogBudget>())
    {
    }
    ~DeliveryPacer() override { takeAll(); }

    /// Queues `item`, costing `bytes` of the budget, and asks for a drain at
    /// the next turn of the event loop. False, and the item dropped, when
    /// the budget cannot take it.
    bool push(T item, qint64 bytes = 0) { return enqueue(std::move(item), bytes, true); }
    /// Queues `item` like push() without asking for a drain: the caller, on
    /// the owner's thread, follows with drainNow().
    bool add(T item, qint64 bytes = 0) { return enqueue(std::move(item), bytes, false); }

    /// Removes every item not yet handed on and returns them (their bytes
    /// go back to the budget).
    std::deque<T> takeAll()
    {
        std::deque<std::pair<T, qint64>> items;
        {
            std::lock_guard<std::mutex> lock(mutex);
            items.swap(m_items);
        }
        std::deque<T> out;
        for (auto &i : items) {
            m_budget->give(i.second);
            out.push_back(std::move(i.first));
        }
        return out;
    }

    bool isEmpty()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return m_items.empty();
    }
    const std::shared_ptr<BacklogBudget> &budget() const { return m_budget; }

private:
    bool enqueue(T &&item, qint64 bytes, bool schedule)
    {
        if (bytes > 0 && !m_budget->take(bytes))
            return false;
        std::lock_guard<std::mutex> lock(mutex);
        m_items.emplace_back(std::move(item), bytes);
        if (schedule)
            scheduleLocked();
        return true;
    }

    bool deliverOne() override
    {
        std::pair<T, qint64> next;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (m_items.empty()) {
                scheduled = false;
                return false;
            }
            next = std::move(m_items.front());
            m_items.pop_front();
        }
        m_budget->give(next.second);
        m_handler(std::move(next.first));
        return true;
    }

    Handler m_handler;
    std::shared_ptr<BacklogBudget> m_budget;
    std::deque<std::pair<T, qint64>> m_items;   // guarded by mutex
};

} // namespace Veltro
