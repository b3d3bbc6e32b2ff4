// A presenter host in a few lines: signs in, starts a session, runs one
// multiple-choice poll until every learner present has answered (a minute at
// most), prints the answers, then stops the session and signs out.
//
//     VELTRO_PASSWORD=... classroom-host https://classroom.example teacher
#include <veltroclient/veltroclient.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

using Veltro::Classroom;
using Veltro::PollTallyModel;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        qCritical("usage: classroom-host SERVER USER   (the password in VELTRO_PASSWORD)");
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("veltro.*.debug=false")); // the library's own diagnostics

    Classroom room(args.at(1));
    PollTallyModel *tally = room.tally();
    int status = 0;

    // Each failure is reported once, here; this host gives up at the first.
    QObject::connect(&room, &Classroom::failed, &app, [&](Veltro::Error, const QString &message) {
        qCritical().noquote() << "failed:" << message;
        status = 1;
        app.exit(status);
    });
    // Live: show the code the class types in, start the poll.
    QObject::connect(&room, &Classroom::liveChanged, &app, [&] {
        if (!room.isLive())
            return;
        qInfo().noquote() << "session code" << room.sessionCode();
        room.startPoll(QStringLiteral("multiple"));
        QTimer::singleShot(60 * 1000, &room, &Classroom::stopPoll);
    });
    QObject::connect(tally, &PollTallyModel::answeredChanged, &app, [&] {
        if (tally->answered() >= tally->present())
            room.stopPoll();
    });
    // Stopped: print one line per option, then sign out (which ends the session first).
    QObject::connect(&room, &Classroom::pollStateChanged, &app, [&] {
        if (room.pollState() != Classroom::PollState::Stopped)
            return;
        tally->flush();
        for (int row = 0; row < tally->rowCount(); ++row) {
            const QModelIndex option = tally->index(row);
            qInfo().noquote() << option.data(PollTallyModel::LabelRole).toString()
                              << option.data(PollTallyModel::CountRole).toInt();
        }
        room.signOut();
    });
    QObject::connect(&room, &Classroom::signedInChanged, &app, [&] {
        if (!room.isSignedIn())
            app.exit(status);
    });

    room.signIn(args.at(2), qEnvironmentVariable("VELTRO_PASSWORD"));
    room.startSession(); // runs once the sign-in has succeeded
    return app.exec();
}
