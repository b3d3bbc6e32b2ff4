#include "pollkinds.h"

namespace Veltro {

namespace {

// True/false and yes/no have fixed label sets, so their counts are bounded
// by what the devices can show; for a number poll the "options" are decimals.
const PollKind kPollKinds[] = {
    {"multiple", PollType::MULTIPLE, OrdinalType::ALPHA_UPPER, 4, 2, 26, "Multiple choice"},
    {"true-false", PollType::TRUE_FALSE, OrdinalType::TRUE_FALSE, 2, 2, 3, "True / false"},
    {"yes-no", PollType::YES_NO_OTHER, OrdinalType::YES_NO_OTHER, 3, 2, 3, "Yes / no"},
    {"scale", PollType::SCALE, OrdinalType::NUMBER, 4, 2, 10, "Scale"},
    {"sort", PollType::SORT, OrdinalType::ALPHA_UPPER, 4, 2, 26, "Sort"},
    {"text", PollType::TEXT, OrdinalType::GENERIC, 0, 0, 0, "Text"},
    {"number", PollType::NUMBER, OrdinalType::NUMBER, 0, 0, 6, "Number"},
    {"math", PollType::MATH_FORMULA, OrdinalType::GENERIC, 0, 0, 0, "Math formula"},
    {"word-seed", PollType::WORD_SEED, OrdinalType::GENERIC, 0, 0, 26, "Word seed"},
    {"creative", PollType::CREATIVE, OrdinalType::GENERIC, 0, 0, 26, "Creative"},
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

QStringList pollKindNames()
{
    QStringList names;
    for (const PollKind &k : kPollKinds)
        names << QLatin1String(k.name);
    return names;
}

} // namespace Veltro
