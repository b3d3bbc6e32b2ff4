// A numeric-answer question.
#pragma once

#include "questionbase.h"
#include "veltroclient_export.h"

namespace Veltro {

class VELTROCLIENT_EXPORT QuestionNumeric : public QuestionBase
{
    Q_OBJECT
    Q_PROPERTY(int noOfDecimals READ getnoOfDecimals WRITE setnoOfDecimals)

public:
    explicit QuestionNumeric(QObject *parent = nullptr);

    /// Returns "number".
    QString getType() const override;

    int getnoOfDecimals() const { return m_noOfDecimals; }

public Q_SLOTS:
    void setnoOfDecimals(int v) { m_noOfDecimals = v; }

private:
    int m_noOfDecimals = 0;
};

} // namespace Veltro
