// Plain-HTTP uploads on a connection of the client's own. The network layer
// hands a request body to its connection thread 16 KiB at a time, a round
// trip between threads each, which makes a 1 MiB upload twice as slow as the
// wire. The access manager below answers multipart POSTs to http addresses
// with a reply that writes the whole body on a socket of the caller's thread
// and reads the answer with the worker's HTTP reader. Over TLS the
// encryption outweighs those round trips and a new connection would add a
// handshake per upload, so https stays with the network layer and its
// kept-alive connection. To the call engine it is a reply like any other, so
// redirects, size limits, timeouts and outcomes stay the engine's. Not installed.
#pragma once

#include <QNetworkAccessManager>

namespace Veltro {

class NetworkHub;

class ClientAccessManager : public QNetworkAccessManager
{
public:
    ClientAccessManager(NetworkHub *hub, QObject *parent);

protected:
    /// A multipart POST to an http address goes on a socket of its own (the
    /// hub's proxy, the jar's cookies, server authentication asked through
    /// authenticationRequired() once); every other request is the network layer's.
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData) override;

private:
    NetworkHub *m_hub;
};

} // namespace Veltro
