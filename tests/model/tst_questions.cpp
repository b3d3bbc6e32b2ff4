#include "card.h"
#include "jsonserializer.h"
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

#include <QSet>
#include <QtTest>
#include <functional>
#include <memory>

using namespace Veltro;

using Factory = std::function<QuestionBase *()>;
Q_DECLARE_METATYPE(Factory)

static const QStringList kBaseKeys = {"activityType", "card", "feedBack", "hasNext", "hint", "id",
                                      "instructions", "math", "navigable", "passage", "questionNumber",
                                      "questionSetMode", "type"};

static QVariantList optionAnswers(const QStringList &ids)
{
    QVariantList list;
    for (const QString &id : ids)
        list.append(QVariantMap{{"activityOptionId", id}});
    return list;
}

class TestQuestions : public QObject
{
    Q_OBJECT
private slots:
    // Every default value of a new question, feedback and metadata included
    // (the indented layout is the serializer test's concern).
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
        const QString text = JsonSerializer::serializeToJson(&q);
        QCOMPARE(QString::fromUtf8(QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact)), expected);
    }

    // Key set, reported class name and type string of every class; every type
    // string must also be a key of the activity-type table.
    void classShapes_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("extraKeys");
        const QStringList opts = {"activityOptions", "metadata"};
        QTest::newRow("YesNo") << Factory([] { return new QuestionYesNo; }) << "Veltro::QuestionYesNo" << "yes-no-other" << opts;
        QTest::newRow("MultiChoice") << Factory([] { return new QuestionMultiChoice; }) << "Veltro::QuestionMultiChoice" << "multiple"
                                     << (opts + QStringList{"numberOfCorrectOptions"});
        QTest::newRow("Sort") << Factory([] { return new QuestionSort; }) << "Veltro::QuestionBaseWithOptions" << "sort" << opts;
        QTest::newRow("Scale") << Factory([] { return new QuestionScale; }) << "Veltro::QuestionBaseWithOptions" << "scale" << opts;
        QTest::newRow("Creative") << Factory([] { return new QuestionCreative; }) << "Veltro::QuestionBaseWithOptions" << "creative" << opts;
        QTest::newRow("Numeric") << Factory([] { return new QuestionNumeric; }) << "Veltro::QuestionNumeric" << "number" << QStringList{"noOfDecimals"};
        QTest::newRow("Text") << Factory([] { return new QuestionText; }) << "Veltro::QuestionText" << "text" << QStringList{"maxChars"};
        QTest::newRow("MathFormula") << Factory([] { return new QuestionMathFormula; }) << "Veltro::QuestionBase" << "math formula" << QStringList();
        QTest::newRow("WordSeed") << Factory([] { return new QuestionWordSeed; }) << "Veltro::QuestionBase" << "word-seed" << QStringList();
    }
    void classShapes()
    {
        QFETCH(Factory, make);
        QFETCH(QString, className);
        QFETCH(QString, type);
        QFETCH(QStringList, extraKeys);
        std::unique_ptr<QuestionBase> q(make());
        QCOMPARE(QString::fromLatin1(q->metaObject()->className()), className);
        q->setType("ignored");
        QCOMPARE(q->getType(), type);
        const QJsonObject o = parseObject(JsonSerializer::serializeToJson(q.get()));
        QStringList keys = kBaseKeys + extraKeys;
        keys.sort();
        QCOMPARE(o.keys(), keys);
        QCOMPARE(o.value("type").toString(), type);
        QVERIFY(!PollType::POLL_TYPE_ID().value(type).isEmpty());
    }

    // Only classes without a constant of their own report the stored type.
    void storedAndReportedType()
    {
        QuestionBase plain;
        QuestionBaseWithOptions withOptions;
        plain.setType("xyz");
        withOptions.setType("abc");
        QCOMPARE(plain.property("type").toString(), QStringLiteral("xyz"));
        QCOMPARE(withOptions.getType(), QStringLiteral("abc"));
        QuestionYesNo yesNo;
        yesNo.setTrueFalseType(true);
        QCOMPARE(yesNo.property("type").toString(), QStringLiteral("true-false"));

        // The hidden reader says true; the wire keeps the stored flag.
        QuestionMathFormula formula;
        QVERIFY(formula.getmath());
        QCOMPARE(parseObject(JsonSerializer::serializeToJson(&formula)).value("math").toBool(), false);
    }

    void priorAnswers_data()
    {
        QTest::addColumn<Factory>("make");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QVariantList>("options");
        QTest::addColumn<QVariant>("textAnswer");
        QTest::newRow("multi per char") << Factory([] { return new QuestionMultiChoice; }) << "AD"
                                        << optionAnswers({"A", "D"}) << QVariant();
        QTest::newRow("sort keeps order") << Factory([] { return new QuestionSort; }) << "CAB"
                                          << optionAnswers({"C", "A", "B"}) << QVariant();
        QTest::newRow("sort empty") << Factory([] { return new QuestionSort; }) << "" << QVariantList() << QVariant();
        QTest::newRow("yes-no whole") << Factory([] { return new QuestionYesNo; }) << "AD"
                                      << optionAnswers({"AD"}) << QVariant();
        QTest::newRow("numeric text") << Factory([] { return new QuestionNumeric; }) << "AD"
                                      << QVariantList() << QVariant(QStringLiteral("AD"));
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
        q.addActivityOption("A", "first", 1);
        q.addActivityOption("B", QStringLiteral("<span class=\"x\">\u03c0</span>"), 2);
        q.addActivityOption("A", "duplicate", 3); // not checked
        q.setOrdinals(OrdinalType::ALPHA_UPPER);
        QCOMPARE(q.metadata()->getordinalType(), QStringLiteral("alpha-upper"));
        QCOMPARE(q.metadata()->getoptions(), (QVariantList{0, 1, 2}));

        const QJsonObject o = parseObject(JsonSerializer::serializeToJson(&q));
        const QJsonArray options = o.value("activityOptions").toArray();
        QCOMPARE(options.size(), 3);
        QCOMPARE(options.at(1).toObject(), (QJsonObject{{"displaySeqNumber", 2}, {"id", "B"}, {"math", false},
                                                        {"optionText", QStringLiteral("<span class=\"x\">\u03c0</span>")}}));
        QCOMPARE(o.value("metadata").toObject(), (QJsonObject{{"ordinalType", "alpha-upper"}, {"options", QJsonArray{0, 1, 2}}}));

        q.setMetadata(static_cast<OrdinalType::ORDINAL_TYPE>(11), 2);
        QCOMPARE(q.metadata()->getordinalType(), QString());
        QCOMPARE(q.metadata()->getoptions(), (QVariantList{0, 1}));
        q.setMetadata("custom", -3);
        QCOMPARE(q.metadata()->getoptions(), QVariantList());
    }

    // Writers with an object of the wrong class store null; nothing crashes
    // afterwards and the serializer writes null.
    void wrongObjectsStoredAsNull()
    {
        QuestionMultiChoice q;
        QObject stranger;
        QVERIFY(q.setProperty("feedBack", QVariant::fromValue<QObject *>(&stranger)));
        q.setmetadata(&stranger);
        QVERIFY(!q.feedback());
        QVERIFY(!q.metadata());
        q.setPriorAnswer("AB");
        q.setOrdinals(OrdinalType::NUMBER);
        q.addActivityOption("1", "x", 0);
        q.inferOrdinalType();
        const QJsonObject o = parseObject(JsonSerializer::serializeToJson(&q));
        QVERIFY(o.value("feedBack").isNull());
        QVERIFY(o.value("metadata").isNull());
    }

    // Any object may stand as the card; a Card nests with its styles.
    void hostCard()
    {
        QuestionYesNo q;
        QObject *defaultCard = q.getcard();
        auto *card = new Card(&q);
        card->setBackgroundImage("https://img.example/x.png");
        q.setcard(card);
        QCOMPARE(defaultCard->parent(), &q); // replaced, not deleted
        const QJsonObject c = parseObject(JsonSerializer::serializeToJson(&q)).value("card").toObject();
        QCOMPARE(c.value("styles").toObject().value("backgroundImage").toString(), QStringLiteral("https://img.example/x.png"));
        QCOMPARE(c.value("type").toString(), QStringLiteral("TEACHER"));
    }

    // Ids come from a seeded generator: many questions made at once all differ.
    void idsDistinct()
    {
        QSet<QString> ids;
        for (int i = 0; i < 1000; ++i) {
            QuestionText q;
            QCOMPARE(q.getID().size(), 8);
            ids.insert(q.getID());
        }
        QCOMPARE(ids.size(), 1000);
    }
};

QTEST_GUILESS_MAIN(TestQuestions)
#include "tst_questions.moc"
