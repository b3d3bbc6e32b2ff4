// The sign-in form; busy while the sign-in is pending, the failure below it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro

Item {
    id: page
    required property Classroom classroom
    property string server
    property string user
    property string password

    function signIn() {
        if (classroom.busy)
            return
        classroom.serverUrl = serverField.text.trim()
        classroom.signIn(userField.text.trim(), passwordField.text)
    }

    ColumnLayout {
        anchors.centerIn: parent
        width: 420
        spacing: 10

        Label {
            text: qsTr("Veltro Classroom")
            font.pixelSize: 28
            font.bold: true
        }
        Label { text: qsTr("Sign in to start a live class.") }
        GridLayout {
            columns: 2
            Layout.fillWidth: true
            Label { text: qsTr("Server") }
            TextField {
                id: serverField
                objectName: "server"
                Layout.fillWidth: true
                text: page.server
                enabled: !classroom.busy
            }
            Label { text: qsTr("User") }
            TextField {
                id: userField
                objectName: "user"
                Layout.fillWidth: true
                text: page.user
                enabled: !classroom.busy
            }
            Label { text: qsTr("Password") }
            TextField {
                id: passwordField
                objectName: "password"
                Layout.fillWidth: true
                echoMode: TextInput.Password
                text: page.password
                enabled: !classroom.busy
                onAccepted: page.signIn()
            }
        }
        RowLayout {
            Layout.fillWidth: true
            BusyIndicator {
                objectName: "signInBusy"
                running: classroom.busy
                visible: running
                Layout.preferredHeight: 32
                Layout.preferredWidth: 32
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "signIn"
                text: qsTr("Sign in")
                highlighted: true
                enabled: !classroom.busy
                onClicked: page.signIn()
            }
        }
        Label {
            objectName: "signInError"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: "#b00020"
            text: classroom.errorString
        }
    }
}
