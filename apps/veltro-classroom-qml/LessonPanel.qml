// The lesson: the teacher's remote and the card it moves through, an image
// card, the assessment's progress filling in (a row a learner, a cell a
// question) and "Save results...". What it does is the programs' shared
// Lesson; files are named in a dialog of the window's own, a path field filled
// with a sensible start (Qt Quick Controls has no file dialog).
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro
import VeltroPrograms

GroupBox {
    id: panel
    required property Classroom classroom
    required property Lesson lesson
    readonly property Assessment assessment: classroom.assessment
    readonly property bool assessing: assessment.state === Assessment.Running
                                      || assessment.state === Assessment.Paused
    title: qsTranslate("ClassroomWindow", "Lesson")

    ColumnLayout {
        anchors.fill: parent
        RowLayout {
            Rectangle {
                width: 12
                height: 12
                radius: 6
                color: panel.classroom.remotePresent ? "#2e7d32" : "#9e9e9e"
            }
            Label {
                objectName: "remote"
                Layout.fillWidth: true
                text: panel.lesson.remoteText
            }
        }
        RowLayout {
            Label {
                objectName: "card"
                Layout.fillWidth: true
                elide: Text.ElideRight
                font.bold: true
                text: panel.lesson.cardText
            }
            Button {
                objectName: "imageCard"
                text: qsTranslate("ClassroomWindow", "Image card...")
                enabled: panel.classroom.live
                onClicked: chooser.ask(qsTranslate("ClassroomWindow", "Image card"), panel.lesson.imageFolder(),
                                       qsTr("Show"), path => panel.lesson.showImage(path))
            }
        }
        RowLayout {
            Button {
                objectName: "startAssessment"
                text: qsTranslate("ClassroomWindow", "Start assessment")
                enabled: panel.classroom.live && !panel.assessing
                onClicked: panel.lesson.startAssessment()
            }
            Button {
                objectName: "stopAssessment"
                text: qsTranslate("ClassroomWindow", "Stop assessment")
                enabled: panel.assessing
                onClicked: panel.assessment.stop()
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "saveResults"
                text: qsTranslate("ClassroomWindow", "Save results...")
                onClicked: chooser.ask(qsTranslate("ClassroomWindow", "Save results"),
                                       panel.lesson.defaultResultsPath(), qsTr("Save"),
                                       path => panel.lesson.saveResults(path))
            }
        }
        ListView {
            id: rows
            objectName: "progress"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: panel.assessment.progress
            delegate: RowLayout {
                id: row
                objectName: "progressRow"
                required property string learner
                required property int question
                required property int answered
                required property int correct
                width: rows.width
                height: 26
                Label {
                    text: row.learner
                    elide: Text.ElideRight
                    Layout.preferredWidth: rows.width * 0.4
                }
                Repeater {
                    model: panel.assessment.questionCount
                    Rectangle {
                        required property int index
                        readonly property bool done: index < row.answered
                        width: 18
                        height: 18
                        radius: 3
                        color: done ? "#3f6fb5" : "white"
                        border.color: done || index + 1 === row.question ? "#3f6fb5" : "#9e9e9e"
                        border.width: done || index + 1 === row.question ? 2 : 1
                    }
                }
                Label {
                    Layout.fillWidth: true
                    text: panel.lesson.rightText(row.correct, row.answered)
                }
            }
        }
        Label {
            objectName: "lessonNote"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: panel.lesson.failed ? "#b00020" : palette.text
            text: panel.lesson.note
            visible: text !== ""
        }
    }

    Dialog {
        id: chooser
        objectName: "chooser"
        property var chosen: null
        // Asks for a file, starting at `path`; `chosen` gets what the teacher accepted.
        function ask(heading, path, acceptText, chosen) {
            title = heading
            field.text = path
            acceptButton.text = acceptText
            chooser.chosen = chosen
            open()
            field.forceActiveFocus()
        }
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        contentItem: ColumnLayout {
            Label { text: qsTr("File:") }
            TextField {
                id: field
                objectName: "path"
                Layout.preferredWidth: 560
                onAccepted: chooser.accept()
            }
        }
        footer: DialogButtonBox {
            Button {
                id: acceptButton
                objectName: "choosePath"
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            }
            Button {
                text: qsTr("Cancel")
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
        onAccepted: chosen(field.text)
    }
}
