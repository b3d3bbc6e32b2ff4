#include "tokenstore.h"

#include <QEventLoop>
#include <QPointer>
#include <QSettings>
#include <QSysInfo>
#include <QTimer>
#include <QUuid>

#if QT_VERSION_MAJOR >= 6
#include <qt6keychain/keychain.h>
#else
#include <qt5keychain/keychain.h>
#endif

namespace {

// The keyring entry's label and service attribute, as a keyring manager shows it.
const char kService[] = "Veltro Classroom";

QSettings programSettings()
{
    return QSettings(QStringLiteral("veltro"), QStringLiteral("programs"));
}

} // namespace

void TokenStore::start(Op op, const Account &account, const QString &token, QObject *context,
                       std::function<void(const Outcome &)> done)
{
    const QString service = QLatin1String(kService);
    QKeychain::Job *job = nullptr;
    if (op == Op::Read) {
        job = new QKeychain::ReadPasswordJob(service);
    } else if (op == Op::Write) {
        auto *write = new QKeychain::WritePasswordJob(service);
        write->setTextData(token);
        job = write;
    } else {
        job = new QKeychain::DeletePasswordJob(service);
    }
    job->setAutoDelete(true);
    // Where no keyring answers, QtKeychain could keep the secret in a plain
    // settings file instead; a token there is a password anyone can copy.
    job->setInsecureFallback(false);
    job->setKey(account.user + QLatin1Char('@') + account.server);
    QObject::connect(job, &QKeychain::Job::finished, context, [op, done](QKeychain::Job *j) {
        Outcome o;
        switch (j->error()) {
        case QKeychain::NoError:
            o.kind = Outcome::Done;
            if (op == Op::Read)
                o.token = static_cast<QKeychain::ReadPasswordJob *>(j)->textData();
            break;
        case QKeychain::EntryNotFound:
            o.kind = Outcome::Missing;
            break;
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            o.reason = tr("Stay signed in is not available: the keyring refused access.");
            break;
        default:
            o.reason = tr("Stay signed in is not available: no keyring answers on this desktop.");
            break;
        }
        done(o);
    });
    job->start();
}

TokenStore::Outcome TokenStore::call(Op op, const Account &account, const QString &token, int ms)
{
    Outcome out;
    out.reason = tr("Stay signed in is not available: the keyring did not answer.");
    bool answered = false;
    QEventLoop loop;
    start(op, account, token, &loop, [&](const Outcome &o) {
        out = o;
        answered = true;
        loop.quit();
    });
    if (!answered) {
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return out;
}

QString TokenStore::deviceId()
{
    QSettings s = programSettings();
    QString id = s.value(QStringLiteral("device/id")).toString();
    if (id.isEmpty()) {
        id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        s.setValue(QStringLiteral("device/id"), id);
    }
    return id;
}

QString TokenStore::deviceName()
{
    return tr("%1 on %2").arg(QCoreApplication::applicationName(), QSysInfo::machineHostName());
}

TokenStore::Account TokenStore::keptAccount()
{
    const QSettings s = programSettings();
    return {s.value(QStringLiteral("keptSignIn/server")).toString(),
            s.value(QStringLiteral("keptSignIn/user")).toString()};
}

void TokenStore::setKeptAccount(const Account &account)
{
    QSettings s = programSettings();
    if (account.user.isEmpty()) {
        s.remove(QStringLiteral("keptSignIn"));
        return;
    }
    s.setValue(QStringLiteral("keptSignIn/server"), account.server);
    s.setValue(QStringLiteral("keptSignIn/user"), account.user);
}

QString TokenStore::refusedText()
{
    return tr("The service no longer accepts the kept sign-in, so it was forgotten: sign in with your password.");
}
