#include "pollkinds.h"

#include <QCoreApplication>

namespace Veltro {

namespace {

// True/false and yes/no have fixed label sets, so their counts are bounded
// by what the devices can show; for a number poll the "options" are decimals.
const PollKind kPollKinds[] = {
    {"multiple", PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 4, 2, 26, QT_TRANSLATE_NOOP("Veltro::PollKind", "Multiple choice")},
    {"true-false", PollType::TRUE_FALSE, OrdinalType::TRUE_FALSE, 2, 2, 3, QT_TRANSLATE_NOOP("Veltro::PollKind", "True / false")},
    {"yes-no", PollType::YES_NO_OTHER, OrdinalType::YES_NO_OTHER, 3, 2, 3, QT_TRANSLATE_NOOP("Veltro::PollKind", "Yes / no")},
    {"scale", PollType::SCALE, OrdinalType::NUMBER, 4, 2, 10, QT_TRANSLATE_NOOP("Veltro::PollKind", "Scale")},
    {"sort", PollType::SORT, OrdinalType::ALPHA_UPPER, 4, 2, 26, QT_TRANSLATE_NOOP("Veltro::PollKind", "Sort")},
    {"text", PollType::TEXT, OrdinalType::GENERIC, 0, 0, 0, QT_TRANSLATE_NOOP("Veltro::PollKind", "Text")},
    {"number", PollType::NUMBER, OrdinalType::NUMBER, 0, 0, 6, QT_TRANSLATE_NOOP("Veltro::PollKind", "Number")},
    {"math", PollType::MATH_FORMULA, OrdinalType::GENERIC, 0, 0, 0, QT_TRANSLATE_NOOP("Veltro::PollKind", "Math formula")},
    {"word-seed", PollType::WORD_SEED, OrdinalType::GENERIC, 0, 0, 26, QT_TRANSLATE_NOOP("Veltro::PollKind", "Word seed")},
    {"creative", PollType::CREATIVE, OrdinalType::GENERIC, 0, 0, 26, QT_TRANSLATE_NOOP("Veltro::PollKind", "Creative")},
};

} // namespace

const PollKind *pollKindByName(const QString &name)
{
    QString n = name.trimmed().toLower();
    if (n == QLatin1String("yes-no-other"))
        n = QStringLiteral("yes-no");
    else if (n == QLatin1String("math-formula") || n == QLatin1String("math formula"))
        n = QStringLiteral("math");
    else if (n == QLatin1String("multiple-choice"))
        n = QStringLiteral("multiple");
    for (const PollKind &k : kPollKinds) {
        if (n == QLatin1String(k.name))
            return &k;
    }
    return nullptr;
}

QString pollKindLabel(const QString &name)
{
    const PollKind *k = pollKindByName(name);
    return k ? QCoreApplication::translate("Veltro::PollKind", k->label) : QString();
}

QStringList pollKindNames()
{
    QStringList names;
    for (const PollKind &k : kPollKinds)
        names << QLatin1String(k.name);
    return names;
}

} // namespace Veltro
