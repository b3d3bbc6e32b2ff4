// The question classes: JSON members and defaults, type strings, prior answers,
// option labels, ids.
#include "modeltestutil.h"
#include "polltype.h"
#include "questioncreative.h"
#include "questionmathformula.h"
#include "questionmultichoice.h"
#include "questionnumeric.h"
#include "questionscale.h"
#include "questionsort.h"
#include "questiontext.h"
#include "questionwordseed.h"
#include "questionyesno.h"
#include "randomstring.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>
#include <memory>

using namespace Veltro;

using Factory = QuestionBase *(*)();
Q_DECLARE_METATYPE(Factory)

template <class T> QuestionBase *create()
{
    return new T;
}

static QVariantList optionAnswers(const QStringList &ids)
{
    QVariantList list;
    for (const QString &id : ids)
        list.append(QVariantMap{{"activityOptionId", id}});
    return list;
}

class TestModel : public QObject
{
    Q_OBJECT
private slots:
    // Every default value of a new question, feedback and metadata included.
    void newMultiChoiceDefaults()
    {
        QuestionMultiChoice q;
        const QString expected = QStringLiteral(
            R"({"activityOptions":[],"activityType":{},"card":{},"feedBack":{"activityResponseStatus":null,)"
            R"("activityScoreStatus":null,"allowResubmit":true,"answer":null,"correctAnswer":null,"correctFeedback":null,)"
            R"("correctOptions":[],"inCorrectFeedback":null,"jsonAnswer":null,"numberOfRetries":0,)"
            R"("numberOfRetriesRemaining":0,"optionAnswers":[],"optionFeedbacks":[],"remainingTime":null,)"
            R"("showCorrectAnswer":false,"showFeedback":false},"hasNext":false,"hint":"","id":"@ID@",)"
            R"("instructions":"","math":false,"metadata":{"options":[],"ordinalType":""},"navigable":false,)"
            R"("numberOfCorrectOptions":1,"passage":"","questionNumber":0,"questionSetMode":"Poll","type":"multiple"})")
                                     .replace(QLatin1String("@ID@"), q.getID());
        QCOMPARE(compactJson(&q), expected);
    }

