#include "lowdelaytuner_p.h"

#include <QHostInfo>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

// Only Qt 5 needs it, and only Unix lets a process list its descriptors.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_UNIX)
#define VELTRO_LOW_DELAY_TUNING 1
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace Veltro {

#ifdef VELTRO_LOW_DELAY_TUNING
namespace {

// Descriptors above this are not looked at where the system cannot list them.
constexpr int MAX_SCANNED_FD = 1024;

template<typename F>
void forEachDescriptor(F f)
{
#ifdef Q_OS_LINUX
    if (DIR *dir = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(dir);
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            const int fd = std::atoi(entry->d_name);
            if (fd != own)
                f(fd);
        }
        ::closedir(dir);
        return;
    }
#endif
    const long open = ::sysconf(_SC_OPEN_MAX);
    const int last = int(qBound(0L, open, long(MAX_SCANNED_FD)));
    for (int fd = 0; fd < last; ++fd)
        f(fd);
}

} // namespace
#endif

void LowDelayTuner::setEndpoint(const QUrl &url)
{
#ifdef VELTRO_LOW_DELAY_TUNING
    const quint16 port = quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
    if (url.host() == m_service.host && port == m_service.port)
        return;
    m_service.host = url.host();
    m_service.port = port;
    resolve(&m_service);

    // The connection goes to the proxy the manager picks for this URL, if any.
    m_proxy.host.clear();
    m_proxy.port = 0;
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url));
    if (!proxies.isEmpty()) {
        const QNetworkProxy &p = proxies.first();
        if (p.type() != QNetworkProxy::NoProxy && p.type() != QNetworkProxy::DefaultProxy) {
            m_proxy.host = p.hostName();
            m_proxy.port = p.port();
        }
    }
    resolve(&m_proxy);
#else
    Q_UNUSED(url)
#endif
}

void LowDelayTuner::resolve(Endpoint *e)
{
    if (e->lookupId >= 0)
        QHostInfo::abortHostLookup(e->lookupId);
    e->lookupId = -1;
    e->addresses.clear();
    if (e->host.isEmpty())
        return;
    QHostAddress literal;
    if (literal.setAddress(e->host)) {
        e->addresses.append(literal);
        return;
    }
    // Usually answered from the cache that the manager's own lookup filled.
    const QString name = e->host;
    const bool service = e == &m_service;
    e->lookupId = QHostInfo::lookupHost(name, this, [this, name, service](const QHostInfo &info) {
        Endpoint &target = service ? m_service : m_proxy;
        if (target.host != name)
            return;
        target.lookupId = -1;
        target.addresses = info.addresses();
    });
}

#ifdef VELTRO_LOW_DELAY_TUNING
bool LowDelayTuner::isEndpoint(int fd) const
{
    sockaddr_storage peer;
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return false;
    quint16 port;
    if (peer.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in *>(&peer)->sin_port);
    else if (peer.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&peer)->sin6_port);
    else
        return false;
    const QHostAddress address(reinterpret_cast<const sockaddr *>(&peer));
    for (const Endpoint *e : {&m_service, &m_proxy}) {
        if (e->port != port)
            continue;
        for (const QHostAddress &a : e->addresses) {
            if (a.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
    }
    return false;
}

LowDelayTuner::Peer LowDelayTuner::examine(int fd, bool known) const
{
    // Fails at once for anything but a TCP socket.
    int on = 0;
    socklen_t length = sizeof on;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) != 0)
        return Peer::Other;
    // A known descriptor that still has the option is the same connection
    // (or one that needs nothing); only a listing checks the peer of others.
    if (on && known)
        return Peer::Tuned;
    if (!isEndpoint(fd))
        return Peer::Other;
    if (on)
        return Peer::Tuned;
    const int one = 1;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0 ? Peer::Changed : Peer::Other;
}
#endif

int LowDelayTuner::tune()
{
    int changed = 0;
#ifdef VELTRO_LOW_DELAY_TUNING
    if (m_service.addresses.isEmpty() && m_proxy.addresses.isEmpty())
        return 0;
    bool rescan = ++m_sinceScan >= RESCAN_EVERY;
    if (m_known.isEmpty()) {
        if (m_skip > 0) {
            --m_skip;
            return 0;
        }
        rescan = true;
    }
    for (int fd : qAsConst(m_known)) {
        const Peer p = examine(fd, true);
        if (p == Peer::Changed)
            ++changed;
        else if (p == Peer::Other)
            rescan = true; // closed, or the number now names another socket
    }
    if (!rescan)
        return changed;
    m_known.clear();
    m_sinceScan = 0;
    forEachDescriptor([&](int fd) {
        const Peer p = examine(fd, false);
        if (p == Peer::Changed)
            ++changed;
        if (p != Peer::Other)
            m_known.append(fd);
    });
    // Nothing connected to the endpoint (a failed request): list again
    // after 1, 2, 4 ... calls rather than after every one.
    m_backoff = m_known.isEmpty() ? qBound(1, m_backoff * 2, RESCAN_EVERY) : 0;
    m_skip = m_backoff;
#endif
    return changed;
}

} // namespace Veltro
