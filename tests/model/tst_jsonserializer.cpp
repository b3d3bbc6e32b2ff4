// The reflective JSON serializer: the indented text, numbers, nesting and the
// depth limit.
#include "jsonserializer.h"
#include "modeltestutil.h"
#include "questionmetadata.h"

#include <QJsonArray>
#include <QtTest>

using namespace Veltro;

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

class TestJsonSerializer : public QObject
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

    void objects()
    {
        QObject plain;
        plain.setObjectName("named"); // objectName is never written
        QCOMPARE(JsonSerializer::serializeToJson(&plain), QStringLiteral("{\n}\n"));
        QCOMPARE(JsonSerializer::serializeToJson(static_cast<const QObject *>(nullptr)), QString());

        Node root(7);
        auto *meta = new QuestionMetadata(&root);
        meta->setordinalType("number");
        meta->setoptions({0, 1});
        root.m_a = meta;
        QCOMPARE(JsonSerializer::serializeToJson(&root),
                 QStringLiteral("{\n    \"a\": {\n        \"options\": [\n            0,\n            1\n"
                                "        ],\n        \"ordinalType\": \"number\"\n    },\n"
                                "    \"b\": null,\n    \"c\": null,\n    \"d\": null,\n    \"value\": 7\n}\n"));
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
        QCOMPARE(QJsonDocument(list).toJson(QJsonDocument::Compact), R"([{"next":{"next":{},"value":1},"value":0}])");
        QVERIFY(JsonSerializer::buildArrayObjectMap({}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJsonSerializer)
#include "tst_jsonserializer.moc"