    // Members and type string of every class (a fixed type string is kept when
    // another is set); each type string must also name an activity type.
    void classShapes_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("extraKeys");
        const QStringList opts = {"activityOptions", "metadata"};
        QTest::newRow("YesNo") << &create<QuestionYesNo> << "yes-no-other" << opts;
        QTest::newRow("MultiChoice") << &create<QuestionMultiChoice> << "multiple"
                                     << (opts + QStringList{"numberOfCorrectOptions"});
        QTest::newRow("Sort") << &create<QuestionSort> << "sort" << opts;
        QTest::newRow("Scale") << &create<QuestionScale> << "scale" << opts;
        QTest::newRow("Creative") << &create<QuestionCreative> << "creative" << opts;
        QTest::newRow("Numeric") << &create<QuestionNumeric> << "number" << QStringList{"noOfDecimals"};
        QTest::newRow("Text") << &create<QuestionText> << "text" << QStringList{"maxChars"};
        QTest::newRow("MathFormula") << &create<QuestionMathFormula> << "math formula" << QStringList();
        QTest::newRow("WordSeed") << &create<QuestionWordSeed> << "word-seed" << QStringList();
    }
    void classShapes()
    {
        QFETCH(Factory, make);
        QFETCH(QString, type);
        QFETCH(QStringList, extraKeys);
        std::unique_ptr<QuestionBase> q(make());
        q->setType("ignored");
        QCOMPARE(q->getType(), type);
        const QJsonObject o = serialized(q.get());
        QStringList keys = QStringList{"activityType", "card", "feedBack", "hasNext", "hint", "id", "instructions",
                                       "math", "navigable", "passage", "questionNumber", "questionSetMode", "type"}
                           + extraKeys;
        keys.sort();
        QCOMPARE(o.keys(), keys);
        QCOMPARE(o.value("type").toString(), type);
        QCOMPARE(o.value("math").toBool(), false); // the stored flag, whatever a class's own reader says
        QVERIFY(!PollType::POLL_TYPE_ID().value(type).isEmpty());
    }

    void priorAnswers_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QVariantList>("options");
        QTest::addColumn<QVariant>("textAnswer");
        QTest::newRow("multi per char") << &create<QuestionMultiChoice> << "AD" << optionAnswers({"A", "D"}) << QVariant();
        QTest::newRow("sort keeps order") << &create<QuestionSort> << "CAB" << optionAnswers({"C", "A", "B"})
                                          << QVariant();
        QTest::newRow("sort empty") << &create<QuestionSort> << "" << QVariantList() << QVariant();
        QTest::newRow("yes-no whole") << &create<QuestionYesNo> << "AD" << optionAnswers({"AD"}) << QVariant();
        QTest::newRow("numeric text") << &create<QuestionNumeric> << "AD" << QVariantList() << QVariant("AD");
    }
    void priorAnswers()
    {
        QFETCH(Factory, make);
        QFETCH(QString, answer);
        QFETCH(QVariantList, options);
        QFETCH(QVariant, textAnswer);
        std::unique_ptr<QuestionBase> q(make());
        q->setPriorAnswer(answer);
        QCOMPARE(q->feedback()->getoptionAnswers(), options);
        QCOMPARE(q->feedback()->getanswer(), textAnswer);
        QCOMPARE(q->feedback()->getnumberOfRetriesRemaining(), 99);
    }

    void inferOrdinalType_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("ordinal");
        QTest::addColumn<QVariantList>("indices");
        const QVariantList preset = {0, 1};
        QTest::newRow("no options") << QStringList() << "generic" << preset;
        QTest::newRow("A") << QStringList{"A", "B"} << "alpha-upper" << QVariantList();
        QTest::newRow("a") << QStringList{"a", "b"} << "alpha-lower" << QVariantList();
        QTest::newRow("0") << QStringList{"0", "1"} << "number" << QVariantList();
        QTest::newRow("1") << QStringList{"1", "2"} << "number" << QVariantList();
        QTest::newRow("B unchanged") << QStringList{"B", "A"} << "generic" << preset;
        QTest::newRow("AA unchanged") << QStringList{"AA"} << "generic" << preset;
    }
    void inferOrdinalType()
    {
        QFETCH(QStringList, ids);
        QFETCH(QString, ordinal);
        QFETCH(QVariantList, indices);
        QuestionMultiChoice q;
        for (int i = 0; i < ids.size(); ++i)
            q.addActivityOption(ids.at(i), "text", i);
        q.setMetadata(OrdinalType::GENERIC, 2);
        q.inferOrdinalType();
        QCOMPARE(q.metadata()->getordinalType(), ordinal);
        QCOMPARE(q.metadata()->getoptions(), indices);
    }

    void optionsAndMetadata()
    {
        QuestionMultiChoice q;
        const QString markup = QStringLiteral("<span class=\"x\">\u03c0</span>");
        q.addActivityOption("A", "first", 1);
        q.addActivityOption("B", markup, 2);
        q.addActivityOption("A", "duplicate", 3); // not checked
        q.setOrdinals(OrdinalType::ALPHA_UPPER);
        const QJsonObject o = serialized(&q);
        QCOMPARE(o.value("activityOptions").toArray().size(), 3);
        QCOMPARE(o.value("activityOptions").toArray().at(1).toObject(),
                 (QJsonObject{{"displaySeqNumber", 2}, {"id", "B"}, {"math", false}, {"optionText", markup}}));
        QCOMPARE(o.value("metadata").toObject(),
                 (QJsonObject{{"ordinalType", "alpha-upper"}, {"options", QJsonArray{0, 1, 2}}}));

        q.setMetadata(static_cast<OrdinalType::ORDINAL_TYPE>(11), 2);
        QCOMPARE(q.metadata()->getordinalType(), QString());
        QCOMPARE(q.metadata()->getoptions(), (QVariantList{0, 1}));
        q.setMetadata("custom", -3);
        QCOMPARE(q.metadata()->getoptions(), QVariantList());
    }

    // Writers given an object of the wrong class store null; nothing crashes
    // afterwards and the serializer writes null.
    void wrongObjectsStoredAsNull()
    {
        QuestionMultiChoice q;
        QObject stranger;
        QVERIFY(q.setProperty("feedBack", QVariant::fromValue<QObject *>(&stranger)));
        q.setmetadata(&stranger);
        QVERIFY(!q.feedback() && !q.metadata());
        q.setPriorAnswer("AB");
        q.setOrdinals(OrdinalType::NUMBER);
        q.addActivityOption("1", "x", 0);
        q.inferOrdinalType();
        const QJsonObject o = serialized(&q);
        QVERIFY(o.value("feedBack").isNull() && o.value("metadata").isNull());
    }

    // Many questions made at once (within one second) still get distinct ids
    // over the whole alphabet.
    void idsDistinct()
    {
        QSet<QString> ids;
        QString all;
        for (int i = 0; i < 1000; ++i)
            all += *ids.insert(QuestionText().getID());
        QCOMPARE(ids.size(), 1000);
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9]{8000}$")).match(all).hasMatch()); // 8 chars each
        QCOMPARE(QSet<QChar>(all.begin(), all.end()).size(), 62);
        QCOMPARE(randomString(0) + randomString(-4), QString());
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
