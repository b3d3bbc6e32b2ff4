// The live tally of one poll as a list model: one row per option (or per
// distinct free-text answer), with the count and share of each.
#pragma once

#include "polltype.h"
#include "veltroclient_export.h"

#include <QAbstractListModel>
#include <QHash>
#include <QMetaType>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class PresenterCollab;

namespace Veltro {

class LearnerModel;
class PollTallyModelPrivate;

/// One answer option as the devices show it; QML reads its fields as properties.
struct VELTROCLIENT_EXPORT TallyOption
{
    Q_GADGET
    /// What devices send back ("A", "0", "?").
    Q_PROPERTY(QString id MEMBER id)
    /// What the option says ("TRUE"); may be empty.
    Q_PROPERTY(QString label MEMBER label)
    /// Whether it is a correct option of the poll.
    Q_PROPERTY(bool correct MEMBER correct)

public:
    QString id;           ///< What devices send back ("A", "0", "?").
    QString label;        ///< What the option says ("TRUE"); may be empty.
    bool correct = false; ///< Whether it is a correct option of the poll.
};

/// The answers to one poll, counted one per device, as a list model a view
/// shows as bars.
///
/// **Rows.** For a poll with options: one row per option in their order,
/// then an "other" row once an answer named no option. A multiple-choice
/// answer counts for every option it names; a sort poll's (a ranking) only
/// for the option ranked first. Answers relayed by a collaboration object
/// (setCollab()) keep what the device typed and the options it chose apart:
/// the chosen ids name the options, whatever text came with them ("TRUE"
/// with the option "A" counts for A; a typed "BAD" with the option "C" for C
/// alone); a text sent without ids names an option by its whole id or label. For a poll without options (text, number,
/// math formula, word seed, creative): one row per distinct answer text
/// (trimmed), most frequent first (ties by text), at most maxRows() rows,
/// the last of which then sums up the rest.
///
/// **Which answers count.** Only those carrying the counted poll's answer id
/// (pollId(), PresenterCollab::currentPollAnswerId() when started from a
/// collaboration object), and only while counting: an answer to an earlier
/// poll, or one that arrives after stop(), is ignored. A device that answers
/// again replaces its earlier answer.
///
/// **Bursts.** record() counts at once (answered(), hasAnswered() and
/// answerOf() see it), but the rows, their roles and the notify signals
/// follow at most once per 16 ms frame, from the event loop, as one set of
/// changes; flush() applies them at once. So a thousand answers cost a view
/// one update, not a thousand.
///
/// Signals are emitted from the event loop (the batched row changes) or
/// inside the calls that cause them (start(), stop(), clear(), setters).
/// Answers counted through setCollab() can arrive inside a blocking call of
/// PresenterClient, like the collaboration object's own signals.
class VELTROCLIENT_EXPORT PollTallyModel : public QAbstractListModel
{
    Q_OBJECT
    /// Devices whose answer is counted.
    Q_PROPERTY(int answered READ answered NOTIFY answeredChanged)
    /// Learners present, the whole of the bars' scale (set by the host, or
    /// following a LearnerModel given to setLearnerModel()).
    Q_PROPERTY(int present READ present WRITE setPresent NOTIFY presentChanged)
    /// The answer id counted; empty after clear() and before start().
    Q_PROPERTY(QString pollId READ pollId NOTIFY pollChanged)
    /// The kind of poll counted.
    Q_PROPERTY(Veltro::PollType::POLL_TYPE pollType READ pollType NOTIFY pollChanged)
    /// How answers are counted (see Mode).
    Q_PROPERTY(Mode mode READ mode NOTIFY pollChanged)
    /// True between start() and stop(): answers are counted.
    Q_PROPERTY(bool counting READ isCounting NOTIFY pollChanged)
    /// Rows of the model.
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// Most rows of a poll without options (default 8; at least 2).
    Q_PROPERTY(int maxRows READ maxRows WRITE setMaxRows NOTIFY maxRowsChanged)

public:
    /// The roles of a row.
    enum Roles {
        LabelRole = Qt::UserRole + 1, ///< "label": the option's id and its label ("B FALSE", "A"), an answer
                                      ///< text ("(empty)" for none), "other", or "(N other answers)".
        OptionIdRole,                 ///< "optionId": the option's id; the answer text of a free-text row;
                                      ///< empty for "other" and the summed-up rest.
        CountRole,                    ///< "count": devices whose answer counts for the row.
        ShareRole,                    ///< "share": count / answered, from 0 to 1 (0 before any answer).
        CorrectRole,                  ///< "correct": whether the row's option is a correct one.
    };
    Q_ENUM(Roles)

    /// How an answer counts.
    enum class Mode {
        Choice,    ///< Every option the answer names counts.
        FirstPick, ///< Only the first option named counts (a sort poll's ranking).
        FreeText,  ///< Each distinct answer text is a row (polls without options).
    };
    Q_ENUM(Mode)

    /// An empty tally: no poll, no rows.
    explicit PollTallyModel(QObject *parent = nullptr);
    /// Emits nothing.
    ~PollTallyModel() override;

    /// Rows (none for a valid `parent`: the model is a list).
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    /// The value of `role` for the row of `index`; an invalid QVariant for an
    /// invalid index or an unknown role. Qt::DisplayRole gives the label.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    /// The role names QML uses: "label", "optionId", "count", "share", "correct".
    QHash<int, QByteArray> roleNames() const override;

