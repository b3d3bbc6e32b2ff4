#include "tally.h"

#include "questionbase.h"
#include "questionbasewithoptions.h"

namespace {
const QString kPoll = QStringLiteral("poll");
}

Tally::Tally() : Tally(Mode::FreeText, {}) {}

Tally::Tally(Mode mode, QVector<TallyOption> options) : m_model(std::make_shared<Veltro::PollTallyModel>())
{
    m_model->start(kPoll, mode == Mode::FirstPick ? Veltro::PollType::SORT : Veltro::PollType::MULTIPLE,
                   mode == Mode::FreeText ? QVector<TallyOption>() : options);
}

bool Tally::record(const QString &deviceId, const QString &answer)
{
    const bool first = !m_model->hasAnswered(deviceId);
    m_model->record(deviceId, kPoll, answer);
    return first;
}

int Tally::answered() const { return m_model->answered(); }

QVector<QPair<QString, int>> Tally::bars() const
{
    m_model->flush();
    QVector<QPair<QString, int>> out;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        const QModelIndex i = m_model->index(r);
        out.append({i.data(Veltro::PollTallyModel::LabelRole).toString(),
                    i.data(Veltro::PollTallyModel::CountRole).toInt()});
    }
    return out;
}

QVector<TallyOption> startPollAndReadOptions(QObject *collab, const std::function<void()> &startPoll,
                                             QSet<QString> *ids)
{
    const auto before = collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly);
    startPoll();
    QVector<TallyOption> options;
    const auto after = collab->findChildren<Veltro::QuestionBase *>(QString(), Qt::FindDirectChildrenOnly);
    for (Veltro::QuestionBase *q : after) {
        if (before.contains(q))
            continue;
        ids->insert(q->getID());
        if (auto *withOptions = qobject_cast<Veltro::QuestionBaseWithOptions *>(q)) {
            for (const QVariant &v : withOptions->getactivityOptions()) {
                const QVariantMap m = v.toMap();
                options.append({m.value(QStringLiteral("id")).toString(),
                                m.value(QStringLiteral("optionText")).toString()});
            }
        }
    }
    return options;
}
