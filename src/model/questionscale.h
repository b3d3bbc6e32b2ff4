// A scale question: learners pick a point on a labelled scale.
#pragma once

#include "questionbasewithoptions.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A scale question: learners pick a point on a labelled scale.
class VELTROCLIENT_EXPORT QuestionScale : public QuestionBaseWithOptions
{
    // No meta-object of its own: peers see the base class name and properties.
public:
    /// Creates a scale question; see QuestionBase for the common fields.
    explicit QuestionScale(QObject *parent = nullptr);

    /// Returns "scale".
    QString getType() const override;
};

} // namespace Veltro
