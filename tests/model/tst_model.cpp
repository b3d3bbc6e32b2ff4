// The reflective JSON serializer (text, numbers, nesting, depth) and the question classes' JSON.
#include "jsonserializer.h"
#include "polltype.h"
#include "questioncreative.h"
#include "questionmathformula.h"
#include "questionmetadata.h"
#include "questionmultichoice.h"
#include "questionnumeric.h"
#include "questionscale.h"
#include "questionsort.h"
#include "questiontext.h"
#include "questionwordseed.h"
#include "questionyesno.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The serializer's text of `o` read back.
static QJsonObject serialized(const QObject *o)
{
    return QJsonDocument::fromJson(JsonSerializer::serializeToJson(o).toUtf8()).object();
}

static QString compactJson(const QObject *o)
{
    return QString::fromUtf8(QJsonDocument(serialized(o)).toJson(QJsonDocument::Compact));
}

class Leaf : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int value MEMBER m_value)
public:
    explicit Leaf(int v = 0, QObject *parent = nullptr) : QObject(parent), m_value(v) {}
    int m_value;
};

// A leaf with four object-valued properties.
class Node : public Leaf
{
    Q_OBJECT
    Q_PROPERTY(QObject* a MEMBER m_a)
    Q_PROPERTY(QObject* b MEMBER m_b)
    Q_PROPERTY(QObject* c MEMBER m_c)
    Q_PROPERTY(QObject* d MEMBER m_d)
public:
    using Leaf::Leaf;
    QObject *m_a = nullptr, *m_b = nullptr, *m_c = nullptr, *m_d = nullptr;
};

// A chain link: a leaf and the next link.
class Link : public Leaf
{
    Q_OBJECT
    Q_PROPERTY(QObject* next MEMBER m_next)
public:
    using Leaf::Leaf;
    QObject *m_next = nullptr;
};

class TestModel : public QObject
{
    Q_OBJECT
private slots:
    void mapForm_data()
    {
        QTest::addColumn<QVariantMap>("map");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QVariantMap() << QStringLiteral("{\n}\n");
        QTest::newRow("sorted, nested, null")
            << QVariantMap{{"b", QVariantList{1, "two"}}, {"a", QVariantMap{{"k", true}}}, {"c", QVariant()}}
            << QStringLiteral("{\n    \"a\": {\n        \"k\": true\n    },\n    \"b\": [\n        1,\n"
                              "        \"two\"\n    ],\n    \"c\": null\n}\n");
        QTest::newRow("empty containers") << QVariantMap{{"l", QVariantList()}, {"m", QVariantMap()}}
                                          << QStringLiteral("{\n    \"l\": [\n    ],\n    \"m\": {\n    }\n}\n");
        // Numbers as Qt 5 writes them, in every build: shortest form, integral
        // doubles without a point, 64-bit integers as doubles, no NaN.
        QTest::newRow("numbers")
            << QVariantMap{{"d", 0.1}, {"e", 1e21}, {"f", 1.5f}, {"i", 3.0}, {"l", qint64(9007199254740993LL)},
                           {"m", QVariantList{quint64(9007199254740993ULL)}}, {"n", qQNaN()}, {"z", -0.0}}
            << QStringLiteral("{\n    \"d\": 0.1,\n    \"e\": 1e+21,\n    \"f\": 1.5,\n    \"i\": 3,\n"
                              "    \"l\": 9007199254740992,\n    \"m\": [\n        9007199254740992\n    ],\n"
                              "    \"n\": null,\n    \"z\": 0\n}\n");
        QTest::newRow("utf-8 text") << QVariantMap{{"t", QStringLiteral("\u00e9\u6f22")}}
                                    << QStringLiteral("{\n    \"t\": \"\u00e9\u6f22\"\n}\n");
    }
    void mapForm()
    {
        QFETCH(QVariantMap, map);
        QFETCH(QString, expected);
        QCOMPARE(JsonSerializer::serializeToJson(map), expected);
    }

    // One countdown per call: siblings are mapped at depths 3, 2, 1, 0 in key
    // order, a chain stops after four levels, a list's objects after two.
    void depthCountdown()
    {
        Node siblings(0);
        siblings.m_a = new Leaf(1, &siblings);
        siblings.m_b = new Leaf(2, &siblings);
        siblings.m_c = new Leaf(3, &siblings);
        siblings.m_d = new Leaf(4, &siblings);
        QCOMPARE(compactJson(&siblings),
                 QStringLiteral(R"({"a":{"value":1},"b":{"value":2},"c":{"value":3},"d":{},"value":0})"));
        Link chain(0);
        Link *last = &chain;
        for (int i = 1; i <= 4; ++i)
            last = static_cast<Link *>(last->m_next = new Link(i, last));
        QCOMPARE(compactJson(&chain),
                 QStringLiteral(R"({"next":{"next":{"next":{"next":{},"value":3},"value":2},"value":1},"value":0})"));
        const QJsonArray list = QJsonArray::fromVariantList(JsonSerializer::buildArrayObjectMap({&chain}));
        QCOMPARE(QJsonDocument(list).toJson(QJsonDocument::Compact),
                 QByteArray(R"([{"next":{"next":{},"value":1},"value":0}])"));
        QVERIFY(JsonSerializer::buildArrayObjectMap({}).isEmpty());
        QCOMPARE(JsonSerializer::serializeToJson(static_cast<const QObject *>(nullptr)), QString());
    }

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
    }
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
