// A presenter host in QML: sign in, start a session, run a poll, stop it,
// follow the teacher's remote, run a short assessment, end the session. Qt's `qml` tool runs it once the Veltro module is on the
// import path, as the development package installs it:
//     qml Main.qml
// For a library installed under another prefix, name the module's folder
// (the CMake package's VeltroClientQt6_QML_IMPORT_DIR):
//     qml -I <prefix>/lib/<multiarch>/qt6/qml Main.qml
import QtQuick
import QtQuick.Controls
import Veltro

ApplicationWindow {
    width: 480; height: 640; visible: true
    title: "Veltro classroom"

    Classroom {
        id: room; serverUrl: server.text; totalCards: 12
        // The phone's next and previous move the lesson on; controllers follow.
        onRemoteCommand: (command) => {
            if (command.type === RemoteCommand.NextCard) currentCard = Math.min(currentCard + 1, totalCards)
            else if (command.type === RemoteCommand.PreviousCard) currentCard = Math.max(currentCard - 1, 1)
        }
    }

    Column {
        spacing: 6
        TextField { id: server; text: "https://classroom.example" }
        TextField { id: user; placeholderText: "user" }
        TextField { id: password; placeholderText: "password"; echoMode: TextInput.Password }
        Button {
            text: "Start class"; enabled: !room.busy && !room.live
            onClicked: { room.signIn(user.text, password.text); room.startSession() }
        }
        Label { text: room.live ? "Code " + room.sessionCode : room.errorString }
        Button { text: "Multiple choice"; enabled: room.live; onClicked: room.startPoll("multiple") }
        Button { text: "Stop poll"; enabled: room.pollState === Classroom.Running; onClicked: room.stopPoll() }
        Button { text: "End class"; enabled: room.live; onClicked: room.stopSession() }
        Repeater { model: room.tally; Label { text: label + "  " + count + "  " + Math.round(share * 100) + "%" } }
        ListView { model: room.learners; width: 200; height: 300; delegate: Label { text: name + (answered ? " ✓" : "") } }
        Label { text: (room.remotePresent ? "Remote on, card " : "Card ") + room.currentCard }
        Button {
            text: "Assessment"; enabled: room.live
            onClicked: {
                room.assessment.setQuestions([
                    { kind: "multiple", text: "Which is a cell part?", options: ["Wall", "Wheel"], correct: [0] },
                    { kind: "true-false", text: "Plants have cells.", correct: [0] }])
                room.assessment.start()
            }
        }
        Repeater { model: room.assessment.progress; Label { text: learner + ": " + correct + "/" + answered } }
    }
}
