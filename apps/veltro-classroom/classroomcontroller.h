// The presenter window's logic without widgets: one teacher's sign-in, live
// session and polls through the library's public API, as state and signals
// the window shows. The library's calls block (each runs a nested event loop
// that still delivers timers, replies and window events); the controller says
// when it is inside one, refuses to start another meanwhile, and is never to
// be deleted while busy().
#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVector>

#include "tally.h"

class PresenterClient;
class PresenterCollab;
namespace Veltro {
class Learner;
}

class ClassroomController : public QObject
{
    Q_OBJECT

public:
    enum class Stage { SignedOut, SignedIn, Live };
    enum class PollState { None, Running, Paused, Stopped };

    explicit ClassroomController(QObject *parent = nullptr);
    ~ClassroomController() override;

    /// True while one of the library's blocking calls runs; busyText() says which.
    bool busy() const { return !m_busyText.isEmpty(); }
    QString busyText() const { return m_busyText; }
    Stage stage() const { return m_stage; }
    PollState pollState() const { return m_pollState; }
    /// The session's code for the class to type; empty before a session.
    QString sessionCode() const { return m_sessionCode; }
    /// Learners present: token -> name.
    QMap<QString, QString> learners() const { return m_learners; }
    /// "Connected", "Reconnecting (attempt N)", "Closed" or "Not connected".
    QString connectionText() const { return m_connectionText; }
    /// The answers of the current (or last) poll as bars, and how many devices answered.
    QVector<QPair<QString, int>> bars() const { return m_tally.bars(); }
    int answered() const { return m_tally.answered(); }

public Q_SLOTS:
    /// Signs in (blocking, at most 10 s per request). False with errorOccurred() on failure.
    bool signIn(const QString &server, const QString &user, const QString &password);
    /// Creates and starts a session and opens its live connection (blocking).
    bool startSession();
    /// Sends a poll of the kind named as in pollKindNames(); false when not live.
    bool startPoll(const QString &kind);
    void pausePoll();
    void resumePoll();
    void stopPoll();
    /// Stops the session (blocking); the sign-in stays.
    bool stopSession();
    /// Stops the session and signs out, as before closing (blocking).
    void shutdown();

Q_SIGNALS:
    void busyChanged(bool busy);
    void stageChanged();
    void learnersChanged();
    void pollChanged();
    void connectionChanged();
    void errorOccurred(const QString &message);

private:
    class BusyScope;
    void setStage(Stage stage);
    void setConnection(const QString &text);
    void fail(const QString &what);
    void onJoin(const Veltro::Learner &learner);
    void onLeave(const QString &deviceId);
    void onResponse(const QString &deviceId, const QString &pollId, int seconds, const QString &answer);

    QPointer<PresenterClient> m_client;
    QPointer<PresenterCollab> m_collab;
    QString m_busyText;
    Stage m_stage = Stage::SignedOut;
    PollState m_pollState = PollState::None;
    QString m_sessionCode;
    QString m_connectionText;
    QMap<QString, QString> m_learners;
    Tally m_tally;
    QSet<QString> m_pollIds;
};
