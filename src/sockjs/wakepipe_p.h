// A wake-up signal from any thread to the thread that created the WakePipe:
// on POSIX systems a non-blocking pipe watched by a QSocketNotifier, so that
// the hand-off is a plain write/read pair that thread checkers understand
// (a posted Qt event synchronises inside Qt, where they cannot see it).
// Elsewhere a queued call does the same job.
#pragma once

#include <QObject>

class QSocketNotifier;

class WakePipe : public QObject
{
    Q_OBJECT

public:
    /// Create on the thread that is to be woken; woken() is emitted there.
    explicit WakePipe(QObject *parent = nullptr);
    ~WakePipe() override;

    /// Wakes the owning thread; several calls before it runs make one woken().
    /// Any thread.
    void wake();

signals:
    void woken();

private slots:
    void onReadable();

private:
    int fds[2] = {-1, -1};
    QSocketNotifier *notifier = nullptr;
};
