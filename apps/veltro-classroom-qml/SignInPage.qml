// The sign-in form; busy while the sign-in is pending, the failure below it.
// While a sign-in kept in the keyring is tried, no form.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro
import VeltroPrograms

Item {
    id: page
    required property Classroom classroom
    required property KeptSignIn kept
    property string server
    property string user
    property string password

    function signIn() {
        if (classroom.busy || kept.resuming)
            return
        kept.signIn(serverField.text.trim(), userField.text.trim(), passwordField.text, stay.checked)
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
            visible: !kept.resuming
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
            Item { width: 1; visible: stay.visible }
            CheckBox {
                id: stay
                objectName: "staySignedIn"
                text: qsTr("Stay signed in")
                visible: kept.offered
                enabled: !classroom.busy
                // Drawn here: the style's check-mark image leaves a texture behind at exit, which
                // LeakSanitizer reports on every run of the window.
                indicator: Rectangle {
                    x: stay.leftPadding
                    y: (stay.height - height) / 2
                    implicitWidth: 14
                    implicitHeight: 14
                    radius: 2
                    color: stay.palette.base
                    border.color: stay.visualFocus ? stay.palette.highlight : stay.palette.mid
                    Label {
                        anchors.centerIn: parent
                        text: "\u2713"
                        visible: stay.checked
                        font.pixelSize: 12
                        font.bold: true
                    }
                }
                ToolTip.visible: hovered
                ToolTip.text: qsTr("Keeps a sign-in for this computer in the system keyring, never the password; "
                                   + "Sign out forgets it.")
            }
        }
        Label {
            objectName: "keptReason"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: kept.reason
            visible: !kept.resuming && !kept.offered && text !== ""
        }
        RowLayout {
            Layout.fillWidth: true
            BusyIndicator {
                objectName: "signInBusy"
                running: classroom.busy || kept.resuming
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
                visible: !kept.resuming
                onClicked: page.signIn()
            }
        }
        Label {
            objectName: "signInStatus"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            color: kept.resuming ? palette.text : "#b00020"
            text: kept.resuming ? qsTr("Signing in as %1...").arg(page.user)
                                : kept.note !== "" ? kept.note : classroom.errorString
        }
    }
}