    /// Devices whose answer is counted (at once, ahead of the rows).
    int answered() const;
    /// Answers that replaced an earlier answer of the same device.
    int repeats() const;
    /// Learners present.
    int present() const;
    /// Sets the learners present (ignored while a LearnerModel is bound).
    void setPresent(int present);
    /// The answer id counted; empty when no poll was started.
    QString pollId() const;
    /// The kind of poll counted (MULTIPLE before any start()).
    Veltro::PollType::POLL_TYPE pollType() const;
    /// How answers are counted.
    Mode mode() const;
    /// True between start() and stop().
    bool isCounting() const;
    /// Rows of the model (as rowCount()).
    int count() const;
    /// Most rows of a poll without options.
    int maxRows() const;
    /// Sets the most rows of a poll without options (at least 2: the top
    /// texts and the summed-up rest).
    void setMaxRows(int rows);
    /// The options counted, as given to start() (with setCorrectOptions()' marks).
    QVector<Veltro::TallyOption> options() const;
    /// The option of `index` in options(); an empty one when there is none.
    Q_INVOKABLE Veltro::TallyOption optionAt(int index) const;
    /// Marks the options `ids` names (each by its id, or its label in any case) as
    /// the correct ones, and no others; names of no option are ignored. The
    /// marks go with the next start() or clear().
    Q_INVOKABLE void setCorrectOptions(const QStringList &ids);
    /// Whether an option is marked correct.
    bool hasCorrectOptions() const;
    /// Whether the device's counted answer is right: it names exactly the
    /// correct options (a sort poll: its first pick is the first correct
    /// option). False without an answer or without correct options.
    Q_INVOKABLE bool isRight(const QString &deviceId) const;
    /// The rows as CSV text: a header row ("label", "optionId", "count",
    /// "share", "correct") and one row per option, as csv cells that a
    /// spreadsheet shows as text (see LearnerModel::toCsv()).
    Q_INVOKABLE QString toCsv() const;

    /// Starts counting answers carrying `answerId` for a poll of `pollType`
    /// with `options`, forgetting earlier answers (answersCleared()). A sort
    /// poll counts its first pick; a poll without options counts texts.
    Q_INVOKABLE void start(const QString &answerId, Veltro::PollType::POLL_TYPE pollType,
                           const QVector<Veltro::TallyOption> &options);
    /// Starts counting the poll `collab` runs now (call it right after
    /// PresenterCollab::startPoll()): its currentPollAnswerId(), and the kind
    /// and options of its currentPollQuestion(). A template poll (word seed,
    /// creative) has no question: its answers are counted as texts and
    /// pollType() is WORD_SEED (the other overload names the kind). Does
    /// nothing when no poll runs.
    void start(PresenterCollab *collab);
    /// As start(collab); a template poll's pollType() is `templateType`.
    void start(PresenterCollab *collab, Veltro::PollType::POLL_TYPE templateType);
    /// Stops counting: the rows stay, later answers are ignored.
    Q_INVOKABLE void stop();
    /// Forgets the poll and its answers: no rows, nothing counted.
    Q_INVOKABLE void clear();
    /// Counts `answer` from `deviceId`, one text as optionsNamed() reads it,
    /// when `answerId` is the counted poll's and counting is on. Returns true
    /// when it counted; false when ignored (another poll's id, not counting).
    /// answerRecorded() follows at once.
    bool record(const QString &deviceId, const QString &answerId, const QString &answer);
    /// True when the device's answer is counted.
    Q_INVOKABLE bool hasAnswered(const QString &deviceId) const;
    /// The device's counted answer as record() got it, or as
    /// PresenterCollab::learnerPollResponse() carried it; null when none.
    Q_INVOKABLE QString answerOf(const QString &deviceId) const;
    /// The option ids `answer`, one text, names, in answer order, without
    /// repeats. Ids may be joined by "," or run together ("AC", or an answer
    /// text followed by the ids); an option's label is accepted too (any case).
    /// A text can be ambiguous ("TRUEA", "BADC"); setCollab() counts the
    /// parts the devices send instead.
    QStringList optionsNamed(const QString &answer) const;
    /// Applies pending row changes now (they follow by themselves within a
    /// frame); for hosts that read the rows right after record().
    void flush();

    /// Counts the answers `collab` relays (learnerAnswer(), text and option
    /// ids apart), for hosts that do not use Classroom; null stops listening.
    /// The tally does not own it.
    void setCollab(PresenterCollab *collab);
    /// The collaboration object listened to, or null.
    PresenterCollab *collab() const;
    /// Binds present() to the learner model's count; null unbinds.
    void setLearnerModel(Veltro::LearnerModel *learners);
    /// The bound learner model, or null.
    Veltro::LearnerModel *learnerModel() const;

Q_SIGNALS:
    /// answered() changed; with the rows, at most once per frame.
    void answeredChanged();
    /// present() changed.
    void presentChanged();
    /// A poll was started, stopped or cleared (pollId, pollType, mode, counting).
    void pollChanged();
    /// The number of rows changed; with the rows.
    void countChanged();
    /// maxRows() changed.
    void maxRowsChanged();
    /// The answer of `deviceId` was counted (its first or a replacing one);
    /// emitted inside record(), so from the event loop when counting through
    /// setCollab().
    void answerRecorded(const QString &deviceId);
    /// Every counted answer was forgotten (start() or clear()).
    void answersCleared();
    /// setCorrectOptions() changed which options are correct (so which answers are right).
    void correctOptionsChanged();

private:
    friend class PollTallyModelPrivate;
    std::unique_ptr<PollTallyModelPrivate> d;
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::TallyOption)
