// A math-formula question.
#pragma once

#include "questionbase.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A math-formula question.
class VELTROCLIENT_EXPORT QuestionMathFormula : public QuestionBase
{
    // No meta-object of its own: peers see the base class name and properties.
public:
    /// Creates a math-formula question; see QuestionBase for the common fields.
    explicit QuestionMathFormula(QObject *parent = nullptr);

    /// Returns "math formula".
    QString getType() const override;
    /// Always true for this class. Hides the base reader only: the math
    /// property and the JSON still carry the stored flag.
    bool getmath() const { return true; }
};

} // namespace Veltro
