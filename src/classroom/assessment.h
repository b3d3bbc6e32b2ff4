// An assessment that serves itself: the classroom's questions, answered to
// each device as it asks, with every learner's progress as a model.
#pragma once

#include "assessmentprogressmodel.h"
#include "questiondescription.h"
#include "veltroclient_export.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <memory>

class PresenterCollab;

namespace Veltro {

class AssessmentOptions;
class AssessmentPrivate;
class LearnerModel;

/// A run of questions that every learner's device works through at its own
/// pace: each device asks for question n ("questionGet") and is sent it
/// (PresenterAssessment::learnerGetQuestion(), then sendQuestion() to that
/// device), answers it, and asks for the next. The host gives the questions
/// (setQuestions()) and starts, pauses, resumes and stops; progress() shows
/// each learner's place, answers and right answers. A Classroom owns one
/// (Classroom::assessment()) and follows its live session with it.
///
/// **What is counted.** An answer counts once per question and device (a
/// later answer to the same question replaces whether it is right), and only
/// when the device was sent that question and the assessment runs (Running
/// or Paused). A request for a number outside 1 to questionCount (or not a
/// number, which the devices' messages read as 0) is answered with nothing
/// and changes no row.
///
/// **Late joiners and returning devices.** A device that joins while the
/// assessment runs is sent its start ("assessmentStart" to that device) and
/// gets a row; a device that comes back (its row exists, e.g. after its
/// connection dropped) is sent a start that continues where it was: from the
/// question it was on, or the next one once that was answered
/// (startingQuestionNumber and questionCount name the rest); a device that
/// answered every question is sent nothing.
///
/// **States** (state(), stateChanged(), emitted inside the call that changes
/// them, or inside setCollab() when the session ends):
///
/// | From | To | When |
/// |---|---|---|
/// | Idle, Stopped | Running | start() |
/// | Running | Paused | pause() |
/// | Paused | Running | resume() |
/// | Running, Paused | Stopped | stop(), or the session ended (setCollab(null)) |
class VELTROCLIENT_EXPORT Assessment : public QObject
{
    Q_OBJECT
    /// Where the assessment is (see the table above).
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    /// Questions set with setQuestions().
    Q_PROPERTY(int questionCount READ questionCount NOTIFY questionsChanged)
    /// The title the devices show (the options' "title").
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    /// Every learner's progress (owned by this object).
    Q_PROPERTY(Veltro::AssessmentProgressModel *progress READ progress CONSTANT)

public:
    /// Where an assessment is.
    enum class State {
        Idle = 0, ///< Not started yet.
        Running,  ///< Devices are served and their answers counted.
        Paused,   ///< The devices hold their answers (still served and counted when they come).
        Stopped,  ///< Over; the rows keep their results and nothing more is served or counted.
    };
    Q_ENUM(State)

    /// An idle assessment without questions or session.
    explicit Assessment(QObject *parent = nullptr);
    /// Sends nothing and emits nothing.
    ~Assessment() override;

    /// Where the assessment is.
    State state() const;
    /// Questions set.
    int questionCount() const;
    /// The title the devices show.
    QString title() const;
    /// Sets the title the devices show from the next start().
    void setTitle(const QString &title);
    /// Every learner's progress (owned by this object).
    Veltro::AssessmentProgressModel *progress() const;
    /// The options start() sends (owned by this object): a host may set any of
    /// them; start() sets "assessmentToken", "questionCount" and
    /// "startingQuestionNumber" (1) itself.
    Veltro::AssessmentOptions *options() const;
    /// The identifier of the running or last run; empty before start().
    QString assessmentId() const;

    /// Sets the questions, numbered from 1 in list order. Returns false,
    /// changing nothing, while Running or Paused, or when one of them is not
    /// valid (QuestionDescription::problem(), written to the debug log).
    bool setQuestions(const QList<Veltro::QuestionDescription> &questions);
    /// The same from QML: each element a QuestionDescription or an object
    /// with "kind", "text", "options" and "correct".
    Q_INVOKABLE bool setQuestions(const QVariantList &questions);
    /// The description of question `number` (from 1); an empty one when there is none.
    Q_INVOKABLE Veltro::QuestionDescription question(int number) const;

    /// Follows the live session `collab` (serves its devices, counts their
    /// answers, greets late joiners); null ends a run (Stopped). The
    /// classroom sets it. Not owned.
    void setCollab(PresenterCollab *collab);
    /// The session followed, or null.
    PresenterCollab *collab() const;
    /// The learners present when start() is called get a row at once (else a
    /// learner gets one when its device first asks or joins). Not owned.
    void setLearnerModel(Veltro::LearnerModel *learners);

public Q_SLOTS:
    /// Starts a new run (a new identifier, the rows cleared, one row per
    /// learner present) and announces it to every device. Returns false,
    /// doing nothing, without a session, without questions, or while Running
    /// or Paused.
    bool start();
    /// Pauses the run on every device (as PresenterAssessment::pause(): a
    /// running poll pauses with it). Nothing unless Running.
    void pause();
    /// Resumes a paused run. Nothing unless Paused.
    void resume();
    /// Shows every device the question-set review with `text`. Returns false,
    /// sending nothing, without a session or before the first start().
    bool sendReview(const QString &text);
    /// Ends the run on every device ("assessmentStop"); the rows keep their
    /// results. Nothing unless Running or Paused.
    void stop();

Q_SIGNALS:
    /// state changed.
    void stateChanged();
    /// The questions changed.
    void questionsChanged();
    /// title changed.
    void titleChanged();

private:
    friend class AssessmentPrivate;
    std::unique_ptr<AssessmentPrivate> d;
};

} // namespace Veltro
