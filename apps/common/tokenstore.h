// Where "Stay signed in" keeps a sign-in: the device access token the service
// issued, in the system keyring (the Secret Service, through QtKeychain);
// never the password, and never in a file. Shared by veltro-present and both
// windows, so that a sign-in kept by one is found by the others.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

class QObject;

class TokenStore
{
    Q_DECLARE_TR_FUNCTIONS(TokenStore)

public:
    /// Whose sign-in: one keyring entry per user and service address.
    struct Account
    {
        QString server;
        QString user;
        bool operator==(const Account &o) const { return server == o.server && user == o.user; }
    };

    /// How a keyring call ended.
    struct Outcome
    {
        enum Kind {
            Done,      ///< read: `token` holds the kept token; write, forget: done
            Missing,   ///< read: nothing is kept for the account
            NoKeyring, ///< no keyring answered or it refused access; `reason` says so in one line
        };
        Kind kind = NoKeyring;
        QString token;
        QString reason;
    };

    enum class Op { Read, Write, Forget };

    /// Starts `op` on the keyring entry of `account` (`token` is what Write
    /// keeps); `done` runs once from the event loop, unless `context` is gone.
    static void start(Op op, const Account &account, const QString &token, QObject *context,
                      std::function<void(const Outcome &)> done);
    /// The same, waiting for the answer while the event loop turns, at most
    /// `ms` (a locked keyring may ask its user first); for the command line.
    /// NoKeyring when no answer came in time.
    static Outcome call(Op op, const Account &account, const QString &token = QString(), int ms = 120000);

    /// This installation's device id, which the service binds each token to:
    /// a UUID made at its first use and kept in the programs' settings
    /// ("device/id" in $XDG_CONFIG_HOME/veltro/programs.conf). Not a secret.
    static QString deviceId();
    /// How the service lists this device: the program and the machine.
    static QString deviceName();

    /// The account whose sign-in a window kept last (the same settings file,
    /// "keptSignIn/..."), which fills its form at the next start; empty when none.
    static Account keptAccount();
    /// Records `account` as kept; an empty one clears the record.
    static void setKeptAccount(const Account &account);

    /// Why a kept sign-in is gone: the service refused its token.
    static QString refusedText();
};
