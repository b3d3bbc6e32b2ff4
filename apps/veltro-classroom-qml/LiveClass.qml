// The live class: the session code large, the connection with its round trip,
// the learners in a grid that fills as they join, the poll, the lesson, busy
// and failures.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro
import VeltroPrograms

ColumnLayout {
    id: page
    required property Classroom classroom
    required property KeptSignIn kept
    required property Lesson lesson
    spacing: 8

    function connectionText() {
        switch (classroom.connectionState) {
        case Veltro.Connecting: return qsTranslate("ClassroomWindow", "Connecting")
        case Veltro.Connected:
            return classroom.roundTripMs < 0 ? qsTranslate("ClassroomWindow", "Connected")
                                             : qsTr("Connected, round trip %1 ms")
                                               .arg(Number(classroom.roundTripMs).toLocaleString(Qt.locale(), 'f', 0))
        case Veltro.Reconnecting: return qsTranslate("ClassroomWindow", "Reconnecting")
        case Veltro.Closing: return qsTranslate("ClassroomWindow", "Closing")
        }
        return qsTranslate("ClassroomWindow", "Not connected")
    }

    Label {
        objectName: "sessionCode"
        Layout.alignment: Qt.AlignHCenter
        text: classroom.live ? classroom.sessionCode : "------"
        font.pixelSize: 64
        font.bold: true
        font.letterSpacing: 8
    }
    Label {
        Layout.alignment: Qt.AlignHCenter
        text: qsTranslate("ClassroomWindow", "Session code: type it on your device to join")
    }
    RowLayout {
        Layout.fillWidth: true
        Rectangle {
            width: 12
            height: 12
            radius: 6
            color: classroom.connectionState === Veltro.Connected ? "#2e7d32"
                 : classroom.connectionState === Veltro.Closed ? "#9e9e9e" : "#f9a825"
        }
        Label {
            objectName: "connection"
            Layout.fillWidth: true
            text: qsTranslate("ClassroomWindow", "Connection: <b>%1</b>").arg(page.connectionText())
        }
        BusyIndicator {
            objectName: "busy"
            running: classroom.busy
            visible: running
            Layout.preferredHeight: 28
            Layout.preferredWidth: 28
        }
        Button {
            objectName: "startSession"
            text: qsTranslate("ClassroomWindow", "Start session")
            visible: !classroom.live
            enabled: !classroom.busy
            onClicked: classroom.startSession()
        }
        Button {
            objectName: "stopSession"
            text: qsTranslate("ClassroomWindow", "Stop session")
            visible: classroom.live
            enabled: !classroom.busy
            onClicked: classroom.stopSession()
        }
        Button {
            objectName: "signOut"
            text: qsTranslate("ClassroomWindow", "Sign out")
            enabled: !classroom.busy
            onClicked: page.kept.signOut()
        }
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.fillHeight: true
        spacing: 12

        GroupBox {
            objectName: "learnerCount"
            title: qsTr("Learners: %1 joined").arg(Number(classroom.learners.count).toLocaleString(Qt.locale(), 'f', 0))
            Layout.fillHeight: true
            Layout.preferredWidth: 390
            GridView {
                id: grid
                objectName: "learners"
                anchors.fill: parent
                clip: true
                cellWidth: 120
                cellHeight: 44
                model: classroom.learners
                delegate: Rectangle {
                    objectName: "learnerTile"
                    required property string name
                    required property bool answered
                    width: grid.cellWidth - 6
                    height: grid.cellHeight - 6
                    radius: 6
                    color: answered ? "#2e7d32" : "#e3eaf4"
                    Label {
                        anchors.fill: parent
                        anchors.margins: 4
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                        elide: Text.ElideRight
                        text: parent.name
                        color: parent.answered ? "white" : "#1a1a1a"
                    }
                }
            }
        }

        PollPanel {
            classroom: page.classroom
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        LessonPanel {
            classroom: page.classroom
            lesson: page.lesson
            Layout.preferredWidth: 440
            Layout.fillHeight: true
        }
    }

    Label {
        objectName: "error"
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        color: "#b00020"
        text: kept.note !== "" ? kept.note : classroom.errorString
        visible: text !== ""
    }
}
