// The option-label kind and option indices of a question with options.
// Readers (get<property>) return the stored value; writer slots
// (set<property>) store it unchanged and emit nothing.
#pragma once

#include "veltroclient_export.h"

#include <QObject>
#include <QString>
#include <QVariantList>

namespace Veltro {

/// The option-label kind and option indices of a question with options.
class VELTROCLIENT_EXPORT QuestionMetadata : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ordinalType READ getordinalType WRITE setordinalType) ///< JSON member "ordinalType".
    Q_PROPERTY(QVariantList options READ getoptions WRITE setoptions) ///< JSON member "options".

public:
    /// Creates metadata with an empty ordinal type and no option indices.
    explicit QuestionMetadata(QObject *parent = nullptr);

    QString getordinalType() const { return m_ordinalType; } ///< Returns "ordinalType".
    QVariantList getoptions() const { return m_options; } ///< Returns "options".

public Q_SLOTS:
    void setordinalType(const QString &v) { m_ordinalType = v; } ///< Stores "ordinalType" as given.
    void setoptions(const QVariantList &v) { m_options = v; } ///< Stores "options" as given.

private:
    QString m_ordinalType;
    QVariantList m_options;
};

} // namespace Veltro
