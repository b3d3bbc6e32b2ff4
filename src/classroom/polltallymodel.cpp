#include "polltallymodel.h"

#include "csvwriter_p.h"
#include "followed_p.h"
#include "frameclock_p.h"
#include "learnermodel.h"
#include "presentercollab.h"
#include "questionbase.h"
#include "questionbasewithoptions.h"

#include <QSet>

#include <algorithm>

namespace Veltro {

namespace {

struct Row
{
    QString label;
    QString optionId;
    int count = 0;
    bool correct = false;

    bool operator==(const Row &o) const
    {
        return count == o.count && correct == o.correct && label == o.label && optionId == o.optionId;
    }
};

// One device's answer: as a host gave it to record() (one text), or as the
// device sent it, typed text and chosen option ids apart.
struct Answer
{
    QString shown; // what answerOf() gives
    QString text;
    QStringList ids;
    bool apart = false;
};

} // namespace

class PollTallyModelPrivate
{
public:
    explicit PollTallyModelPrivate(PollTallyModel *q)
        : q(q), clock(q, [this] { apply(); })
    {
    }

    PollTallyModel *q;
    FrameClock clock;
    Followed<PresenterCollab> collab;
    Followed<LearnerModel> learners;

    QString pollId;
    PollType::POLL_TYPE pollType = PollType::MULTIPLE;
    PollTallyModel::Mode mode = PollTallyModel::Mode::Choice;
    QVector<TallyOption> options;
    bool counting = false;
    int present = 0;
    int maxRows = 8;

    // What is counted now: every device's answer and what it adds up to.
    QHash<QString, Answer> answers; // by device
    QHash<QString, int> counts;      // option id, or trimmed text for free text
    int other = 0;                   // answers naming no option
    int repeats = 0;

    // What the views were last told.
    QVector<Row> rows;
    int shownAnswered = 0;

    void add(const Answer &answer, int delta);
    QStringList named(const Answer &answer) const;
    bool record(const QString &deviceId, const QString &answerId, const Answer &answer);
    void recordApart(const QString &deviceId, const QString &answerId, const QString &text, const QStringList &ids);
    // The option an id or label names (labels in any case); null for none.
    QString optionNamed(const QString &part) const;
    QVector<Row> buildRows() const;
    void apply();
    void reset(const QString &answerId, PollType::POLL_TYPE type, const QVector<TallyOption> &newOptions);
};

QString PollTallyModelPrivate::optionNamed(const QString &part) const
{
    for (const TallyOption &o : options) {
        if (part == o.id || (!o.label.isEmpty() && part.compare(o.label, Qt::CaseInsensitive) == 0))
            return o.id;
    }
    return QString();
}

// The options an answer names. Ids sent apart name options by themselves and
// the text then names none; a text sent alone names options by whole id or
// label, comma separated (never letter by letter: "BAD" typed is not B, A, D).
QStringList PollTallyModelPrivate::named(const Answer &answer) const
{
    if (!answer.apart)
        return q->optionsNamed(answer.shown);
    QStringList out;
    const QStringList parts = answer.ids.isEmpty() ? answer.text.split(QLatin1Char(','), Qt::SkipEmptyParts)
                                                   : answer.ids;
    const auto isOption = [this](const QString &id) {
        return std::any_of(options.cbegin(), options.cend(), [&id](const TallyOption &o) { return o.id == id; });
    };
    for (const QString &part : parts) {
        const QString id = answer.ids.isEmpty() ? optionNamed(part.trimmed()) : isOption(part) ? part : QString();
        if (!id.isNull() && !out.contains(id))
            out << id;
    }
    return out;
}

// Adds (delta 1) or takes back (delta -1) what one answer counts for.
void PollTallyModelPrivate::add(const Answer &answer, int delta)
{
    if (mode == PollTallyModel::Mode::FreeText) {
        // Sent apart: the typed text, else the picks (a template poll's).
        QString key = answer.shown;
        if (answer.apart)
            key = answer.text.trimmed().isEmpty() ? answer.ids.join(QLatin1Char(',')) : answer.text;
        counts[key.trimmed()] += delta;
        return;
    }
    QStringList named = this->named(answer);
    if (named.isEmpty()) {
        other += delta;
        return;
    }
    if (mode == PollTallyModel::Mode::FirstPick)
        named = named.mid(0, 1);
    for (const QString &id : qAsConst(named))
        counts[id] += delta;
}

QVector<Row> PollTallyModelPrivate::buildRows() const
{
    QVector<Row> out;
    if (pollId.isEmpty())
        return out;
    if (mode != PollTallyModel::Mode::FreeText) {
        out.reserve(options.size() + 1);
        for (const TallyOption &o : options) {
            const QString label = o.label.isEmpty() ? o.id : o.id + QLatin1Char(' ') + o.label;
            out.append({label, o.id, counts.value(o.id), o.correct});
        }
        if (other > 0)
            out.append({QStringLiteral("other"), QString(), other});
        return out;
    }
    QVector<Row> all;
    all.reserve(counts.size());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > 0)
            all.append({it.key().isEmpty() ? QStringLiteral("(empty)") : it.key(), it.key(), it.value()});
    }
    const auto before = [](const Row &a, const Row &b) {
        return a.count != b.count ? a.count > b.count : a.label < b.label;
    };
    // Only the rows shown need an order; the rest is summed up.
    const int shown = all.size() > maxRows ? maxRows - 1 : all.size();
    std::partial_sort(all.begin(), all.begin() + shown, all.end(), before);
    int rest = 0;
    for (int i = shown; i < all.size(); ++i)
        rest += all.at(i).count;
    out = all.mid(0, shown);
    if (shown < all.size())
        out.append({QStringLiteral("(%1 other answers)").arg(all.size() - shown), QString(), rest});
    return out;
}

