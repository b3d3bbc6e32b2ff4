// A free-text question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "questionbase.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A free-text question.
class VELTROCLIENT_EXPORT QuestionText : public QuestionBase
{
    Q_OBJECT
    Q_PROPERTY(int maxChars READ getmaxChars WRITE setmaxChars) ///< JSON member "maxChars".

public:
    /// Creates a text question without a length limit; see QuestionBase for the common fields.
    explicit QuestionText(QObject *parent = nullptr);

    /// Returns "text".
    QString getType() const override;

    int getmaxChars() const { return m_maxChars; } ///< Returns "maxChars".

public Q_SLOTS:
    void setmaxChars(int v) { m_maxChars = v; } ///< Stores "maxChars" as given.

private:
    int m_maxChars = 0;
};

} // namespace Veltro
