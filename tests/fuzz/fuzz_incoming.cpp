// libFuzzer target: one SockJS frame text through the connector's reader, the own-message filter and the message
// handler to the signals, whose arguments are read; a fresh session object per input.
#include "learner.h"
#include "presentercollab.h"
#include "remotecontrolmessage.h"
#include "sockjsconnector.h"
#include "testsupport.h"

#include <QCoreApplication>

namespace {

volatile qsizetype sink;

void read(const QString &s) { sink = sink + s.size(); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    quietLibraryLogging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PresenterCollab collab(nullptr, QStringLiteral("http://127.0.0.1:9/collab"), QStringLiteral("C1"),
                           QStringLiteral("S1"), QStringLiteral("presenter-1"));
    QObject::connect(&collab, &PresenterCollab::learnerJoin,
                     [](const Veltro::Learner &l) { read(l.userToken + l.userName + l.deviceType); });
    QObject::connect(&collab, &PresenterCollab::learnerPollResponse,
                     [](const QString &d, const QString &p, int, const QString &a) { read(d + p + a); });
    QObject::connect(&collab, &PresenterCollab::learnerUnregister, read);
    QObject::connect(&collab, &PresenterCollab::remoteControl,
                     [](const Veltro::RemoteControlMessage &m) { read(m.from + m.type + m.data.toString()); });
    QObject::connect(&collab, &PresenterCollab::unhandledMessage, [](const QVariantMap &body, const QVariant &d) {
        sink = sink + body.size() + d.toByteArray().size();
    });

    auto *connector = collab.findChild<SockJSConnector *>();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    QMetaObject::invokeMethod(connector, "onTextMessageReceived", Qt::DirectConnection, Q_ARG(QString, text));
    // A long frame is delivered in slices: let them run.
    for (int i = 0; i < 64; ++i)
        QCoreApplication::sendPostedEvents();
    return 0;
}