void PollTallyModelPrivate::apply()
{
    clock.applied();
    const QVector<Row> next = buildRows();
    const int answeredNow = answers.size();
    const bool shareChanged = answeredNow != shownAnswered;
    shownAnswered = answeredNow;
    const int oldCount = rows.size();
    const int common = qMin(oldCount, next.size());

    int first = -1;
    int last = -1;
    for (int i = 0; i < common; ++i) {
        if (shareChanged || !(rows.at(i) == next.at(i))) {
            rows[i] = next.at(i);
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first >= 0)
        Q_EMIT q->dataChanged(q->index(first), q->index(last));
    if (next.size() > oldCount) {
        q->beginInsertRows(QModelIndex(), oldCount, next.size() - 1);
        rows += next.mid(oldCount);
        q->endInsertRows();
    } else if (next.size() < oldCount) {
        q->beginRemoveRows(QModelIndex(), next.size(), oldCount - 1);
        rows.resize(next.size());
        q->endRemoveRows();
    }
    if (shareChanged)
        Q_EMIT q->answeredChanged();
    if (rows.size() != oldCount)
        Q_EMIT q->countChanged();
}

void PollTallyModelPrivate::reset(const QString &answerId, PollType::POLL_TYPE type,
                                  const QVector<TallyOption> &newOptions)
{
    pollId = answerId;
    pollType = type;
    options = newOptions;
    mode = options.isEmpty() ? PollTallyModel::Mode::FreeText
        : type == PollType::SORT ? PollTallyModel::Mode::FirstPick
                                 : PollTallyModel::Mode::Choice;
    counting = !answerId.isEmpty();
    answers.clear();
    counts.clear();
    other = 0;
    repeats = 0;
    apply();
    Q_EMIT q->answersCleared();
    Q_EMIT q->pollChanged();
}

PollTallyModel::PollTallyModel(QObject *parent)
    : QAbstractListModel(parent), d(new PollTallyModelPrivate(this))
{
}

PollTallyModel::~PollTallyModel() = default;

int PollTallyModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : d->rows.size();
}

