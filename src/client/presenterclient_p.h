// Private side of PresenterClient: what the library's own classes do with a
// client beyond its installed interface. Not installed.
#pragma once

#include <QString>

class PresenterClient;
class PresenterReply;

class PresenterClientPrivate
{
public:
    /// Queues a change of the service address, in order with the client's
    /// other queued calls. When its turn comes while the client is signed out
    /// and holds no session, the address (one trailing "/" dropped) is taken
    /// for every later request and the reply succeeds; otherwise nothing
    /// changes and the reply ends Cancelled. Everything the host set on or
    /// connected to the client stays.
    static PresenterReply *setServer(PresenterClient *client, const QString &server);
};
