// One answer option of a question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>

namespace Veltro {

class VELTROCLIENT_EXPORT ActivityOption : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ getID WRITE setID)
    Q_PROPERTY(QString optionText READ getoptionText WRITE setoptionText)
    Q_PROPERTY(int displaySeqNumber READ getdisplaySeqNumber WRITE setdisplaySeqNumber)
    Q_PROPERTY(bool math READ getmath WRITE setmath)

public:
    /// Creates an option with empty id and text, position 0 and no math.
    explicit ActivityOption(QObject *parent = nullptr);

    QString getID() const { return m_id; }
    QString getoptionText() const { return m_optionText; }
    int getdisplaySeqNumber() const { return m_displaySeqNumber; }
    bool getmath() const { return m_math; }

public Q_SLOTS:
    void setID(const QString &v) { m_id = v; }
    void setoptionText(const QString &v) { m_optionText = v; }
    void setdisplaySeqNumber(int v) { m_displaySeqNumber = v; }
    void setmath(bool v) { m_math = v; }

private:
    QString m_id;
    QString m_optionText;
    int m_displaySeqNumber = 0;
    bool m_math = false;
};

} // namespace Veltro
