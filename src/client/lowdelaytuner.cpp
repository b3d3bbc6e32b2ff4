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

bool LowDelayTuner::isActive()
{
#ifdef VELTRO_LOW_DELAY_TUNING
    return true;
#else
    return false;
#endif
}

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
    QHostAddress literal;
    if (e->host.isEmpty())
        return;
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

int LowDelayTuner::tune()
{
    int changed = 0;
#ifdef VELTRO_LOW_DELAY_TUNING
    if (m_service.addresses.isEmpty() && m_proxy.addresses.isEmpty())
        return 0;
    const auto matches = [](const Endpoint &e, const QHostAddress &address, quint16 port) {
        if (e.port != port)
            return false;
        for (const QHostAddress &a : e.addresses) {
            if (a.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
        return false;
    };
    forEachDescriptor([&](int fd) {
        // Fails at once for anything but a TCP socket.
        int on = 0;
        socklen_t length = sizeof on;
        if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) != 0 || on)
            return;
        sockaddr_storage peer;
        socklen_t peerLength = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
            return;
        quint16 port;
        if (peer.ss_family == AF_INET)
            port = ntohs(reinterpret_cast<const sockaddr_in *>(&peer)->sin_port);
        else if (peer.ss_family == AF_INET6)
            port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&peer)->sin6_port);
        else
            return;
        const QHostAddress address(reinterpret_cast<const sockaddr *>(&peer));
        if (!matches(m_service, address, port) && !matches(m_proxy, address, port))
            return;
        const int one = 1;
        if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0)
            ++changed;
    });
#endif
    return changed;
}

} // namespace Veltro
