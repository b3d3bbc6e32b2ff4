// A numeric-answer question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "questionbase.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A numeric-answer question.
class VELTROCLIENT_EXPORT QuestionNumeric : public QuestionBase
{
    Q_OBJECT
    Q_PROPERTY(int noOfDecimals READ getnoOfDecimals WRITE setnoOfDecimals) ///< JSON member "noOfDecimals".

public:
    /// Creates a numeric question with no decimals; see QuestionBase for the common fields.
    explicit QuestionNumeric(QObject *parent = nullptr);

    /// Returns "number".
    QString getType() const override;

    int getnoOfDecimals() const { return m_noOfDecimals; } ///< Returns "noOfDecimals".

public Q_SLOTS:
    void setnoOfDecimals(int v) { m_noOfDecimals = v; } ///< Stores "noOfDecimals" as given.

private:
    int m_noOfDecimals = 0;
};

} // namespace Veltro
