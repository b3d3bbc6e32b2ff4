// Configuration of an assessment that a presenter starts.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace Veltro {

class VELTROCLIENT_EXPORT AssessmentOptions : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString assessmentToken READ getassessmentToken WRITE setassessmentToken)
    Q_PROPERTY(bool allowSkipQuestion READ getallowSkipQuestion WRITE setallowSkipQuestion)
    Q_PROPERTY(bool allowNavigateQuestionSet READ getallowNavigateQuestionSet WRITE setallowNavigateQuestionSet)
    Q_PROPERTY(bool allowResubmitResponse READ getallowResubmitResponse WRITE setallowResubmitResponse)
    Q_PROPERTY(bool showSummaryOnAssessmentCompletion READ getshowSummaryOnAssessmentCompletion WRITE setshowSummaryOnAssessmentCompletion)
    Q_PROPERTY(bool showAnswerOnIncorrectResponse READ getshowAnswerOnIncorrectResponse WRITE setshowAnswerOnIncorrectResponse)
    Q_PROPERTY(bool showFeedback READ getshowFeedback WRITE setshowFeedback)
    Q_PROPERTY(int questionCount READ getquestionCount WRITE setquestionCount)
    Q_PROPERTY(int startingQuestionNumber READ getstartingQuestionNumber WRITE setstartingQuestionNumber)
    Q_PROPERTY(int allowedTime READ getallowedTime WRITE setallowedTime)
    Q_PROPERTY(QString currentAssessmentSectionId READ getcurrentAssessmentSectionId WRITE setcurrentAssessmentSectionId)
    Q_PROPERTY(QString title READ gettitle WRITE settitle)
    Q_PROPERTY(QString description READ getdescription WRITE setdescription)
    Q_PROPERTY(bool scored READ getscored WRITE setscored)
    Q_PROPERTY(QVariantMap assessmentSectionConfigurations READ getassessmentSectionConfigurations WRITE setassessmentSectionConfigurations)

public:
    /// Creates options for a one-question, unscored, unlevelled assessment.
    explicit AssessmentOptions(QObject *parent = nullptr);

    QString getassessmentToken() const { return m_assessmentToken; }
    bool getallowSkipQuestion() const { return m_allowSkipQuestion; }
    bool getallowNavigateQuestionSet() const { return m_allowNavigateQuestionSet; }
    bool getallowResubmitResponse() const { return m_allowResubmitResponse; }
    bool getshowSummaryOnAssessmentCompletion() const { return m_showSummaryOnAssessmentCompletion; }
    bool getshowAnswerOnIncorrectResponse() const { return m_showAnswerOnIncorrectResponse; }
    bool getshowFeedback() const { return m_showFeedback; }
    int getquestionCount() const { return m_questionCount; }
    int getstartingQuestionNumber() const { return m_startingQuestionNumber; }
    int getallowedTime() const { return m_allowedTime; }
    QString getcurrentAssessmentSectionId() const { return m_currentAssessmentSectionId; }
    QString gettitle() const { return m_title; }
    QString getdescription() const { return m_description; }
    bool getscored() const { return m_scored; }
    QVariantMap getassessmentSectionConfigurations() const { return m_assessmentSectionConfigurations; }

public Q_SLOTS:
    void setassessmentToken(const QString &v) { m_assessmentToken = v; }
    void setallowSkipQuestion(bool v) { m_allowSkipQuestion = v; }
    void setallowNavigateQuestionSet(bool v) { m_allowNavigateQuestionSet = v; }
    void setallowResubmitResponse(bool v) { m_allowResubmitResponse = v; }
    void setshowSummaryOnAssessmentCompletion(bool v) { m_showSummaryOnAssessmentCompletion = v; }
    void setshowAnswerOnIncorrectResponse(bool v) { m_showAnswerOnIncorrectResponse = v; }
    void setshowFeedback(bool v) { m_showFeedback = v; }
    void setquestionCount(int v) { m_questionCount = v; }
    void setstartingQuestionNumber(int v) { m_startingQuestionNumber = v; }
    void setallowedTime(int v) { m_allowedTime = v; }
    void setcurrentAssessmentSectionId(const QString &v) { m_currentAssessmentSectionId = v; }
    void settitle(const QString &v) { m_title = v; }
    void setdescription(const QString &v) { m_description = v; }
    void setscored(bool v) { m_scored = v; }
    void setassessmentSectionConfigurations(const QVariantMap &v) { m_assessmentSectionConfigurations = v; }

private:
    QString m_assessmentToken;
    bool m_allowSkipQuestion = false;
    bool m_allowNavigateQuestionSet = false;
    bool m_allowResubmitResponse = true;
    bool m_showSummaryOnAssessmentCompletion = false;
    bool m_showAnswerOnIncorrectResponse = false;
    bool m_showFeedback = false;
    int m_questionCount = 1;
    int m_startingQuestionNumber = 0;
    int m_allowedTime = 0;
    QString m_currentAssessmentSectionId;
    QString m_title;
    QString m_description;
    bool m_scored = false;
    QVariantMap m_assessmentSectionConfigurations;
};

} // namespace Veltro
