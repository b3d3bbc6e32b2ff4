// One assessment run inside an open classroom session.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "veltroclient_export.h"

class PresenterCollab;
class PresenterAssessmentPrivate;

namespace Veltro {
class AssessmentOptions;
class QuestionBase;
}

/// The host's handle on one assessment: announces start and stop, sends
/// questions, dialogs and the review to all learners or one, pauses and
/// resumes, and relays every device's request for a question. Holds no
/// questions; the host answers each request with sendQuestion. Once the
/// session object is gone, every operation does nothing (and returns false).
class VELTROCLIENT_EXPORT PresenterAssessment : public QObject
{
    Q_OBJECT

public:
    /// Creates the assessment over `collab` with a fresh identifier.
    PresenterAssessment(QObject *parent, PresenterCollab *collab);
    ~PresenterAssessment() override;

    /// Announces the assessment to the whole session; false only without options or session.
    bool start(Veltro::AssessmentOptions *options);
    /// Announces the assessment to one learner (all when learnerToken is
    /// empty); an empty assessmentToken in the options gets the identifier.
    /// Returns false (sending nothing) only when options is null or the
    /// session object is gone.
    bool start(QString learnerToken, Veltro::AssessmentOptions *options);
    /// Announces the end (with the identifier) to the whole session.
    void stop();
    /// Pauses answering on every device (as pausePoll).
    void pause();
    /// Resumes answering on every device (as resumePoll).
    void resume();
    /// Sends one question in assessment mode to one learner (all when empty);
    /// the question stays the host's. Returns false (sending nothing) only
    /// when question is null or the session object is gone.
    bool sendQuestion(QString learnerToken, Veltro::QuestionBase *question);
    /// Shows a dialog (or, with review set, the question-set review) to one
    /// learner (all when empty).
    void sendMessage(QString learnerToken, QString text, bool isDismissible, bool isReview);
    /// Same, to all learners.
    void sendMessage(QString text, bool isDismissible, bool isReview);

    /// The assessment identifier (a UUID without braces).
    QString getAssessmentId() const;

Q_SIGNALS:
    /// A device (id) asks for question number questionId; relayed from the
    /// session's message handler. From the event loop; can arrive inside a
    /// blocking call of PresenterClient (they run a local event loop).
    void learnerGetQuestion(QString id, int questionId);

private:
    // The session object and the identifier live in the private side.
    friend class PresenterAssessmentPrivate;
    const std::unique_ptr<PresenterAssessmentPrivate> d;
};
