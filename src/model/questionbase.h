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

class VELTROCLIENT_EXPORT QuestionBase : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ getID WRITE setID)
    Q_PROPERTY(QString questionSetMode READ getquestionSetMode WRITE setquestionSetMode)
    Q_PROPERTY(int questionNumber READ getquestionNumber WRITE setquestionNumber)
    Q_PROPERTY(QString type READ getType WRITE setType)
    Q_PROPERTY(QVariantMap activityType READ getactivityType WRITE setactivityType)
    Q_PROPERTY(QObject* feedBack READ getfeedBack WRITE setfeedBack)
    Q_PROPERTY(QString instructions READ getinstructions WRITE setinstructions)
    Q_PROPERTY(QString passage READ getpassage WRITE setpassage)
    Q_PROPERTY(QObject* card READ getcard WRITE setcard)
    Q_PROPERTY(QString hint READ gethint WRITE sethint)
    Q_PROPERTY(bool math READ getmath WRITE setmath)
    Q_PROPERTY(bool hasNext READ gethasNext WRITE sethasNext)
    Q_PROPERTY(bool navigable READ getnavigable WRITE setnavigable)

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

    QString getID() const { return m_id; }
    QString getquestionSetMode() const { return m_questionSetMode; }
    int getquestionNumber() const { return m_questionNumber; }
    QVariantMap getactivityType() const { return m_activityType; }
    QObject *getfeedBack() const;
    QString getinstructions() const { return m_instructions; }
    QString getpassage() const { return m_passage; }
    QObject *getcard() const { return m_card; }
    QString gethint() const { return m_hint; }
    bool getmath() const { return m_math; }
    bool gethasNext() const { return m_hasNext; }
    bool getnavigable() const { return m_navigable; }

    /// Returns the stored feedback block (null if the host stored a non-feedback object).
    QuestionFeedback *feedback() const { return m_feedBack; }

public Q_SLOTS:
    void setID(const QString &v) { m_id = v; }
    void setquestionSetMode(const QString &v) { m_questionSetMode = v; }
    void setquestionNumber(int v) { m_questionNumber = v; }
    void setType(const QString &v) { m_type = v; }
    void setactivityType(const QVariantMap &v) { m_activityType = v; }
    /// Stores the feedback block; the replaced one is not deleted.
    void setfeedBack(Veltro::QuestionFeedback *feedback) { m_feedBack = feedback; }
    /// Stores `object` if it is a QuestionFeedback, otherwise null.
    void setfeedBack(QObject *object);
    void setinstructions(const QString &v) { m_instructions = v; }
    void setpassage(const QString &v) { m_passage = v; }
    /// Stores any object as the card (e.g. a Card); the replaced one is not deleted.
    void setcard(QObject *v) { m_card = v; }
    void sethint(const QString &v) { m_hint = v; }
    void setmath(bool v) { m_math = v; }
    void sethasNext(bool v) { m_hasNext = v; }
    void setnavigable(bool v) { m_navigable = v; }

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
