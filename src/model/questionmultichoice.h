// A multiple-choice question.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "questionbasewithoptions.h"
#include "veltroclient_export.h"

namespace Veltro {

/// A multiple-choice question.
class VELTROCLIENT_EXPORT QuestionMultiChoice : public QuestionBaseWithOptions
{
    Q_OBJECT
    /// JSON member "numberOfCorrectOptions".
    Q_PROPERTY(int numberOfCorrectOptions READ getnumberOfCorrectOptions WRITE setnumberOfCorrectOptions)

public:
    /// Creates a multiple-choice question with one correct option; see QuestionBase for the common fields.
    explicit QuestionMultiChoice(QObject *parent = nullptr);

    /// Returns "multiple".
    QString getType() const override;
    /// Records one option answer per character ("AD" gives options A and D).
    void setPriorAnswer(const QString &answer) override;

    int getnumberOfCorrectOptions() const { return m_numberOfCorrectOptions; } ///< Returns "numberOfCorrectOptions".

public Q_SLOTS:
    /// Stores "numberOfCorrectOptions" as given.
    void setnumberOfCorrectOptions(int v) { m_numberOfCorrectOptions = v; }

private:
    int m_numberOfCorrectOptions = 1;
};

} // namespace Veltro
