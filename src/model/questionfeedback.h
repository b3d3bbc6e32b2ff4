// The feedback and answer block of one question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QVariant>
#include <QVariantList>

namespace Veltro {

/// The feedback and answer block of one question.
class VELTROCLIENT_EXPORT QuestionFeedback : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool showFeedback READ getshowFeedback WRITE setshowFeedback) ///< JSON member "showFeedback".
    /// JSON member "showCorrectAnswer".
    Q_PROPERTY(bool showCorrectAnswer READ getshowCorrectAnswer WRITE setshowCorrectAnswer)
    Q_PROPERTY(QVariant correctAnswer READ getcorrectAnswer WRITE setcorrectAnswer) ///< JSON member "correctAnswer".
    /// JSON member "activityScoreStatus".
    Q_PROPERTY(QVariant activityScoreStatus READ getactivityScoreStatus WRITE setactivityScoreStatus)
    /// JSON member "activityResponseStatus".
    Q_PROPERTY(QVariant activityResponseStatus READ getactivityResponseStatus WRITE setactivityResponseStatus)
    /// JSON member "correctOptions".
    Q_PROPERTY(QVariantList correctOptions READ getcorrectOptions WRITE setcorrectOptions)
    Q_PROPERTY(bool allowResubmit READ getallowResubmit WRITE setallowResubmit) ///< JSON member "allowResubmit".
    /// JSON member "correctFeedback".
    Q_PROPERTY(QVariant correctFeedback READ getcorrectFeedback WRITE setcorrectFeedback)
    /// JSON member "inCorrectFeedback".
    Q_PROPERTY(QVariant inCorrectFeedback READ getinCorrectFeedback WRITE setinCorrectFeedback)
    Q_PROPERTY(QVariant answer READ getanswer WRITE setanswer) ///< JSON member "answer".
    Q_PROPERTY(QVariant jsonAnswer READ getjsonAnswer WRITE setjsonAnswer) ///< JSON member "jsonAnswer".
    Q_PROPERTY(QVariantList optionAnswers READ getoptionAnswers WRITE setoptionAnswers) ///< JSON member "optionAnswers".
    /// JSON member "optionFeedbacks".
    Q_PROPERTY(QVariantList optionFeedbacks READ getoptionFeedbacks WRITE setoptionFeedbacks)
    Q_PROPERTY(int numberOfRetries READ getnumberOfRetries WRITE setnumberOfRetries) ///< JSON member "numberOfRetries".
    /// JSON member "numberOfRetriesRemaining".
    Q_PROPERTY(int numberOfRetriesRemaining READ getnumberOfRetriesRemaining WRITE setnumberOfRetriesRemaining)
    Q_PROPERTY(QVariant remainingTime READ getremainingTime WRITE setremainingTime) ///< JSON member "remainingTime".

public:
    /// Creates a feedback block with every member at its initial value.
    explicit QuestionFeedback(QObject *parent = nullptr);

    bool getshowFeedback() const { return m_showFeedback; } ///< Returns "showFeedback".
    bool getshowCorrectAnswer() const { return m_showCorrectAnswer; } ///< Returns "showCorrectAnswer".
    QVariant getcorrectAnswer() const { return m_correctAnswer; } ///< Returns "correctAnswer".
    QVariant getactivityScoreStatus() const { return m_activityScoreStatus; } ///< Returns "activityScoreStatus".
    /// Returns "activityResponseStatus".
    QVariant getactivityResponseStatus() const { return m_activityResponseStatus; }
    QVariantList getcorrectOptions() const { return m_correctOptions; } ///< Returns "correctOptions".
    bool getallowResubmit() const { return m_allowResubmit; } ///< Returns "allowResubmit".
    QVariant getcorrectFeedback() const { return m_correctFeedback; } ///< Returns "correctFeedback".
    QVariant getinCorrectFeedback() const { return m_inCorrectFeedback; } ///< Returns "inCorrectFeedback".
    QVariant getanswer() const { return m_answer; } ///< Returns "answer".
    QVariant getjsonAnswer() const { return m_jsonAnswer; } ///< Returns "jsonAnswer".
    QVariantList getoptionAnswers() const { return m_optionAnswers; } ///< Returns "optionAnswers".
    QVariantList getoptionFeedbacks() const { return m_optionFeedbacks; } ///< Returns "optionFeedbacks".
    int getnumberOfRetries() const { return m_numberOfRetries; } ///< Returns "numberOfRetries".
    /// Returns "numberOfRetriesRemaining".
    int getnumberOfRetriesRemaining() const { return m_numberOfRetriesRemaining; }
    QVariant getremainingTime() const { return m_remainingTime; } ///< Returns "remainingTime".

public Q_SLOTS:
    void setshowFeedback(bool v) { m_showFeedback = v; } ///< Stores "showFeedback" as given.
    void setshowCorrectAnswer(bool v) { m_showCorrectAnswer = v; } ///< Stores "showCorrectAnswer" as given.
    void setcorrectAnswer(const QVariant &v) { m_correctAnswer = v; } ///< Stores "correctAnswer" as given.
    /// Stores "activityScoreStatus" as given.
    void setactivityScoreStatus(const QVariant &v) { m_activityScoreStatus = v; }
    /// Stores "activityResponseStatus" as given.
    void setactivityResponseStatus(const QVariant &v) { m_activityResponseStatus = v; }
    void setcorrectOptions(const QVariantList &v) { m_correctOptions = v; } ///< Stores "correctOptions" as given.
    void setallowResubmit(bool v) { m_allowResubmit = v; } ///< Stores "allowResubmit" as given.
    void setcorrectFeedback(const QVariant &v) { m_correctFeedback = v; } ///< Stores "correctFeedback" as given.
    void setinCorrectFeedback(const QVariant &v) { m_inCorrectFeedback = v; } ///< Stores "inCorrectFeedback" as given.
    void setanswer(const QVariant &v) { m_answer = v; } ///< Stores "answer" as given.
    void setjsonAnswer(const QVariant &v) { m_jsonAnswer = v; } ///< Stores "jsonAnswer" as given.
    void setoptionAnswers(const QVariantList &v) { m_optionAnswers = v; } ///< Stores "optionAnswers" as given.
    void setoptionFeedbacks(const QVariantList &v) { m_optionFeedbacks = v; } ///< Stores "optionFeedbacks" as given.
    void setnumberOfRetries(int v) { m_numberOfRetries = v; } ///< Stores "numberOfRetries" as given.
    /// Stores "numberOfRetriesRemaining" as given.
    void setnumberOfRetriesRemaining(int v) { m_numberOfRetriesRemaining = v; }
    void setremainingTime(const QVariant &v) { m_remainingTime = v; } ///< Stores "remainingTime" as given.

private:
    bool m_showFeedback = false;
    bool m_showCorrectAnswer = false;
    QVariant m_correctAnswer;
    QVariant m_activityScoreStatus;
    QVariant m_activityResponseStatus;
    QVariantList m_correctOptions;
    bool m_allowResubmit = true;
    QVariant m_correctFeedback;
    QVariant m_inCorrectFeedback;
    QVariant m_answer;
    QVariant m_jsonAnswer;
    QVariantList m_optionAnswers;
    QVariantList m_optionFeedbacks;
    int m_numberOfRetries = 0;
    int m_numberOfRetriesRemaining = 0;
    QVariant m_remainingTime;
};

} // namespace Veltro
