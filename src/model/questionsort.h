// A sort question: learners order the options.
#pragma once

#include "questionbasewithoptions.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A sort question: learners order the options.
class VELTROCLIENT_EXPORT QuestionSort : public QuestionBaseWithOptions
{
    // No meta-object of its own: peers see the base class name and properties.
public:
    /// Creates a sort question; see QuestionBase for the common fields.
    explicit QuestionSort(QObject *parent = nullptr);

    /// Returns "sort".
    QString getType() const override;
    /// Records one option answer per character; the order of the characters is kept.
    void setPriorAnswer(const QString &answer) override;
};

} // namespace Veltro
