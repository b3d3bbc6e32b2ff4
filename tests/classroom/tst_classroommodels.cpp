// The tally and learner models on their own: what the rows say after answers, joins, departures and service
// lists, that a burst reaches a view as one update, and that both keep the item-model rules throughout; and
// the tables the programs share (poll kinds, failure texts).
#include <QAbstractItemModelTester>
#include <QtTest>

#include "../collab/collabtestutil.h"
#include "assessment.h"
#include "csvwriter_p.h"
#include "learnermodel.h"
#include "plainerror.h"
#include "pollkinds.h"
#include "polltallymodel.h"
#include "sockjsconnector.h"

using namespace Veltro;

namespace {

// `n` options without labels, with ids from A, or from 0 when numbered.
QVector<TallyOption> ids(int n, bool numbered = false)
{
    QVector<TallyOption> o;
    for (int i = 0; i < n; ++i)
        o.append({numbered ? QString::number(i) : QString(QChar('A' + i)), QString()});
    return o;
}

const QVector<TallyOption> trueFalse = {{QStringLiteral("A"), QStringLiteral("TRUE")},
                                        {QStringLiteral("B"), QStringLiteral("FALSE")},
                                        {QStringLiteral("?"), QStringLiteral("DONTKNOW")}};

// The rows as "label=count".
QStringList bars(const PollTallyModel &m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) {
        const QModelIndex i = m.index(r);
        out << QStringLiteral("%1=%2").arg(i.data(PollTallyModel::LabelRole).toString())
                   .arg(i.data(PollTallyModel::CountRole).toInt());
    }
    return out;
}

// The rows as "device" or "device:name" when the name is not the device's own.
QString roster(const LearnerModel &m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) {
        const QString id = m.index(r).data(LearnerModel::DeviceIdRole).toString();
        const QString name = m.index(r).data(LearnerModel::NameRole).toString();
        out << (name == id ? id : id + QLatin1Char(':') + name);
        if (m.rowOf(id) != r)
            out << QStringLiteral("(rowOf wrong)");
    }
    return out.join(QLatin1Char(' '));
}

Learner learner(const QString &spec) // "a" or "a:Ann"
{
    const QString id = spec.section(QLatin1Char(':'), 0, 0);
    const QString name = spec.contains(QLatin1Char(':')) ? spec.section(QLatin1Char(':'), 1) : id;
    return Learner(id, name, QStringLiteral("tablet"));
}

} // namespace

Q_DECLARE_METATYPE(QVector<Veltro::TallyOption>)

