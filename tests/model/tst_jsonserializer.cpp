#include "activityoption.h"
#include "jsonserializer.h"
#include "modeltestutil.h"
#include "questionmetadata.h"

#include <QObject>
#include <QtTest>

using namespace Veltro;

// An object graph node: "value" plus up to four object-valued properties.
class Node : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(QObject* a MEMBER m_a)
    Q_PROPERTY(QObject* b MEMBER m_b)
    Q_PROPERTY(QObject* c MEMBER m_c)
    Q_PROPERTY(QObject* d MEMBER m_d)
public:
    explicit Node(int v = 0, QObject *parent = nullptr) : QObject(parent), m_value(v) {}
    int value() const { return m_value; }
    void setValue(int v) { m_value = v; }
    QObject *m_a = nullptr, *m_b = nullptr, *m_c = nullptr, *m_d = nullptr;
private:
    int m_value;
};

// A leaf with one plain property.
class Leaf : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int value MEMBER m_value)
public:
    explicit Leaf(int v, QObject *parent = nullptr) : QObject(parent), m_value(v) {}
    int m_value;
};

// A chain link: "value" and the next link.
class Link : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int value MEMBER m_value)
    Q_PROPERTY(QObject* next MEMBER m_next)
public:
    explicit Link(int v, QObject *parent = nullptr) : QObject(parent), m_value(v) {}
    int m_value;
    QObject *m_next = nullptr;
};

class TestJsonSerializer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { enableModelDebugOutput(); }

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

    void plainObjectsAndIgnoredProperties()
    {
        QObject plain;
        plain.setObjectName("named"); // objectName is never written
        QCOMPARE(JsonSerializer::serializeToJson(&plain), QStringLiteral("{\n}\n"));
        Leaf leaf(5);
        QCOMPARE(JsonSerializer::serializeToJson(&leaf), QStringLiteral("{\n    \"value\": 5\n}\n"));
        QCOMPARE(JsonSerializer::serializeToJson(static_cast<const QObject *>(nullptr)), QString());
    }

    void nestedAndNullObjects()
    {
        Node root(7);
        auto *meta = new QuestionMetadata(&root);
        meta->setordinalType("number");
        meta->setoptions({0, 1});
        root.m_a = meta;
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] Mapping sub-property: a");
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] ERROR: Failed to map property: b");
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] ERROR: Failed to map property: c");
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] ERROR: Failed to map property: d");
        const QString json = JsonSerializer::serializeToJson(&root);
        QCOMPARE(json, QStringLiteral("{\n    \"a\": {\n        \"options\": [\n            0,\n            1\n"
                                      "        ],\n        \"ordinalType\": \"number\"\n    },\n"
                                      "    \"b\": null,\n    \"c\": null,\n    \"d\": null,\n    \"value\": 7\n}\n"));
    }

    // One countdown per call: siblings are mapped at depths 3, 2, 1, 0 in key order,
    // and a chain stops after four levels.
    void depthCountdown_data()
    {
        QTest::addColumn<bool>("chain");
        QTest::addColumn<QString>("expected");
        QTest::newRow("siblings")
            << false << QStringLiteral("{\"a\":{\"value\":1},\"b\":{\"value\":2},\"c\":{\"value\":3},\"d\":{},\"value\":0}");
        QTest::newRow("chain")
            << true << QStringLiteral("{\"next\":{\"next\":{\"next\":{\"next\":{},\"value\":3},\"value\":2},\"value\":1},\"value\":0}");
    }
    void depthCountdown()
    {
        QFETCH(bool, chain);
        QFETCH(QString, expected);
        Node siblings(0);
        Link links(0);
        QObject *root = &siblings;
        if (chain) {
            root = &links;
            Link *prev = &links;
            for (int i = 1; i <= 4; ++i)
                prev = static_cast<Link *>(prev->m_next = new Link(i, prev));
        } else {
            siblings.m_a = new Leaf(1, &siblings);
            siblings.m_b = new Leaf(2, &siblings);
            siblings.m_c = new Leaf(3, &siblings);
            siblings.m_d = new Leaf(4, &siblings);
        }
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] ERROR: Reached max depth! Increase MAX_RECURSE_DEPTH or check object references!");
        const QString json = JsonSerializer::serializeToJson(root);
        QCOMPARE(QString::fromUtf8(QJsonDocument::fromJson(json.toUtf8()).toJson(QJsonDocument::Compact)), expected);
    }

    void arrayObjectMap()
    {
        QCOMPARE(JsonSerializer::buildArrayObjectMap({}), QVariantList());

        ActivityOption first, second;
        first.setID("A");
        first.setoptionText("Alpha");
        first.setdisplaySeqNumber(1);
        second.setID("B");
        second.setmath(true);
        const QVariantList list = JsonSerializer::buildArrayObjectMap({&first, &second});
        QCOMPARE(list.size(), 2);
        const QVariantMap m0 = list.at(0).toMap(), m1 = list.at(1).toMap();
        QCOMPARE(m0.keys(), (QStringList{"displaySeqNumber", "id", "math", "optionText"}));
        QCOMPARE(m1.keys(), m0.keys());
        QCOMPARE(m0.value("id").toString(), QStringLiteral("A"));
        QCOMPARE(m0.value("optionText").toString(), QStringLiteral("Alpha"));
        QCOMPARE(m0.value("displaySeqNumber").toInt(), 1);
        QCOMPARE(m1.value("math").toBool(), true);

        // Lists map each object with a depth of 2: grandchildren come out empty.
        Link root(0);
        auto *child = new Link(1, &root);
        child->m_next = new Link(2, child);
        root.m_next = child;
        QTest::ignoreMessage(QtDebugMsg, "[JsonSerializer] ERROR: Reached max depth! Increase MAX_RECURSE_DEPTH or check object references!");
        const QVariantMap mapped = JsonSerializer::buildArrayObjectMap({&root}).at(0).toMap();
        QCOMPARE(mapped.value("next").toMap().value("value").toInt(), 1);
        QCOMPARE(mapped.value("next").toMap().value("next").toMap(), QVariantMap());
    }
};

QTEST_GUILESS_MAIN(TestJsonSerializer)
#include "tst_jsonserializer.moc"
