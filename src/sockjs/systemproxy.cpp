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

QString systemProxyString()
{
    const QNetworkProxy proxy = systemProxy();
    if (proxy.port() == 0)
        return QString();
    return proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port());
}
