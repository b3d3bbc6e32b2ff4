// A word-seed question; created by the host only.
#pragma once

#include "questionbase.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A word-seed question; created by the host only.
class VELTROCLIENT_EXPORT QuestionWordSeed : public QuestionBase
{
    // No meta-object of its own: peers see the base class name and properties.
public:
    /// Creates a word-seed question; see QuestionBase for the common fields.
    explicit QuestionWordSeed(QObject *parent = nullptr);

    /// Returns "word-seed".
    QString getType() const override;
};

} // namespace Veltro
