// One run of the presenter program: the steps of a live classroom, each
// printed with its duration, against a classroom service.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTextStream>
#include <QTimer>
#include <QVector>

#include <functional>

#include "learner.h"
#include "presentconfig.h"
#include "polltallymodel.h"

class PresenterClient;
class PresenterCollab;
class PresenterAssessment;

namespace Veltro {
class QuestionBase;
}

class PresenterRun : public QObject
{
    Q_OBJECT

public:
    /// `interactive`: output is a terminal, so the tally is redrawn in place.
    /// `password` gives the password when it is needed (empty when there is none).
    PresenterRun(const PresentConfig &config, QTextStream &out, bool interactive, int columns,
                 std::function<QString()> password);
    ~PresenterRun() override;

    /// Runs every step; returns the process exit code (0 when every step
    /// succeeded, 1 when one failed).
    int exec();

    /// Asks the run to cut its waits short and go straight to stopping the
    /// session and signing out. Safe to call from a signal handler.
    static void interrupt();

    /// What to say when no password source applies.
    static QString noPasswordText();

Q_SIGNALS:
    /// Something the current wait may be waiting for has happened.
    void progressed();

private:
    /// Runs one numbered step, prints its outcome and duration. `body`
    /// returns true on success, filling `*detail` (printed after the
    /// duration) or `*error` (printed as the reason of the failure).
    bool step(const QString &name, const std::function<bool(QString *detail, QString *error)> &body);
    /// Turns the event loop until `done` holds or `ms` pass; true when done.
    bool waitFor(int ms, const std::function<bool()> &done);
    QString clientError(const QString &fallback) const;

    bool checkServer(QString *detail, QString *error);
    bool signIn(QString *detail, QString *error);
    QString keep(const QString &password);
    bool userName(QString *detail, QString *error);
    bool createSession(QString *detail, QString *error);
    bool upload(QString *detail, QString *error);
    bool startLive(QString *detail, QString *error);
    bool waitForLearners(QString *detail, QString *error);
    bool runPoll(QString *detail, QString *error);
    bool stopPoll(QString *detail, QString *error);
    bool runAssessment(QString *detail, QString *error);
    bool listLearners(QString *detail, QString *error);
    bool stopSession(QString *detail, QString *error);
    bool signOut(QString *detail, QString *error);
    void printSummary();

    /// A learner seen on the live connection (`live`) or only in the
    /// service's list (joined, but maybe not yet listening).
    void noteLearner(const Veltro::Learner &learner, bool live);
    void onLeave(const QString &deviceId);
    void onResponse(const QString &deviceId, const QString &id, int seconds, const QString &answer);
    void onQuestionRequest(const QString &deviceId, int number);
    void mergeServiceLearners();
    int presentLearners() const;

    void drawTally(bool final);

    PresentConfig m_config;
    std::function<QString()> m_password;
    QTextStream &m_out;
    bool m_interactive;
    int m_columns;
    int m_stepNumber = 0;

    PresenterClient *m_client = nullptr;
    QPointer<PresenterCollab> m_collab;
    bool m_linkDown = false;   // between a drop and the connection's return
    PresenterAssessment *m_assessment = nullptr;
    bool m_connectionClosed = false;

    QHash<QString, QString> m_learners;   // device token -> name
    QSet<QString> m_live;     // seen on the live connection
    QSet<QString> m_left;
    int m_joinLinesPrinted = 0;
    QElapsedTimer m_lastChange;   // since a learner was last added to either set
    int m_serviceListed = -1;

    // Poll.
    enum class Phase { Setup, Poll, Assessment, Done };
    Phase m_phase = Phase::Setup;
    Veltro::PollTallyModel m_tally;
    QElapsedTimer m_pollClock;
    QVector<double> m_reportedSeconds;   // as the devices report them
    QVector<double> m_arrivalSeconds;    // since the poll started, as seen here
    int m_strayAnswers = 0;
    int m_drawnLines = 0;
    QTimer m_redraw;
    QString m_lastPlainProgress;
    QElapsedTimer m_lastPlainPrint;

    // Assessment.
    QHash<int, Veltro::QuestionBase *> m_questions;   // question number -> question
    QHash<QString, int> m_questionNumberById;
    QHash<int, Veltro::PollTallyModel *> m_assessmentTallies;   // question number -> answers (children)
    int m_questionsServed = 0;
    int m_assessmentRepeats = 0;
    int m_badRequests = 0;
    QVector<double> m_assessmentSeconds;
};
