// Root of the question classes. Every field is a Qt property whose name is
// its JSON key on the wire.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "questionfeedback.h"
#include "veltroclient_export.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace Veltro {

/// Root of the question classes; every field is a Qt property named as its JSON key.
class VELTROCLIENT_EXPORT QuestionBase : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ getID WRITE setID) ///< JSON member "id".
    /// JSON member "questionSetMode".
    Q_PROPERTY(QString questionSetMode READ getquestionSetMode WRITE setquestionSetMode)
    Q_PROPERTY(int questionNumber READ getquestionNumber WRITE setquestionNumber) ///< JSON member "questionNumber".
    Q_PROPERTY(QString type READ getType WRITE setType) ///< JSON member "type".
    Q_PROPERTY(QVariantMap activityType READ getactivityType WRITE setactivityType) ///< JSON member "activityType".
    Q_PROPERTY(QObject* feedBack READ getfeedBack WRITE setfeedBack) ///< JSON member "feedBack".
    Q_PROPERTY(QString instructions READ getinstructions WRITE setinstructions) ///< JSON member "instructions".
    Q_PROPERTY(QString passage READ getpassage WRITE setpassage) ///< JSON member "passage".
    Q_PROPERTY(QObject* card READ getcard WRITE setcard) ///< JSON member "card".
    Q_PROPERTY(QString hint READ gethint WRITE sethint) ///< JSON member "hint".
    Q_PROPERTY(bool math READ getmath WRITE setmath) ///< JSON member "math".
    Q_PROPERTY(bool hasNext READ gethasNext WRITE sethasNext) ///< JSON member "hasNext".
    Q_PROPERTY(bool navigable READ getnavigable WRITE setnavigable) ///< JSON member "navigable".

public:
    /// Creates a question with a random 8-character id, a new feedback block
    /// and an empty card (both children of the question).
    explicit QuestionBase(QObject *parent = nullptr);

    /// Returns the type string; subclasses report their constant string,
    /// a plain question the one stored by setType.
    virtual QString getType() const;
    /// Derives the metadata's ordinal type from the options; no-op here.
    virtual void inferOrdinalType();
    /// Records a learner's earlier answer in the feedback block (and allows
    /// 99 more retries). Does nothing when the feedback block is null.
    virtual void setPriorAnswer(const QString &answer);

    QString getID() const { return m_id; } ///< Returns "id".
    QString getquestionSetMode() const { return m_questionSetMode; } ///< Returns "questionSetMode".
    int getquestionNumber() const { return m_questionNumber; } ///< Returns "questionNumber".
    QVariantMap getactivityType() const { return m_activityType; } ///< Returns "activityType".
    QObject *getfeedBack() const; ///< Returns "feedBack".
    QString getinstructions() const { return m_instructions; } ///< Returns "instructions".
    QString getpassage() const { return m_passage; } ///< Returns "passage".
    QObject *getcard() const { return m_card; } ///< Returns "card".
    QString gethint() const { return m_hint; } ///< Returns "hint".
    bool getmath() const { return m_math; } ///< Returns "math".
    bool gethasNext() const { return m_hasNext; } ///< Returns "hasNext".
    bool getnavigable() const { return m_navigable; } ///< Returns "navigable".

    /// Returns the stored feedback block (null if the host stored a non-feedback object).
    QuestionFeedback *feedback() const { return m_feedBack; }

public Q_SLOTS:
    void setID(const QString &v) { m_id = v; } ///< Stores "id" as given.
    void setquestionSetMode(const QString &v) { m_questionSetMode = v; } ///< Stores "questionSetMode" as given.
    void setquestionNumber(int v) { m_questionNumber = v; } ///< Stores "questionNumber" as given.
    void setType(const QString &v) { m_type = v; } ///< Stores "type" as given.
    void setactivityType(const QVariantMap &v) { m_activityType = v; } ///< Stores "activityType" as given.
    /// Stores the feedback block; the replaced one is not deleted.
    void setfeedBack(Veltro::QuestionFeedback *feedback) { m_feedBack = feedback; }
    /// Stores `object` if it is a QuestionFeedback, otherwise null.
    void setfeedBack(QObject *object);
    void setinstructions(const QString &v) { m_instructions = v; } ///< Stores "instructions" as given.
    void setpassage(const QString &v) { m_passage = v; } ///< Stores "passage" as given.
    /// Stores any object as the card (e.g. a Card); the replaced one is not deleted.
    void setcard(QObject *v) { m_card = v; }
    void sethint(const QString &v) { m_hint = v; } ///< Stores "hint" as given.
    void setmath(bool v) { m_math = v; } ///< Stores "math" as given.
    void sethasNext(bool v) { m_hasNext = v; } ///< Stores "hasNext" as given.
    void setnavigable(bool v) { m_navigable = v; } ///< Stores "navigable" as given.

protected:
    /// Allows 99 more retries in the feedback block; nothing else.
    void configurePriorAnswer();

private:
    QString m_id;
    QString m_questionSetMode;
    int m_questionNumber = 0;
    QString m_type;
    QVariantMap m_activityType;
    QuestionFeedback *m_feedBack = nullptr;
    QString m_instructions;
    QString m_passage;
    QObject *m_card = nullptr;
    QString m_hint;
    bool m_math = false;
    bool m_hasNext = false;
    bool m_navigable = false;
};

} // namespace Veltro