QVariant PollTallyModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const Row &row = d->rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case LabelRole:
        return row.label;
    case OptionIdRole:
        return row.optionId;
    case CountRole:
        return row.count;
    case ShareRole:
        return d->shownAnswered > 0 ? double(row.count) / d->shownAnswered : 0.0;
    case CorrectRole:
        return row.correct;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> PollTallyModel::roleNames() const
{
    return {{LabelRole, "label"}, {OptionIdRole, "optionId"}, {CountRole, "count"}, {ShareRole, "share"},
            {CorrectRole, "correct"}};
}

int PollTallyModel::answered() const { return d->answers.size(); }
int PollTallyModel::repeats() const { return d->repeats; }
int PollTallyModel::present() const { return d->present; }

void PollTallyModel::setPresent(int present)
{
    if (d->learners || present == d->present)
        return;
    d->present = present;
    Q_EMIT presentChanged();
}

QString PollTallyModel::pollId() const { return d->pollId; }
PollType::POLL_TYPE PollTallyModel::pollType() const { return d->pollType; }
PollTallyModel::Mode PollTallyModel::mode() const { return d->mode; }
bool PollTallyModel::isCounting() const { return d->counting; }
int PollTallyModel::count() const { return d->rows.size(); }
int PollTallyModel::maxRows() const { return d->maxRows; }

void PollTallyModel::setMaxRows(int rows)
{
    rows = qMax(2, rows);
    if (rows == d->maxRows)
        return;
    d->maxRows = rows;
    if (d->mode == Mode::FreeText)
        d->clock.schedule();
    Q_EMIT maxRowsChanged();
}

QVector<TallyOption> PollTallyModel::options() const { return d->options; }

TallyOption PollTallyModel::optionAt(int index) const { return d->options.value(index); }

void PollTallyModel::setCorrectOptions(const QStringList &ids)
{
    QSet<QString> marked;
    for (const QString &name : ids)
        marked.insert(d->optionNamed(name.trimmed()));
    bool changed = false;
    for (TallyOption &o : d->options) {
        const bool correct = marked.contains(o.id);
        changed = changed || correct != o.correct;
        o.correct = correct;
    }
    if (!changed)
        return;
    d->clock.schedule();
    Q_EMIT correctOptionsChanged();
}

bool PollTallyModel::hasCorrectOptions() const
{
    return std::any_of(d->options.cbegin(), d->options.cend(), [](const TallyOption &o) { return o.correct; });
}

bool PollTallyModel::isRight(const QString &deviceId) const
{
    const auto it = d->answers.constFind(deviceId);
    if (it == d->answers.cend() || d->mode == Mode::FreeText)
        return false;
    QStringList correct;
    for (const TallyOption &o : qAsConst(d->options)) {
        if (o.correct)
            correct << o.id;
    }
    const QStringList named = d->named(*it);
    if (correct.isEmpty() || named.isEmpty())
        return false;
    if (d->mode == Mode::FirstPick)
        return named.first() == correct.first();
    return QSet<QString>(named.begin(), named.end()) == QSet<QString>(correct.begin(), correct.end());
}

QString PollTallyModel::toCsv() const { return csvOf(*this, {LabelRole, OptionIdRole, CountRole, ShareRole, CorrectRole}); }

void PollTallyModel::start(const QString &answerId, PollType::POLL_TYPE pollType, const QVector<TallyOption> &options)
{
    d->reset(answerId, pollType, options);
}

void PollTallyModel::start(PresenterCollab *collab)
{
    start(collab, PollType::WORD_SEED);
}

void PollTallyModel::start(PresenterCollab *collab, PollType::POLL_TYPE templateType)
{
    if (!collab || collab->currentPollAnswerId().isEmpty())
        return;
    QVector<TallyOption> options;
    PollType::POLL_TYPE type = templateType;
    if (QuestionBase *question = collab->currentPollQuestion()) {
        const auto names = PollType::POLL_TYPE_STR();
        type = names.key(question->getType(), type);
        if (auto *withOptions = qobject_cast<QuestionBaseWithOptions *>(question)) {
            for (const QVariant &v : withOptions->getactivityOptions()) {
                const QVariantMap m = v.toMap();
                options.append({m.value(QStringLiteral("id")).toString(),
                                m.value(QStringLiteral("optionText")).toString()});
            }
        }
    }
    d->reset(collab->currentPollAnswerId(), type, options);
}

