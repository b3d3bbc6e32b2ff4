// A creative question with options; created by the host only.
#pragma once

#include "questionbasewithoptions.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A creative question with options; created by the host only.
class VELTROCLIENT_EXPORT QuestionCreative : public QuestionBaseWithOptions
{
    // No meta-object of its own: peers see the base class name and properties.
public:
    /// Creates a creative question; see QuestionBase for the common fields.
    explicit QuestionCreative(QObject *parent = nullptr);

    /// Returns "creative".
    QString getType() const override;
};

} // namespace Veltro
