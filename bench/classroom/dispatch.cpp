// Dispatch micro-benchmark: device frames recorded from the stand-in
// service's simulated learners (joins, poll answers and question answers, in
// each of the three payload shapes) are fed to a CollaborationMessageHandler
// in a loop on one thread. Reports messages per second and CPU time per
// message for each shape.
//
//   veltro-bench-dispatch [--seconds 2]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QMap>
#include <QTextStream>

#include "collaborationmessagehandler.h"
#include "measure.h"
#include "presenterclient.h"
#include "presentercollab.h"
#include "standin.h"
#include "testsupport.h"

namespace {

class Recorder : public QObject
{
    Q_OBJECT
public:
    QStringList frames;
public Q_SLOTS:
    void onFrame(const QString &frame) { frames << frame; }
};

// Feeds the handler through its slot, the way the connection does.
class Feeder : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void frame(const QString &text);
};

// The payload shape of a recorded device frame: "base64" (a list holding a
// Base64 text), "list" (a list of byte values) or "text" (those values
// written as text); empty for frames that are no device message.
QString shapeOf(const QString &frame, QString *type)
{
    const QJsonObject body = QJsonDocument::fromJson(frame.toUtf8()).object().value(QStringLiteral("body")).toObject();
    *type = body.value(QStringLiteral("type")).toString();
    const QJsonValue data = body.value(QStringLiteral("data"));
    if (data.isString())
        return QStringLiteral("text");
    if (data.isArray()) {
        const QJsonArray a = data.toArray();
        if (!a.isEmpty() && a.first().isString())
            return QStringLiteral("base64");
        if (!a.isEmpty())
            return QStringLiteral("list");
    }
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    quietLibraryLogging();
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Feeding time per shape."), QStringLiteral("S"),
                      QStringLiteral("2")});
    parser.addHelpOption();
    parser.process(app);
    const double seconds = parser.value(QStringLiteral("seconds")).toDouble();
    QTextStream out(stdout);

    // 1. Record real device frames.
    auto sim = StandIn::launch();
    if (!sim) {
        out << "the stand-in service did not start\n";
        return 1;
    }
    PresenterClient client(nullptr, sim->server());
    client.setSockJSOverrideProtocols({QStringLiteral("websocket")});
    PresenterCollab *collab = nullptr;
    if (!client.doLogin(QStringLiteral("teacher"), QStringLiteral("veltro")) || !client.doStartSession()
        || !client.startWebsocket(&collab) || !collab) {
        out << "could not start a live session: " << client.getLastError() << "\n";
        return 1;
    }
    Recorder recorder;
    for (QObject *child : collab->findChildren<QObject *>()) {
        if (qstrcmp(child->metaObject()->className(), "SockJSConnector") == 0)
            QObject::connect(child, SIGNAL(sockJSMessage(QString)), &recorder, SLOT(onFrame(QString)));
    }
    const int perShape = 8;
    for (const char *shape : {"base64", "list", "text"}) {
        const QJsonObject extra{{QStringLiteral("shape"), QLatin1String(shape)},
                                {QStringLiteral("answerDelay"), QJsonArray{0, 20}}};
        if (sim->addLearners(client.getSessionCode(), perShape, QStringLiteral("websocket"), extra).isEmpty()) {
            out << "the stand-in service added no learners\n";
            return 1;
        }
    }
    int answers = 0;
    QObject::connect(collab, &PresenterCollab::learnerPollResponse, &app, [&] { ++answers; });
    collab->startPoll(Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 4, 1);   // questionResponse
    waitUntil(20000, [&] { return answers >= 3 * perShape; });
    collab->stopPoll();
    collab->startPoll(Veltro::PollType::WORD_SEED, Veltro::OrdinalType::GENERIC, 3, 1);      // pollResponse
    waitUntil(20000, [&] { return answers >= 6 * perShape; });
    collab->stopPoll();
    client.doStopSession();
    client.doLogout();

    QMap<QString, QStringList> byShape;
    QMap<QString, int> typesSeen;
    for (const QString &f : qAsConst(recorder.frames)) {
        QString type;
        const QString shape = shapeOf(f, &type);
        if (shape.isEmpty() || (type != QLatin1String("join") && type != QLatin1String("pollResponse")
                                && type != QLatin1String("questionResponse")))
            continue;
        byShape[shape] << f;
        typesSeen[shape + QLatin1Char('/') + type]++;
    }

    // 2. Feed them.
    CollaborationMessageHandler handler;
    Feeder feeder;
    QObject::connect(&feeder, SIGNAL(frame(QString)), &handler, SLOT(onHandleMessage(QString)));
    qint64 signalsOut = 0;
    QObject::connect(&handler, &CollaborationMessageHandler::learnerPollResponse, &app, [&] { ++signalsOut; });
    QObject::connect(&handler, &CollaborationMessageHandler::learnerJoin, &app, [&] { ++signalsOut; });

    out << "recorded frames: ";
    for (auto it = typesSeen.cbegin(); it != typesSeen.cend(); ++it)
        out << it.key() << "=" << it.value() << " ";
    out << "\n\n| shape | frames recorded | messages/s | CPU us/message | signals per message |\n|---|---|---|---|---|\n";
    QStringList all;
    for (const QString &shape : {QStringLiteral("base64"), QStringLiteral("list"), QStringLiteral("text"),
                                 QStringLiteral("mixed")}) {
        const QStringList frames = shape == QLatin1String("mixed") ? all : byShape.value(shape);
        if (shape != QLatin1String("mixed"))
            all += frames;
        if (frames.isEmpty()) {
            out << "| " << shape << " | 0 | - | - | - |\n";
            continue;
        }
        signalsOut = 0;
        qint64 fed = 0;
        const double cpu0 = processCpuSeconds();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < seconds * 1000) {
            for (const QString &f : frames)
                emit feeder.frame(f);
            fed += frames.size();
        }
        const double wall = t.nsecsElapsed() / 1e9;
        const double cpu = processCpuSeconds() - cpu0;
        out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                   .arg(shape).arg(frames.size()).arg(qRound64(fed / wall)).arg(cpu * 1e6 / fed, 0, 'f', 1)
                   .arg(double(signalsOut) / fed, 0, 'f', 2);
        out.flush();
    }
    return 0;
}

#include "dispatch.moc"
