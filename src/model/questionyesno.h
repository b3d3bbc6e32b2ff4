// A yes/no(/other) or true/false question.
#pragma once

#include "questionbasewithoptions.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A yes/no(/other) or true/false question.
class VELTROCLIENT_EXPORT QuestionYesNo : public QuestionBaseWithOptions
{
    Q_OBJECT

public:
    /// Creates a yes/no/other question; see QuestionBase for the common fields.
    explicit QuestionYesNo(QObject *parent = nullptr);

    /// Returns "true-false" once setTrueFalseType(true) was called, else "yes-no-other".
    QString getType() const override;
    /// Chooses between the true/false and the yes/no/other form.
    void setTrueFalseType(bool trueFalse) { m_trueFalse = trueFalse; }

private:
    bool m_trueFalse = false;
};

} // namespace Veltro
