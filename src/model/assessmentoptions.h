// Configuration of an assessment that a presenter starts.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace Veltro {

/// Configuration of an assessment that a presenter starts (PresenterAssessment::start()).
class VELTROCLIENT_EXPORT AssessmentOptions : public QObject
{
    Q_OBJECT
    /// JSON member "assessmentToken".
    Q_PROPERTY(QString assessmentToken READ getassessmentToken WRITE setassessmentToken)
    /// JSON member "allowSkipQuestion".
    Q_PROPERTY(bool allowSkipQuestion READ getallowSkipQuestion WRITE setallowSkipQuestion)
    /// JSON member "allowNavigateQuestionSet".
    Q_PROPERTY(bool allowNavigateQuestionSet READ getallowNavigateQuestionSet WRITE setallowNavigateQuestionSet)
    /// JSON member "allowResubmitResponse".
    Q_PROPERTY(bool allowResubmitResponse READ getallowResubmitResponse WRITE setallowResubmitResponse)
    /// JSON member "showSummaryOnAssessmentCompletion".
    Q_PROPERTY(bool showSummaryOnAssessmentCompletion READ getshowSummaryOnAssessmentCompletion WRITE setshowSummaryOnAssessmentCompletion)
    /// JSON member "showAnswerOnIncorrectResponse".
    Q_PROPERTY(bool showAnswerOnIncorrectResponse READ getshowAnswerOnIncorrectResponse WRITE setshowAnswerOnIncorrectResponse)
    Q_PROPERTY(bool showFeedback READ getshowFeedback WRITE setshowFeedback) ///< JSON member "showFeedback".
    Q_PROPERTY(int questionCount READ getquestionCount WRITE setquestionCount) ///< JSON member "questionCount".
    /// JSON member "startingQuestionNumber".
    Q_PROPERTY(int startingQuestionNumber READ getstartingQuestionNumber WRITE setstartingQuestionNumber)
    Q_PROPERTY(int allowedTime READ getallowedTime WRITE setallowedTime) ///< JSON member "allowedTime".
    /// JSON member "currentAssessmentSectionId".
    Q_PROPERTY(QString currentAssessmentSectionId READ getcurrentAssessmentSectionId WRITE setcurrentAssessmentSectionId)
    Q_PROPERTY(QString title READ gettitle WRITE settitle) ///< JSON member "title".
    Q_PROPERTY(QString description READ getdescription WRITE setdescription) ///< JSON member "description".
    Q_PROPERTY(bool scored READ getscored WRITE setscored) ///< JSON member "scored".
    /// JSON member "assessmentSectionConfigurations".
    Q_PROPERTY(QVariantMap assessmentSectionConfigurations READ getassessmentSectionConfigurations WRITE setassessmentSectionConfigurations)

public:
    /// Creates options for a one-question, unscored, unlevelled assessment.
    explicit AssessmentOptions(QObject *parent = nullptr);

    QString getassessmentToken() const { return m_assessmentToken; } ///< Returns "assessmentToken".
    bool getallowSkipQuestion() const { return m_allowSkipQuestion; } ///< Returns "allowSkipQuestion".
    /// Returns "allowNavigateQuestionSet".
    bool getallowNavigateQuestionSet() const { return m_allowNavigateQuestionSet; }
    bool getallowResubmitResponse() const { return m_allowResubmitResponse; } ///< Returns "allowResubmitResponse".
    /// Returns "showSummaryOnAssessmentCompletion".
    bool getshowSummaryOnAssessmentCompletion() const { return m_showSummaryOnAssessmentCompletion; }
    /// Returns "showAnswerOnIncorrectResponse".
    bool getshowAnswerOnIncorrectResponse() const { return m_showAnswerOnIncorrectResponse; }
    bool getshowFeedback() const { return m_showFeedback; } ///< Returns "showFeedback".
    int getquestionCount() const { return m_questionCount; } ///< Returns "questionCount".
    int getstartingQuestionNumber() const { return m_startingQuestionNumber; } ///< Returns "startingQuestionNumber".
    int getallowedTime() const { return m_allowedTime; } ///< Returns "allowedTime".
    /// Returns "currentAssessmentSectionId".
    QString getcurrentAssessmentSectionId() const { return m_currentAssessmentSectionId; }
    QString gettitle() const { return m_title; } ///< Returns "title".
    QString getdescription() const { return m_description; } ///< Returns "description".
    bool getscored() const { return m_scored; } ///< Returns "scored".
    /// Returns "assessmentSectionConfigurations".
    QVariantMap getassessmentSectionConfigurations() const { return m_assessmentSectionConfigurations; }

public Q_SLOTS:
    void setassessmentToken(const QString &v) { m_assessmentToken = v; } ///< Stores "assessmentToken" as given.
    void setallowSkipQuestion(bool v) { m_allowSkipQuestion = v; } ///< Stores "allowSkipQuestion" as given.
    /// Stores "allowNavigateQuestionSet" as given.
    void setallowNavigateQuestionSet(bool v) { m_allowNavigateQuestionSet = v; }
    void setallowResubmitResponse(bool v) { m_allowResubmitResponse = v; } ///< Stores "allowResubmitResponse" as given.
    /// Stores "showSummaryOnAssessmentCompletion" as given.
    void setshowSummaryOnAssessmentCompletion(bool v) { m_showSummaryOnAssessmentCompletion = v; }
    /// Stores "showAnswerOnIncorrectResponse" as given.
    void setshowAnswerOnIncorrectResponse(bool v) { m_showAnswerOnIncorrectResponse = v; }
    void setshowFeedback(bool v) { m_showFeedback = v; } ///< Stores "showFeedback" as given.
    void setquestionCount(int v) { m_questionCount = v; } ///< Stores "questionCount" as given.
    /// Stores "startingQuestionNumber" as given.
    void setstartingQuestionNumber(int v) { m_startingQuestionNumber = v; }
    void setallowedTime(int v) { m_allowedTime = v; } ///< Stores "allowedTime" as given.
    /// Stores "currentAssessmentSectionId" as given.
    void setcurrentAssessmentSectionId(const QString &v) { m_currentAssessmentSectionId = v; }
    void settitle(const QString &v) { m_title = v; } ///< Stores "title" as given.
    void setdescription(const QString &v) { m_description = v; } ///< Stores "description" as given.
    void setscored(bool v) { m_scored = v; } ///< Stores "scored" as given.
    /// Stores "assessmentSectionConfigurations" as given.
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