void PollTallyModel::stop()
{
    if (!d->counting)
        return;
    d->counting = false;
    Q_EMIT pollChanged();
}

void PollTallyModel::clear()
{
    d->reset(QString(), PollType::MULTIPLE, {});
}

bool PollTallyModel::record(const QString &deviceId, const QString &answerId, const QString &answer)
{
    return d->record(deviceId, answerId, {answer, answer, {}, false});
}

bool PollTallyModelPrivate::record(const QString &deviceId, const QString &answerId, const Answer &answer)
{
    if (!counting || answerId != pollId)
        return false;
    auto it = answers.find(deviceId);
    if (it != answers.end()) {
        add(*it, -1);
        *it = answer;
        ++repeats;
    } else {
        answers.insert(deviceId, answer);
    }
    add(answer, 1);
    clock.schedule(); // the rows follow within a frame, with the rest of a burst
    Q_EMIT q->answerRecorded(deviceId);
    return true;
}

// An answer as the collaboration object relays it. What answerOf() shows is
// the text learnerPollResponse() carries: a question's text followed by its
// option ids, a template poll's picks joined by ",".
void PollTallyModelPrivate::recordApart(const QString &deviceId, const QString &answerId, const QString &text,
                                        const QStringList &ids)
{
    const bool picks = text.isEmpty() && mode == PollTallyModel::Mode::FreeText;
    record(deviceId, answerId, {text + ids.join(picks ? QStringLiteral(",") : QString()), text, ids, true});
}

bool PollTallyModel::hasAnswered(const QString &deviceId) const { return d->answers.contains(deviceId); }
QString PollTallyModel::answerOf(const QString &deviceId) const
{
    const auto it = d->answers.constFind(deviceId);
    return it == d->answers.cend() ? QString() : it->shown;
}

QStringList PollTallyModel::optionsNamed(const QString &answer) const
{
    QStringList named;
    auto add = [&named](const QString &id) {
        if (!named.contains(id))
            named << id;
    };
    const QStringList parts = answer.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : parts) {
        const QString part = raw.trimmed();
        const QString whole = d->optionNamed(part);
        if (!whole.isNull()) {
            add(whole);
            continue;
        }
        // Run-together ids ("AC", or an answer text followed by the option
        // ids): taken apart greedily, longest id first; a part with anything
        // left over that is no id names nothing.
        QStringList pieces;
        int pos = 0;
        while (pos < part.size()) {
            int best = 0;
            QString bestId;
            for (const TallyOption &o : qAsConst(d->options)) {
                if (o.id.size() > best && QStringView(part).mid(pos, o.id.size()) == o.id) {
                    best = o.id.size();
                    bestId = o.id;
                }
            }
            if (best == 0)
                break;
            pieces << bestId;
            pos += best;
        }
        if (pos == part.size()) {
            for (const QString &p : qAsConst(pieces))
                add(p);
        }
    }
    return named;
}

void PollTallyModel::flush()
{
    if (d->clock.pending())
        d->apply();
}

void PollTallyModel::setCollab(PresenterCollab *collab)
{
    if (!d->collab.set(collab) || !collab)
        return;
    d->collab << connect(collab, &PresenterCollab::learnerAnswer, this,
                         [this](const QString &deviceId, const QString &answerId, int, const QString &text,
                                const QStringList &ids) { d->recordApart(deviceId, answerId, text, ids); });
}

PresenterCollab *PollTallyModel::collab() const { return d->collab; }

void PollTallyModel::setLearnerModel(LearnerModel *learners)
{
    if (!d->learners.set(learners) || !learners)
        return;
    const auto follow = [this] {
        if (d->learners && d->learners->count() != d->present) {
            d->present = d->learners->count();
            Q_EMIT presentChanged();
        }
    };
    d->learners << connect(learners, &LearnerModel::countChanged, this, follow);
    follow();
}

LearnerModel *PollTallyModel::learnerModel() const { return d->learners; }

} // namespace Veltro
