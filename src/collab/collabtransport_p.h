// What PresenterCollab needs of a connection, and the library's one: the
// SockJS connector. Tests substitute a transport that records frames and
// fakes its state. Not installed.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include "sockjsconnector.h"
#include "veltronamespace.h"

namespace Veltro {
class NetworkHub;
}

class CollabTransport
{
public:
    virtual ~CollabTransport() = default;
    /// Protocols are the transport values (1 websocket, 2 xhr-streaming,
    /// 4 xhr-polling) in the order to try.
    virtual void open(const QUrl &url, const QList<int> &protocols) = 0;
    virtual void send(const QString &frame, bool bIsPing) = 0;
    virtual bool isConnected() const = 0;
    virtual void close() = 0;
    virtual void setDeadLinkLimit(int ms) = 0;
    /// Why the last open failed or the connection ended (None after close();
    /// a transport that cannot tell leaves it None).
    virtual Veltro::Error error() const { return Veltro::Error::None; }
    virtual QString errorString() const { return QString(); }
    /// Teardown: hands `lastFrame` (when not empty) to a connected transport
    /// without an event loop and ends it; nothing is reported, now or later.
    virtual void closeNow(const QString &lastFrame)
    {
        Q_UNUSED(lastFrame)
        close();
    }
    /// TLS, proxy and the host's answers for the transports opened from now on.
    virtual void setNetworkHub(Veltro::NetworkHub *hub) { Q_UNUSED(hub) }
};

/// The library's transport: the SockJS connector.
class ConnectorTransport : public CollabTransport
{
public:
    explicit ConnectorTransport(SockJSConnector *c) : connector(c) {}
    void open(const QUrl &url, const QList<int> &protocols) override
    {
        QList<SockJSProtocol> list;
        for (int value : protocols)
            list.append(static_cast<SockJSProtocol>(value));
        connector->open(url, list);
    }
    void send(const QString &frame, bool bIsPing) override { connector->send(frame, bIsPing); }
    bool isConnected() const override { return connector->isConnected(); }
    void close() override { connector->close(); }
    void setDeadLinkLimit(int ms) override { connector->setDeadLinkLimit(ms); }
    Veltro::Error error() const override { return connector->error(); }
    QString errorString() const override { return connector->errorString(); }
    void closeNow(const QString &lastFrame) override { connector->closeNow(lastFrame); }
    void setNetworkHub(Veltro::NetworkHub *hub) override { connector->setNetworkHub(hub); }

private:
    SockJSConnector *connector;
};
