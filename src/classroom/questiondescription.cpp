#include "questiondescription.h"

#include "pollfactory_p.h"
#include "pollkinds.h"
#include "questionbasewithoptions.h"

#include <QSet>

namespace Veltro {

namespace {

bool hasOptions(PollType::POLL_TYPE t)
{
    return t == PollType::MULTIPLE || t == PollType::TRUE_FALSE || t == PollType::YES_NO_OTHER
        || t == PollType::SCALE || t == PollType::SORT;
}

// The options a question shows: the given ones, or a true/false or yes/no question's own.
QStringList shownOptions(const PollKind *kind, const QStringList &given)
{
    if (!given.isEmpty())
        return given;
    if (kind->pollType == PollType::TRUE_FALSE)
        return {QStringLiteral("TRUE"), QStringLiteral("FALSE")};
    if (kind->pollType == PollType::YES_NO_OTHER)
        return {QStringLiteral("YES"), QStringLiteral("NO")};
    return given;
}

QString optionId(int i) { return QString(QChar(QLatin1Char('A').unicode() + i)); }

} // namespace

QuestionDescription::QuestionDescription(const QString &kind, const QString &text, const QStringList &options,
                                         const QList<int> &correct)
    : kind(kind), text(text), options(options), correct(correct)
{
}

QuestionDescription QuestionDescription::fromVariant(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QuestionDescription>())
        return value.value<QuestionDescription>();
    const QVariantMap m = value.toMap();
    QuestionDescription d;
    d.kind = m.value(QStringLiteral("kind")).toString();
    d.text = m.value(QStringLiteral("text")).toString();
    d.options = m.value(QStringLiteral("options")).toStringList();
    for (const QVariant &i : m.value(QStringLiteral("correct")).toList()) {
        bool ok = false;
        const int n = i.toInt(&ok);
        d.correct << (ok ? n : -1);
    }
    return d;
}

QString QuestionDescription::problem() const
{
    const PollKind *k = pollKindByName(kind);
    if (!k)
        return QStringLiteral("unknown kind \"%1\"").arg(kind);
    const bool withOptions = hasOptions(k->pollType);
    if (!withOptions && k->pollType != PollType::TEXT && k->pollType != PollType::NUMBER
        && k->pollType != PollType::MATH_FORMULA)
        return QStringLiteral("a %1 is a poll, not an assessment question").arg(kind);
    const int n = shownOptions(k, options).size();
    if (!withOptions && n > 0)
        return QStringLiteral("a %1 question has no options").arg(kind);
    if (withOptions && (n < k->minOptions || n > k->maxOptions))
        return QStringLiteral("a %1 question has %2 to %3 options").arg(kind).arg(k->minOptions).arg(k->maxOptions);
    QSet<int> seen;
    for (int i : correct) {
        if (i < 0 || i >= n || seen.contains(i))
            return QStringLiteral("correct option %1 is out of range or repeated").arg(i);
        seen.insert(i);
    }
    return QString();
}

QuestionBase *QuestionDescription::createQuestion(QObject *parent) const
{
    if (!problem().isEmpty())
        return nullptr;
    const PollKind *k = pollKindByName(kind);
    // The poll factory makes the question of each kind; a description brings
    // its own option texts instead of generated ones.
    QuestionBase *q = makePollQuestion(parent, k->pollType, k->ordinalType, 0, qMax(1, int(correct.size())));
    q->setinstructions(text);
    if (auto *withOptions = qobject_cast<QuestionBaseWithOptions *>(q)) {
        const QStringList shown = shownOptions(k, options);
        for (int i = 0; i < shown.size(); ++i)
            withOptions->addActivityOption(optionId(i), shown.at(i), i + 1);
    }
    q->inferOrdinalType();
    QVariantList ids;
    for (const QString &id : correctIds())
        ids << id;
    q->feedback()->setcorrectOptions(ids);
    return q;
}

QStringList QuestionDescription::correctIds() const
{
    QStringList ids;
    for (int i : correct)
        ids << optionId(i);
    return ids;
}

bool QuestionDescription::isRight(const QStringList &optionIds) const
{
    const QStringList right = correctIds();
    if (right.isEmpty())
        return false;
    if (pollKindByName(kind) && pollKindByName(kind)->pollType == PollType::SORT)
        return optionIds == right;
    return QSet<QString>(optionIds.begin(), optionIds.end()) == QSet<QString>(right.begin(), right.end())
        && optionIds.size() == right.size();
}

int QuestionDescription::registerMetaType()
{
    return qRegisterMetaType<QuestionDescription>("Veltro::QuestionDescription");
}

static void registerQuestionDescription()
{
    QuestionDescription::registerMetaType();
}
Q_CONSTRUCTOR_FUNCTION(registerQuestionDescription)

} // namespace Veltro
