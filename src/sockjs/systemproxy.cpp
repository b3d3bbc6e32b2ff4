#include "systemproxy.h"

#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QUrl>

QNetworkProxy systemProxy()
{
    // Any plain-HTTP address outside the local network: the proxy for the
    // outside world is the one we want, whatever host we talk to.
    const QNetworkProxyQuery query(QUrl(QStringLiteral("http://example.com/")),
                                   QNetworkProxyQuery::UrlRequest);
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(query);
    if (!proxies.isEmpty() && proxies.first().port() != 0)
        return proxies.first();
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

namespace {

// The first entry a raw socket can go through (a caching proxy cannot carry a
// tunnel); NoProxy when there is none.
QNetworkProxy firstUsable(const QList<QNetworkProxy> &proxies)
{
    for (const QNetworkProxy &p : proxies) {
        if (p.type() == QNetworkProxy::NoProxy)
            break;
        if ((p.capabilities() & QNetworkProxy::TunnelingCapability) && p.port() != 0)
            return p;
    }
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

} // namespace

bool applicationProxySet()
{
    // Setting an application proxy or factory replaces the system configuration
    // Qt uses by default (applicationProxy() itself reports the system's answer).
    return !QNetworkProxyFactory::usesSystemConfiguration();
}

QNetworkProxy proxyForServer(const QString &host, int port, bool useSsl, const QString &path)
{
    QUrl url;
    url.setScheme(useSsl ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(host);
    url.setPort(port);
    url.setPath(path.isEmpty() ? QStringLiteral("/") : path);
    const QNetworkProxyQuery query(url, QNetworkProxyQuery::UrlRequest);
    // What the host set, asked for as the access manager asks (a factory it
    // installed answers too; loopback hosts go direct).
    if (applicationProxySet())
        return firstUsable(QNetworkProxyFactory::proxyForQuery(query));
    return firstUsable(QNetworkProxyFactory::systemProxyForQuery(query));
}

QString systemProxyString()
{
    const QNetworkProxy proxy = systemProxy();
    if (proxy.port() == 0)
        return QString();
    return proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
}
