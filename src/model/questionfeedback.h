// The feedback and answer block of one question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QVariant>
#include <QVariantList>

namespace Veltro {

class VELTROCLIENT_EXPORT QuestionFeedback : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool showFeedback READ getshowFeedback WRITE setshowFeedback)
    Q_PROPERTY(bool showCorrectAnswer READ getshowCorrectAnswer WRITE setshowCorrectAnswer)
    Q_PROPERTY(QVariant correctAnswer READ getcorrectAnswer WRITE setcorrectAnswer)
    Q_PROPERTY(QVariant activityScoreStatus READ getactivityScoreStatus WRITE setactivityScoreStatus)
    Q_PROPERTY(QVariant activityResponseStatus READ getactivityResponseStatus WRITE setactivityResponseStatus)
    Q_PROPERTY(QVariantList correctOptions READ getcorrectOptions WRITE setcorrectOptions)
    Q_PROPERTY(bool allowResubmit READ getallowResubmit WRITE setallowResubmit)
    Q_PROPERTY(QVariant correctFeedback READ getcorrectFeedback WRITE setcorrectFeedback)
    Q_PROPERTY(QVariant inCorrectFeedback READ getinCorrectFeedback WRITE setinCorrectFeedback)
    Q_PROPERTY(QVariant answer READ getanswer WRITE setanswer)
    Q_PROPERTY(QVariant jsonAnswer READ getjsonAnswer WRITE setjsonAnswer)
    Q_PROPERTY(QVariantList optionAnswers READ getoptionAnswers WRITE setoptionAnswers)
    Q_PROPERTY(QVariantList optionFeedbacks READ getoptionFeedbacks WRITE setoptionFeedbacks)
    Q_PROPERTY(int numberOfRetries READ getnumberOfRetries WRITE setnumberOfRetries)
    Q_PROPERTY(int numberOfRetriesRemaining READ getnumberOfRetriesRemaining WRITE setnumberOfRetriesRemaining)
    Q_PROPERTY(QVariant remainingTime READ getremainingTime WRITE setremainingTime)

public:
    /// Creates a feedback block with every member at its initial value.
    explicit QuestionFeedback(QObject *parent = nullptr);

    bool getshowFeedback() const { return m_showFeedback; }
    bool getshowCorrectAnswer() const { return m_showCorrectAnswer; }
    QVariant getcorrectAnswer() const { return m_correctAnswer; }
    QVariant getactivityScoreStatus() const { return m_activityScoreStatus; }
    QVariant getactivityResponseStatus() const { return m_activityResponseStatus; }
    QVariantList getcorrectOptions() const { return m_correctOptions; }
    bool getallowResubmit() const { return m_allowResubmit; }
    QVariant getcorrectFeedback() const { return m_correctFeedback; }
    QVariant getinCorrectFeedback() const { return m_inCorrectFeedback; }
    QVariant getanswer() const { return m_answer; }
    QVariant getjsonAnswer() const { return m_jsonAnswer; }
    QVariantList getoptionAnswers() const { return m_optionAnswers; }
    QVariantList getoptionFeedbacks() const { return m_optionFeedbacks; }
    int getnumberOfRetries() const { return m_numberOfRetries; }
    int getnumberOfRetriesRemaining() const { return m_numberOfRetriesRemaining; }
    QVariant getremainingTime() const { return m_remainingTime; }

public Q_SLOTS:
    void setshowFeedback(bool v) { m_showFeedback = v; }
    void setshowCorrectAnswer(bool v) { m_showCorrectAnswer = v; }
    void setcorrectAnswer(const QVariant &v) { m_correctAnswer = v; }
    void setactivityScoreStatus(const QVariant &v) { m_activityScoreStatus = v; }
    void setactivityResponseStatus(const QVariant &v) { m_activityResponseStatus = v; }
    void setcorrectOptions(const QVariantList &v) { m_correctOptions = v; }
    void setallowResubmit(bool v) { m_allowResubmit = v; }
    void setcorrectFeedback(const QVariant &v) { m_correctFeedback = v; }
    void setinCorrectFeedback(const QVariant &v) { m_inCorrectFeedback = v; }
    void setanswer(const QVariant &v) { m_answer = v; }
    void setjsonAnswer(const QVariant &v) { m_jsonAnswer = v; }
    void setoptionAnswers(const QVariantList &v) { m_optionAnswers = v; }
    void setoptionFeedbacks(const QVariantList &v) { m_optionFeedbacks = v; }
    void setnumberOfRetries(int v) { m_numberOfRetries = v; }
    void setnumberOfRetriesRemaining(int v) { m_numberOfRetriesRemaining = v; }
    void setremainingTime(const QVariant &v) { m_remainingTime = v; }

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
