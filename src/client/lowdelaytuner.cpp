#include "lowdelaytuner_p.h"

#include <QHostInfo>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>

// Only Unix lets a process list its descriptors.
#if defined(Q_OS_UNIX)
#define VELTRO_LOW_DELAY_TUNING 1
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

quint16 portOf(const sockaddr_storage &a)
{
    if (a.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&a)->sin_port);
    if (a.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&a)->sin6_port);
    return 0;
}

// A socket option's value, -1 where it cannot be read (for TCP options: for
// anything but a TCP socket).
int option(int fd, int level, int name)
{
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
}

// A TCP connection's identity: its descriptor and local port; 0 for anything else.
quint64 connectionKey(int fd)
{
    if (option(fd, IPPROTO_TCP, TCP_NODELAY) < 0)
        return 0;
    sockaddr_storage local;
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return 0;
    const quint16 port = portOf(local);
    return port ? (quint64(quint32(fd)) << 16) | port : 0;
}

int descriptorOf(quint64 key)
{
    return int(key >> 16);
}

// The process's TCP connections now.
QVector<quint64> listConnections()
{
    QVector<quint64> keys;
    forEachDescriptor([&keys](int fd) {
        if (const quint64 key = connectionKey(fd))
            keys.append(key);
    });
    return keys;
}

// Drops the connections that have closed; returns how many are left.
int keepOpen(QVector<quint64> *keys)
{
    QVector<quint64> open;
    for (const quint64 key : qAsConst(*keys)) {
        if (connectionKey(descriptorOf(key)) == key)
            open.append(key);
    }
    *keys = open;
    return open.size();
}

} // namespace
#endif

void LowDelayTuner::setEndpoint(const QUrl &url)
{
#ifdef VELTRO_LOW_DELAY_TUNING
    const quint16 port = quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
    if (url.host() != m_service.host || port != m_service.port) {
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
    }

    if (!m_window) {
        // Nothing of the library's is in flight: its connections are idle,
        // and the manager takes one of them before it opens another.
        m_window = true;
        m_listed = false;
        m_peak = 0;
        m_adopted = 0;
        m_reusable = keepOpen(&m_own) + keepOpen(&m_unsettled);
    }
    m_peak = qMax(m_peak, ++m_inFlight);
    // A new connection can only come now: list what exists before it can.
    if (m_peak > m_reusable && !m_listed) {
        m_before = listConnections();
        std::sort(m_before.begin(), m_before.end());
        m_listed = true;
    }
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
#ifdef VELTRO_LOW_DELAY_TUNING
        // A window whose requests all ended before the answer is settled now.
        if (m_window && m_inFlight == 0 && m_service.lookupId < 0 && m_proxy.lookupId < 0) {
            adopt(true);
            m_window = false;
        }
#endif
    });
}

#ifdef VELTRO_LOW_DELAY_TUNING
bool LowDelayTuner::isEndpoint(int fd) const
{
    sockaddr_storage peer;
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return false;
    const quint16 port = portOf(peer);
    if (!port)
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

int LowDelayTuner::adopt(bool closing)
{
    QVector<int> found;
    QVector<quint64> keys;
    for (const quint64 key : listConnections()) {
        if (std::binary_search(m_before.cbegin(), m_before.cend(), key) || m_own.contains(key)
            || m_unsettled.contains(key))
            continue;
        const int fd = descriptorOf(key);
        if (option(fd, SOL_SOCKET, SO_KEEPALIVE) > 0 && option(fd, IPPROTO_TCP, TCP_NODELAY) == 0 && isEndpoint(fd)) {
            found.append(fd);
            keys.append(key);
        }
    }
    if (found.size() > m_peak - m_reusable - m_adopted) {
        // More than the library's requests could have opened: the host's are
        // among them, and which is which cannot be told.
        if (closing)
            m_unsettled += keys;
        return 0;
    }
    int changed = 0;
    const int one = 1;
    for (int i = 0; i < found.size(); ++i) {
        if (::setsockopt(found[i], IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0) {
            m_own.append(keys[i]);
            ++changed;
        }
    }
    m_adopted += found.size();
    return changed;
}
#endif

int LowDelayTuner::tune()
{
    int changed = 0;
#ifdef VELTRO_LOW_DELAY_TUNING
    m_inFlight = qMax(0, m_inFlight - 1);
    if (!m_window)
        return 0;
    const bool resolved = m_service.lookupId < 0 && m_proxy.lookupId < 0;
    if (m_listed && resolved)
        changed = adopt(m_inFlight == 0);
    // Left open while the endpoint is still being resolved: the answer settles it.
    if (m_inFlight == 0 && (resolved || !m_listed))
        m_window = false;
#endif
    return changed;
}

} // namespace Veltro
