// A presenter host in QML: sign in, start a session, run a poll, stop it,
// end the session. Qt's `qml` tool runs it once the Veltro module is on the
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

    Classroom { id: room; serverUrl: server.text }

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
    }
}
