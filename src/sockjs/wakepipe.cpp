#include "wakepipe_p.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

WakePipe::WakePipe(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::pipe(fds) == 0) {
        for (int fd : fds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &WakePipe::onReadable);
    }
#endif
}

WakePipe::~WakePipe()
{
#ifdef Q_OS_UNIX
    delete notifier;
    for (int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
#endif
}

void WakePipe::wake()
{
#ifdef Q_OS_UNIX
    if (fds[1] >= 0) {
        const char one = 1;
        // A full pipe already holds a pending wake-up; nothing is lost.
        [[maybe_unused]] const auto n = ::write(fds[1], &one, 1);
        return;
    }
#endif
    QMetaObject::invokeMethod(this, "woken", Qt::QueuedConnection);
}

void WakePipe::onReadable()
{
#ifdef Q_OS_UNIX
    char buf[256];
    while (::read(fds[0], buf, sizeof buf) > 0) {
    }
#endif
    emit woken();
}
