// The poll: one button per kind the classroom offers, pause, resume and stop,
// and live bars from the tally model.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro

GroupBox {
    id: panel
    required property Classroom classroom
    readonly property bool running: classroom.pollState === Classroom.Running
                                    || classroom.pollState === Classroom.Paused
    title: qsTranslate("ClassroomWindow", "Poll")

    // A number as the chosen language writes it.
    function number(n, decimals) { return Number(n).toLocaleString(Qt.locale(), 'f', decimals || 0) }

    function heading() {
        const answered = number(classroom.tally.answered), present = number(classroom.tally.present)
        switch (classroom.pollState) {
        case Classroom.Running: return qsTr("Answers: %1 of %2").arg(answered).arg(present)
        case Classroom.Paused: return qsTr("Paused: %1 of %2 answered").arg(answered).arg(present)
        case Classroom.Stopped: return qsTr("Final: %1 answers").arg(answered)
        }
        return qsTranslate("ClassroomWindow", "No poll yet")
    }

    ColumnLayout {
        anchors.fill: parent
        Flow {
            Layout.fillWidth: true
            spacing: 6
            Repeater {
                model: panel.classroom.pollKinds
                Button {
                    required property string modelData
                    objectName: "poll-" + modelData
                    text: pollKindTexts[modelData] || modelData
                    enabled: panel.classroom.live && !panel.running
                    onClicked: panel.classroom.startPoll(modelData)
                }
            }
        }
        RowLayout {
            Button {
                objectName: "pausePoll"
                text: qsTranslate("ClassroomWindow", "Pause")
                enabled: panel.classroom.pollState === Classroom.Running
                onClicked: panel.classroom.pausePoll()
            }
            Button {
                objectName: "resumePoll"
                text: qsTranslate("ClassroomWindow", "Resume")
                enabled: panel.classroom.pollState === Classroom.Paused
                onClicked: panel.classroom.resumePoll()
            }
            Button {
                objectName: "stopPoll"
                text: qsTranslate("ClassroomWindow", "Stop")
                enabled: panel.running
                onClicked: panel.classroom.stopPoll()
            }
            Label {
                objectName: "pollHeading"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignRight
                font.bold: true
                text: panel.heading()
            }
        }
        ListView {
            id: bars
            objectName: "bars"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 6
            model: panel.classroom.tally
            delegate: RowLayout {
                objectName: "bar"
                required property string label
                required property int count
                required property real share
                width: bars.width
                height: 34
                Label {
                    text: parent.label
                    elide: Text.ElideRight
                    Layout.preferredWidth: 110
                }
                Rectangle {
                    Layout.preferredWidth: Math.max(2, (bars.width - 170) * parent.share)
                    Layout.fillHeight: true
                    radius: 4
                    color: "#3f6fb5"
                }
                Label {
                    text: qsTr("%1 (%2%)").arg(panel.number(parent.count)).arg(panel.number(parent.share * 100, 1))
                    font.bold: true
                }
                Item { Layout.fillWidth: true }
            }
        }
    }
}
