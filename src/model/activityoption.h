// One answer option of a question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>

namespace Veltro {

/// One answer option of a question: id, text, position, math flag.
class VELTROCLIENT_EXPORT ActivityOption : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ getID WRITE setID) ///< JSON member "id".
    Q_PROPERTY(QString optionText READ getoptionText WRITE setoptionText) ///< JSON member "optionText".
    /// JSON member "displaySeqNumber".
    Q_PROPERTY(int displaySeqNumber READ getdisplaySeqNumber WRITE setdisplaySeqNumber)
    Q_PROPERTY(bool math READ getmath WRITE setmath) ///< JSON member "math".

public:
    /// Creates an option with empty id and text, position 0 and no math.
    explicit ActivityOption(QObject *parent = nullptr);

    QString getID() const { return m_id; } ///< Returns "id".
    QString getoptionText() const { return m_optionText; } ///< Returns "optionText".
    int getdisplaySeqNumber() const { return m_displaySeqNumber; } ///< Returns "displaySeqNumber".
    bool getmath() const { return m_math; } ///< Returns "math".

public Q_SLOTS:
    void setID(const QString &v) { m_id = v; } ///< Stores "id" as given.
    void setoptionText(const QString &v) { m_optionText = v; } ///< Stores "optionText" as given.
    void setdisplaySeqNumber(int v) { m_displaySeqNumber = v; } ///< Stores "displaySeqNumber" as given.
    void setmath(bool v) { m_math = v; } ///< Stores "math" as given.

private:
    QString m_id;
    QString m_optionText;
    int m_displaySeqNumber = 0;
    bool m_math = false;
};

} // namespace Veltro