class TestClassroomModels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Learner::registerMetaType(); }

    // Answers recorded through the event loop, as a view sees the rows. In `answers`, "stop" stops the poll
    // (later answers are late) and "old:X" is X carrying an earlier poll's id; neither counts. "text|A/B" is
    // an answer relayed by a collaboration object with its typed text and option ids apart.
    void tally_data()
    {
        QTest::addColumn<int>("pollType");
        QTest::addColumn<QVector<TallyOption>>("options");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("devices"); // the device of each answer by letter; empty: one device each
        QTest::addColumn<int>("maxRows");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, PollType::POLL_TYPE type, const QVector<TallyOption> &options,
                            const QStringList &answers, const QStringList &expected, const QString &devices = {},
                            int maxRows = 8) {
            QTest::newRow(name) << int(type) << options << answers << devices << maxRows << expected;
        };
        const auto M = PollType::MULTIPLE;
        row("choice, every option listed, other last", M, ids(3), {"A", "C", "A", "x"},
            {"A=2", "B=0", "C=1", "other=1"});
        // Poll answers arrive comma separated; question answers arrive as the
        // answer text immediately followed by the option ids.
        row("choice, several picks each count", M, ids(3), {"AB", "B,C"}, {"A=1", "B=2", "C=1"});
        row("same id twice counts once", M, ids(2), {"BB"}, {"A=0", "B=1"});
        row("label or question mark", PollType::TRUE_FALSE, trueFalse, {"false", "?"},
            {"A TRUE=0", "B FALSE=1", "? DONTKNOW=1"});
        row("yes/no labels", PollType::YES_NO_OTHER,
            {{"A", "YES"}, {"B", "NO"}, {"?", "DONTKNOW"}}, {"A", "B", "A", "yes"},
            {"A YES=3", "B NO=1", "? DONTKNOW=0"});
        row("unknown part: other, unless separated", M, ids(1), {"Z", "AZ", "Z, A"}, {"A=1", "other=2"});
        QStringList tenth;
        for (int i = 0; i < 11; ++i)
            tenth << QStringLiteral("%1=%2").arg(i).arg(int(i == 10));
        row("longest id first", PollType::SCALE, ids(11, true), {"10"}, tenth);
        row("first pick of a ranking", PollType::SORT, ids(3), {"CAB", "CBA", "ABC"}, {"A=1", "B=0", "C=2"});
        row("free text by frequency, ties by text", PollType::TEXT, {},
            {"light", "energy", "light", "growth", " energy "}, {"energy=2", "light=2", "growth=1"});
        row("no options means free text", M, {}, {"42", ""}, {"(empty)=1", "42=1"});
        row("repeated answer replaces the earlier one", M, ids(2), {"A", "A", "B"}, {"A=1", "B=1"}, "xyx");
        row("a replaced free text leaves no empty row", PollType::WORD_SEED, {}, {"light", "energy"},
            {"energy=1"}, "xx");
        QStringList many;
        for (int i = 0; i < 20; ++i)
            many << QStringLiteral("answer %1").arg(i % 10, 2, 10, QLatin1Char('0'));
        row("free text folds the tail", PollType::TEXT, {}, many,
            {"answer 00=2", "answer 01=2", "answer 02=2", "(7 other answers)=14"}, QString(), 4);
        row("an earlier poll's answer is not counted", M, ids(2), {"old:A", "B"}, {"A=0", "B=1"});
        row("a late answer to a stopped poll is not counted", PollType::YES_NO_OTHER,
            {{"A", "YES"}, {"B", "NO"}}, {"A", "stop", "B", "A"}, {"A YES=1", "B NO=0"});
        row("a late free text is not counted", PollType::TEXT, {}, {"x", "stop", "y"}, {"x=1"});
        row("apart: the ids count, not a text of id letters", M, ids(4), {"BAD|C", "|A/B", "B, D|", "AC|", "|Z"},
            {"A=1", "B=2", "C=1", "D=1", "other=2"});
        row("apart: a label beside its id", PollType::TRUE_FALSE, trueFalse, {"TRUE|A", "false|", "TRUE|B"},
            {"A TRUE=1", "B FALSE=2", "? DONTKNOW=0"});
        row("apart: picks of a template poll", PollType::WORD_SEED, {}, {"|0/2", " light |", "|0/2"},
            {"0,2=2", "light=1"});
    }

    void tally()
    {
        QFETCH(int, pollType);
        QFETCH(QVector<TallyOption>, options);
        QFETCH(QStringList, answers);
        QFETCH(QString, devices);
        QFETCH(int, maxRows);
        QFETCH(QStringList, expected);
        PollTallyModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
        RecordingCollab collab; // never opened: the test emits its signals
        m.setCollab(&collab);
        m.setMaxRows(maxRows);
        m.start(QStringLiteral("q-1"), PollType::POLL_TYPE(pollType), options);
        QVERIFY(m.isCounting());
        QSet<QString> seen;
        int repeats = 0;
        for (int i = 0; i < answers.size(); ++i) {
            const QString device = devices.isEmpty() ? QString::number(i) : devices.mid(i, 1);
            QString answer = answers.at(i);
            if (answer == QLatin1String("stop")) {
                m.stop();
                continue;
            }
            const bool old = answer.startsWith(QLatin1String("old:"));
            const bool counts = m.isCounting() && !old;
            if (answer.contains('|')) {
                // As learnerPollResponse() carries it: a template poll's picks joined by ",", else text and ids.
                const QString text = answer.section('|', 0, 0);
                const QStringList picked = answer.section('|', 1).split('/', Qt::SkipEmptyParts);
                Q_EMIT collab.learnerAnswer(device, m.pollId(), 1, text, picked);
                answer = text + picked.join(options.isEmpty() && text.isEmpty() ? "," : "");
            } else {
                QCOMPARE(m.record(device, old ? QStringLiteral("q-0") : m.pollId(),
                                  answer.remove(QLatin1String("old:"))),
                         counts);
            }
            if (!counts)
                continue;
            repeats += seen.contains(device);
            seen.insert(device);
            QVERIFY(m.hasAnswered(device));
            QCOMPARE(m.answerOf(device), answer);
        }
        QTRY_COMPARE(bars(m), expected);
        QCOMPARE(m.answered(), seen.size());
        QCOMPARE(m.repeats(), repeats);
        QCOMPARE(m.count(), expected.size());
        for (int r = 0; r < m.rowCount(); ++r) {
            const QModelIndex i = m.index(r);
            QCOMPARE(i.data(PollTallyModel::ShareRole).toDouble(),
                     seen.isEmpty() ? 0.0 : i.data(PollTallyModel::CountRole).toDouble() / seen.size());
        }
        m.clear();
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(m.pollId().isEmpty() && !m.isCounting() && m.answered() == 0);
    }

    // Joins, departures and service lists as the collaboration object and the service report them. "+a" or
    // "+a:Ann" joins, "-a" leaves, "=a,b:Bo" is the service's list, "|" lets the event loop apply what came
    // before. `expected` is the rows in order, then the last list's "added / removed".
    void learners_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("joins in order") << "+a +b | +c" << "a b c";
        QTest::newRow("a rejoin updates its row") << "+a +b | +a:Ann" << "a:Ann b";
        QTest::newRow("a rejoin in the same burst") << "+a +a:Ann +b" << "a:Ann b";
        QTest::newRow("departures, adjacent and not") << "+a +b +c +d +e | -b -c -e" << "a d";
        QTest::newRow("left and back within a burst keeps its row") << "+a +b | -a +a:Ann" << "a:Ann b";
        QTest::newRow("left, then back later") << "+a +b | -a | +a" << "b a";
        QTest::newRow("joined and gone within a burst") << "+a +b -a" << "b";
        QTest::newRow("unknown departure") << "+a | -z" << "a";
        QTest::newRow("list adds and removes") << "+a +b +c | =b,d:Di,c" << "b c d:Di / d / a";
        QTest::newRow("list in the same burst") << "+a +b =a,c" << "a c / c / b";
        QTest::newRow("list renames") << "+a | =a:Al" << "a:Al /  / ";
        QTest::newRow("joins after the list are kept") << "+a | =b +c" << "b c / b / a";
        QTest::newRow("empty list") << "+a +b | =" << " /  / a,b";
    }

    void learners()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        RecordingCollab collab;
        LearnerModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
        m.setCollab(&collab);
        QSignalSpy reconciled(&m, &LearnerModel::reconciled);
        QSignalSpy counts(&m, &LearnerModel::countChanged);
        int lists = 0;
        for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("|")) {
                m.flush();
            } else if (step.startsWith(QLatin1Char('+'))) {
                Q_EMIT collab.learnerJoin(learner(step.mid(1)));
            } else if (step.startsWith(QLatin1Char('-'))) {
                Q_EMIT collab.learnerUnregister(step.mid(1));
            } else {
                QList<Learner> list;
                for (const QString &l : step.mid(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
                    list << learner(l);
                m.reconcileWith(list);
                ++lists;
            }
        }
        const auto state = [&] {
            QString got = roster(m);
            if (lists > 0) {
                if (reconciled.size() < lists)
                    return QStringLiteral("(the list is not applied)");
                const QList<QVariant> last = reconciled.last();
                got += QStringLiteral(" / %1 / %2").arg(last.at(0).toStringList().join(QLatin1Char(',')),
                                                         last.at(1).toStringList().join(QLatin1Char(',')));
            }
            return got;
        };
        QTRY_COMPARE(state(), expected);
        QCOMPARE(m.count(), m.rowCount());
        QCOMPARE(m.learners().size(), m.rowCount());
        if (m.rowCount() > 0)
            QCOMPARE(m.learner(0).userToken, m.index(0).data(LearnerModel::DeviceIdRole).toString());
        QVERIFY(!counts.isEmpty() || m.rowCount() == 0);
        m.clear();
        QCOMPARE(m.rowCount(), 0);
    }

    // A burst reaches a view as one set of row changes.
    void burst_data()
    {
        QTest::addColumn<bool>("learners");
        QTest::newRow("answers") << false;
        QTest::newRow("joins and departures") << true;
    }

    void burst()
    {
        QFETCH(bool, learners);
        PollTallyModel tally;
        LearnerModel roster;
        QAbstractItemModel *m = learners ? static_cast<QAbstractItemModel *>(&roster) : &tally;
        RecordingCollab collab;
        roster.setCollab(&collab);
        tally.setCollab(&collab);
        tally.start(QStringLiteral("q"), PollType::TEXT, {});
        QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(m, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
        const int n = 300;
        for (int i = 0; i < n; ++i) {
            const QString id = QStringLiteral("d%1").arg(i);
            Q_EMIT collab.learnerJoin(Learner(id, id, QString()));
            Q_EMIT collab.learnerAnswer(id, QStringLiteral("q"), 1, QStringLiteral("text %1").arg(i % 5), {});
        }
        QCOMPARE(m->rowCount(), 0); // nothing yet: applied from the event loop
        QTRY_COMPARE(m->rowCount(), learners ? n : 5);
        QCOMPARE(inserted.size(), 1);
        QVERIFY(changed.size() <= 1);
        for (int i = 0; i < n; ++i) {
            const QString id = QStringLiteral("d%1").arg(i);
            Q_EMIT collab.learnerAnswer(id, QStringLiteral("q"), 1, QStringLiteral("text %1").arg(i % 3), {});
            if (i < n / 2)
                Q_EMIT collab.learnerUnregister(id);
        }
        QTRY_COMPARE(m->rowCount(), learners ? n / 2 : 3);
        QCOMPARE(removed.size(), 1); // adjacent rows: one range
        QVERIFY(changed.size() <= 2);
    }

    // The learners' answered, answer and correct roles follow the tally, the tally's present follows the
    // learners.
    void answersOfLearners()
    {
        PollTallyModel tally;
        LearnerModel roster;
        QAbstractItemModelTester tester(&roster, QAbstractItemModelTester::FailureReportingMode::Fatal);
        RecordingCollab collab;
        roster.setCollab(&collab);
        roster.setTally(&tally);
        tally.setCollab(&collab);
        tally.setLearnerModel(&roster);
        tally.setPresent(99); // ignored while bound
        const auto answers = [&roster] {
            QStringList out;
            for (int r = 0; r < roster.rowCount(); ++r) {
                const QModelIndex i = roster.index(r);
                const QVariant right = i.data(LearnerModel::CorrectRole);
                out << (i.data(LearnerModel::AnsweredRole).toBool() ? i.data(LearnerModel::AnswerRole).toString()
                                                                    : QStringLiteral("-"))
                        + (right.isValid() ? QLatin1String(right.toBool() ? "+" : "x") : QLatin1String(""));
            }
            return out.join(QLatin1Char(' '));
        };
        for (const char *id : {"a", "b", "c"})
            Q_EMIT collab.learnerJoin(learner(QLatin1String(id)));
        tally.start(QStringLiteral("q1"), PollType::MULTIPLE, ids(2));
        Q_EMIT collab.learnerAnswer(QStringLiteral("b"), QStringLiteral("q1"), 1, QString(), {QStringLiteral("A")});
        Q_EMIT collab.learnerAnswer(QStringLiteral("c"), QStringLiteral("q0"), 1, QString(), {QStringLiteral("B")});
        QTRY_COMPARE(answers(), QStringLiteral("- A -"));
        QCOMPARE(tally.present(), 3);
        tally.setCorrectOptions({QStringLiteral("B")});
        QTRY_COMPARE(answers(), QStringLiteral("- Ax -"));
        Q_EMIT collab.learnerAnswer(QStringLiteral("b"), QStringLiteral("q1"), 1, QString(), {QStringLiteral("B")});
        QTRY_COMPARE(answers(), QStringLiteral("- B+ -"));
        QTRY_VERIFY(!tally.index(0).data(PollTallyModel::CorrectRole).toBool()
                    && tally.index(1).data(PollTallyModel::CorrectRole).toBool());
        tally.start(QStringLiteral("q2"), PollType::TEXT, {});
        QTRY_COMPARE(answers(), QStringLiteral("- - -"));
        Q_EMIT collab.learnerUnregister(QStringLiteral("a"));
        QTRY_COMPARE(tally.present(), 2);
    }

    // An assessment of three questions serving itself over a recording connection. Steps: "get:d:n" device d
    // asks for question n (any text), "ans:d:n:ids" answers question n (ids "/"-separated; a question never
    // sent to anyone gets a made-up id), "join:d" d's device joins (again), "pause", "resume", "review",
    // "stop". `sent` is what went out ("d qN", "d start@N", or a session-wide type), `rows` each learner as
    // "device question/answered/correct/seconds".
    void assessment_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("rows");
        QTest::newRow("served in turn, right and wrong")
            << "get:a:1 ans:a:1:B get:a:2 ans:a:2:B get:a:3 ans:a:3:"
            << "a q1 a q2 a q3" << "a 3/3/1/6";
        QTest::newRow("a changed answer replaces the first") << "get:a:1 ans:a:1:A ans:a:1:B" << "a q1" << "a 1/1/1/2";
        QTest::newRow("out of range or not a number: nothing")
            << "get:a:0 get:a:4 get:a:-1 get:a:two get:a:1 get:a:9" << "a q1" << "a 1/0/0/0";
        QTest::newRow("an answer to a question not sent") << "get:a:1 get:b:2 ans:a:2:A ans:a:3:A" << "a q1 b q2"
                                                          << "a 1/0/0/0 b 2/0/0/0";
        QTest::newRow("late joiner starts, returning device continues")
            << "join:c get:a:1 ans:a:1:B join:a get:b:2 join:b get:c:1 ans:c:1:B get:c:2 ans:c:2:A get:c:3 "
               "ans:c:3:x join:c"
            << "c start@1 a q1 a start@2 b q2 b start@2 c q1 c q2 c q3"
            << "c 3/3/2/6 a 1/1/1/2 b 2/0/0/0";
        QTest::newRow("pause, review, resume: served and counted throughout")
            << "pause get:a:1 ans:a:1:B review resume" << "pause a q1 questionSetReview resume" << "a 1/1/1/2";
        QTest::newRow("stopped mid-question: nothing more served or counted")
            << "get:a:1 stop ans:a:1:B get:a:2 join:a" << "a q1 assessmentStop" << "a 1/0/0/0";
    }

    void assessment()
    {
        QFETCH(QString, script);
        QFETCH(QString, sent);
        QFETCH(QString, rows);
        RecordingCollab collab;
        collab.up();
        Assessment a;
        QAbstractItemModelTester tester(a.progress(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QVERIFY(!a.start()); // neither session nor questions
        a.setCollab(&collab);
        QVERIFY(!a.setQuestions(QVariantList{QVariantMap{{"kind", "multiple"}, {"options", QStringList{"x"}}}}));
        QVERIFY(a.setQuestions(QVariantList{
            QVariantMap{{"kind", "multiple"}, {"text", "Which?"}, {"options", QStringList{"a", "b", "c"}}, {"correct", QVariantList{1}}},
            QVariant::fromValue(QuestionDescription(QStringLiteral("true-false"), QStringLiteral("Cells?"), {}, {0})),
            QVariantMap{{"kind", "text"}, {"text", "Why?"}}}));
        QCOMPARE(a.question(2).correctIds(), QStringList{"A"});
        QVERIFY(a.start());
        QVERIFY(!a.setQuestions(QVariantList()));
        collab.frames.clear();
        auto *connector = collab.findChild<SockJSConnector *>();
        const auto deliver = [&](const QString &from, const QString &type, const QJsonObject &data) {
            Q_EMIT connector->sockJSMessage(deliveredFrame(
                {{"from", from}, {"type", type},
                 {"data", QVariantList{compress64(QString::fromUtf8(QJsonDocument(data).toJson()))}}}));
        };
        QHash<int, QString> idOf; // question number -> id, as the devices were sent them
        QStringList out;
        const auto record = [&] {
            for (const QJsonObject &f : collab.published()) {
                const QJsonObject data = parsed(restoredText(f));
                const QString type = jstr(f, QStringLiteral("body.type"));
                const QString to = jstr(f, QStringLiteral("address")).section(QStringLiteral(".user."), 1);
                const int n = data.value(type == QLatin1String("questionStart") ? "questionNumber"
                                                                                : "startingQuestionNumber").toInt();
                if (type == QLatin1String("questionStart"))
                    idOf.insert(n, data.value(QStringLiteral("id")).toString());
                if (type == QLatin1String("questionStart") && n == 1) // the prompt and the correct option travel
                    QCOMPARE(jstr(data, QStringLiteral("instructions")) + jstr(data, "feedBack.correctOptions.0"),
                             QStringLiteral("Which?B"));
                out << (to.isEmpty() ? type
                                     : to + (type == QLatin1String("questionStart") ? QStringLiteral(" q%1")
                                                                                     : QStringLiteral(" start@%1")).arg(n));
            }
            collab.frames.clear();
        };
        for (const QString &step : script.split(QLatin1Char(' '))) {
            const QStringList f = step.split(QLatin1Char(':'));
            if (f.at(0) == QLatin1String("get")) {
                bool number = false;
                const int n = f.at(2).toInt(&number);
                deliver(f.at(1), QStringLiteral("questionGet"), {{"questionNumber", number ? QJsonValue(n) : f.at(2)}});
            } else if (f.at(0) == QLatin1String("ans")) {
                const QString id = idOf.value(f.at(2).toInt(), QStringLiteral("never-sent-") + f.at(2));
                QJsonArray picks;
                for (const QString &o : f.at(3).split(QLatin1Char('/'), Qt::SkipEmptyParts))
                    picks << QJsonObject{{"activityOptionId", o}};
                deliver(f.at(1), QStringLiteral("questionResponse"),
                        {{"questionId", id}, {"answer", ""}, {"optionAnswers", picks}, {"responseTime", 2500}});
            } else if (f.at(0) == QLatin1String("join")) {
                deliver(f.at(1), QStringLiteral("join"), {{"userName", f.at(1)}, {"deviceType", "tablet"}});
            } else if (step == QLatin1String("review")) {
                QVERIFY(a.sendReview(QStringLiteral("Check your answers")));
            } else {
                QVERIFY(QMetaObject::invokeMethod(&a, f.at(0).toLatin1().constData()));
            }
            record();
        }
        QCOMPARE(out.join(QLatin1Char(' ')), sent);
        const auto table = [&a] {
            QStringList got;
            for (int r = 0; r < a.progress()->rowCount(); ++r) {
                const QModelIndex i = a.progress()->index(r);
                got << i.data(AssessmentProgressModel::DeviceIdRole).toString()
                           + QStringLiteral(" %1/%2/%3/%4").arg(i.data(AssessmentProgressModel::QuestionRole).toInt())
                                 .arg(i.data(AssessmentProgressModel::AnsweredRole).toInt())
                                 .arg(i.data(AssessmentProgressModel::CorrectRole).toInt())
                                 .arg(i.data(AssessmentProgressModel::TimeRole).toInt());
            }
            return got.join(QLatin1Char(' '));
        };
        QTRY_COMPARE(table(), rows);
        a.setCollab(nullptr);
        QVERIFY(a.state() == Assessment::State::Stopped);
    }

    // Results as CSV through the one writer: a header row, quoting, and cells a spreadsheet would run as
    // formulas kept as text.
    void csv_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("cell");
        QTest::newRow("plain") << "Ann" << "Ann";
        QTest::newRow("comma") << "Lee, Ann" << "\"Lee, Ann\"";
        QTest::newRow("quotes") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << "a\nb" << "\"a\nb\"";
        QTest::newRow("formula") << "=1+1" << "'=1+1";
        QTest::newRow("plus") << "+A1" << "'+A1";
        QTest::newRow("minus, quoted too") << "-2,3" << "\"'-2,3\"";
        QTest::newRow("at") << "@SUM(A1)" << "'@SUM(A1)";
    }

    void csv()
    {
        QFETCH(QString, value);
        QFETCH(QString, cell);
        QCOMPARE(csvCell(value), cell);
        RecordingCollab collab;
        LearnerModel learners;
        PollTallyModel tally;
        learners.setCollab(&collab);
        learners.setTally(&tally);
        Q_EMIT collab.learnerJoin(Learner(QStringLiteral("d1"), value, QStringLiteral("tablet")));
        learners.flush();
        QCOMPARE(learners.toCsv(), QStringLiteral("name,deviceId,deviceType,answered,answer,correct\r\n%1,d1,tablet,false,,\r\n")
                                       .arg(cell));
        tally.start(QStringLiteral("q"), PollType::TEXT, {});
        QVERIFY(tally.record(QStringLiteral("d1"), QStringLiteral("q"), value));
        tally.flush();
        QCOMPARE(tally.toCsv(), QStringLiteral("label,optionId,count,share,correct\r\n%1,%1,1,1,false\r\n").arg(cell));
    }

    // Failure texts as a teacher reads them: keys in words, a key not known named as the service's, a
    // sentence as it is.
    void plainErrors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("words");
        QTest::newRow("service's key") << "error.login.invalidCredentials" << "the user id or password was not accepted";
        QTest::newRow("library's key") << "SSLRootCertificateMissing"
                                       << "the server's certificate is not signed by a trusted authority: its CA "
                                          "certificate is needed";
        QTest::newRow("unknown key") << "error.room.full" << "the service said: error.room.full";
        QTest::newRow("sentence") << "connection refused" << "connection refused";
        QTest::newRow("one word") << "cancelled" << "cancelled";
        QTest::newRow("none") << QString() << "no reason was given";
    }

    void plainErrors()
    {
        QFETCH(QString, text);
        QFETCH(QString, words);
        QCOMPARE(plainError(text), words);
    }

    // The kinds both programs offer: names in order, counts within bounds, labels for buttons.
    void pollKinds()
    {
        QCOMPARE(pollKindNames(), QStringList({"multiple", "true-false", "yes-no", "scale", "sort", "text", "number",
                                               "math", "word-seed", "creative"}));
        for (const QString &name : pollKindNames()) {
            const PollKind *k = pollKindByName(name);
            QVERIFY(k && QLatin1String(k->name) == name && qstrlen(k->label) > 0);
            QVERIFY(k->minOptions <= k->defaultOptions && k->defaultOptions <= k->maxOptions);
        }
        QCOMPARE(pollKindByName(QStringLiteral(" Multiple-Choice "))->pollType, PollType::MULTIPLE);
        QCOMPARE(pollKindByName(QStringLiteral("yes-no-other"))->ordinalType, OrdinalType::YES_NO_OTHER);
        QVERIFY(!pollKindByName(QStringLiteral("essay")));
        // The labels a QML host shows speak the teacher's language (last: the translator stays).
        QVERIFY(Veltro::installTranslator(QLocale(QLocale::German)));
        QCOMPARE(pollKindLabel(QStringLiteral("multiple")), QStringLiteral("Mehrfachauswahl"));
    }
};

QTEST_GUILESS_MAIN(TestClassroomModels)
#include "tst_classroommodels.moc"
