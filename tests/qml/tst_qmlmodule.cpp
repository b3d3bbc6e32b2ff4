// `import Veltro` from a QML engine: the types are there, creatable where
// they should be (the models only through the classroom that feeds them),
// the values QML reads are gadgets, and the enumerations carry the library's values.
#include <QtTest>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExpression>

#include "classroom.h"
#include "ordinaltype.h"
#include "polltype.h"
#include "remotecommand.h"
#include "veltronamespace.h"

class TestQmlModule : public QObject
{
    Q_OBJECT

private:
    QQmlEngine m_engine;
    std::unique_ptr<QObject> m_root;

private Q_SLOTS:
    void initTestCase()
    {
        m_engine.addImportPath(QStringLiteral(VELTRO_QML_IMPORT_DIR));
        QQmlComponent component(&m_engine);
        // Only the module itself is imported: it must stand on its own.
        component.setData("import Veltro\n"
                          "Classroom {\n"
                          "    serverUrl: \"http://127.0.0.1:9\"; resendPollToLateJoiners: false\n"
                          "    property Classroom room: this\n"
                          "}\n",
                          QUrl(QStringLiteral("qrc:/tst_qmlmodule.qml")));
        m_root.reset(component.create());
        QVERIFY2(m_root, qPrintable(component.errorString()));
    }

    // A QML expression, evaluated with the root object's properties in scope, and what it must give.
    void expressions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QVariant>("expected");
        const auto row = [](const char *expression, const QVariant &expected) {
            QTest::newRow(expression) << QString::fromLatin1(expression) << expected;
        };
        row("room.serverUrl", QStringLiteral("http://127.0.0.1:9"));
        row("room.resendPollToLateJoiners", false);
        row("room.autoReconnect", true); // a class stays live through a drop, set in QML or not
        row("room.signedIn || room.live || room.busy", false);
        row("room.pollKinds.length", 10);
        row("room.pollKinds[4]", QStringLiteral("sort"));
        row("room.learners.count + room.tally.count", 0);
        row("room.connectionState === Veltro.Closed", true);
        row("room.error === Veltro.None", true);
        row("room.pollState === Classroom.NoPoll && Classroom.Stopped === Veltro.Stopped", true);
        row("room.roundTripMs", -1);
        row("room.tally.counting", false);
        row("room.tally.optionAt(0).id + room.tally.optionAt(0).correct", QStringLiteral("false"));
        row("room.pollKindLabel('true-false')", QStringLiteral("True / false"));
        row("room.assessment.state === Assessment.Idle", true);
        row("room.assessment.setQuestions([{kind: 'multiple', text: 'Q?', options: ['a', 'b'], correct: [1]}])"
            " && room.assessment.question(1).text + room.assessment.question(1).correct", QStringLiteral("Q?1"));
        row("room.assessment.progress.toCsv()", QStringLiteral("learner,deviceId,question,answered,correct,time\r\n"));
        row("RemoteCommand.NextCard", int(Veltro::RemoteCommand::NextCard));
        row("room.remotePresent", false);
        row("room.cardNames = ['a', 'b'], room.currentCard = 2, room.currentCard + room.totalCards", 4);
        row("room.showImageCard('/no/such/image.png')", false); // not live
        row("Veltro.Timeout", int(Veltro::Error::Timeout));
        row("Veltro.Reconnecting", int(Veltro::ConnectionState::Reconnecting));
        row("PollType.SORT", int(Veltro::PollType::SORT));
        row("OrdinalType.YES_NO_OTHER", int(Veltro::OrdinalType::YES_NO_OTHER));
        row("PollTallyModel.FirstPick", int(Veltro::PollTallyModel::Mode::FirstPick));
        row("room.startPoll('multiple')", false); // not live
    }

    void expressions()
    {
        QFETCH(QString, expression);
        QFETCH(QVariant, expected);
        QQmlExpression e(qmlContext(m_root.get()), m_root.get(), expression);
        const QVariant got = e.evaluate();
        QVERIFY2(!e.hasError(), qPrintable(e.error().toString()));
        QCOMPARE(got.toString(), expected.toString());
    }

    // Enumerations are values, not objects to create; models come from their classroom.
    void uncreatable_data()
    {
        QTest::addColumn<QString>("type");
        for (const char *t : {"Veltro", "PollType", "OrdinalType", "LearnerModel", "PollTallyModel", "Assessment",
                              "AssessmentProgressModel"})
            QTest::newRow(t) << QString::fromLatin1(t);
    }

    void uncreatable()
    {
        QFETCH(QString, type);
        QQmlComponent component(&m_engine);
        component.setData(QStringLiteral("import Veltro\n%1 {}\n").arg(type).toUtf8(), QUrl());
        QVERIFY(component.isError());
        QVERIFY2(component.errorString().contains(QRegularExpression(QStringLiteral("not creatable|use Classroom"))),
                 qPrintable(component.errorString()));
    }
};

QTEST_MAIN(TestQmlModule)
#include "tst_qmlmodule.moc"
