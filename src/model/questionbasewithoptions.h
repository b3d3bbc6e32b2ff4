// A question with answer options, option-label metadata and prior answers
// given as option ids.
#pragma once

#include "activityoption.h"
#include "ordinaltype.h"
#include "questionbase.h"
#include "questionmetadata.h"
#include "veltroclient_export.h"

#include <QList>
#include <QString>
#include <QVariantList>

namespace Veltro {

/// A question with answer options, option-label metadata and prior answers.
class VELTROCLIENT_EXPORT QuestionBaseWithOptions : public QuestionBase
{
    Q_OBJECT
    Q_PROPERTY(QObject* metadata READ getmetadata WRITE setmetadata) ///< JSON member "metadata".
    Q_PROPERTY(QVariantList activityOptions READ getactivityOptions) ///< JSON member "activityOptions".

public:
    /// Creates a question with new, empty metadata (a child) and no options.
    explicit QuestionBaseWithOptions(QObject *parent = nullptr);

    /// From the first option's id: "A" alpha-upper, "a" alpha-lower, "0"/"1"
    /// number (option indices cleared); any other id or no option: no change.
    void inferOrdinalType() override;
    /// Records the whole answer as one option answer {"activityOptionId": answer}.
    void setPriorAnswer(const QString &answer) override;

    /// Returns the stored metadata object as the property reads it.
    QObject *getmetadata() const;
    /// Returns one map per option ("displaySeqNumber", "id", "math",
    /// "optionText"), computed anew at each call.
    QVariantList getactivityOptions() const;

    /// Returns the stored metadata (null if the host stored a non-metadata object).
    QuestionMetadata *metadata() const { return m_metadata; }

    /// Appends a new option (a child of the question); duplicates are not checked.
    void addActivityOption(const QString &id, const QString &optionText, int displaySeqNumber);

    /// Sets the metadata's ordinal type and the indices 0..optionCount-1
    /// (none when optionCount <= 0). Does nothing when the metadata is null.
    void setMetadata(const QString &ordinalType, int optionCount);
    /// As above with the enumerator's string ("" for a value outside the enumeration).
    void setMetadata(OrdinalType::ORDINAL_TYPE ordinalType, int optionCount);
    /// As above with the current number of options.
    void setOrdinals(OrdinalType::ORDINAL_TYPE ordinalType);

public Q_SLOTS:
    /// Stores the metadata; the replaced one is not deleted.
    void setmetadata(Veltro::QuestionMetadata *metadata) { m_metadata = metadata; }
    /// Stores `object` if it is a QuestionMetadata, otherwise null.
    void setmetadata(QObject *object);

protected:
    /// Records one option answer per character of `answer`, in order.
    void setPriorAnswerPerCharacter(const QString &answer);

private:
    QuestionMetadata *m_metadata = nullptr;
    QList<ActivityOption *> m_options;
};

} // namespace Veltro
