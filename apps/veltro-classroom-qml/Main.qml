// The reference presenter window in QML: a sign-in form, then the live class.
// Everything it shows is a property of the Classroom object or a row of its
// models; every call it makes returns at once. A text the widget window shows
// too is translated once, in its context (qsTranslate("ClassroomWindow", ...)).
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Veltro
import VeltroPrograms

ApplicationWindow {
    id: window
    width: 1320
    height: 740
    visible: true
    title: qsTranslate("ClassroomWindow", "Veltro Classroom")

    // What fills the sign-in form (the program's options).
    property string server: "http://127.0.0.1:8080"
    property string user: "teacher"
    property string password: ""
    // Whether a sign-in kept in the keyring is tried first (the program does).
    property bool resume: false

    Classroom {
        id: classroom
        objectName: "classroom"
        hostAppVersion: "veltro-classroom-qml"
    }

    KeptSignIn {
        id: kept
        objectName: "kept"
        classroom: classroom
    }
    Lesson {
        id: lesson
        objectName: "lesson"
        classroom: classroom
    }
    Component.onCompleted: if (resume) kept.start(server, user)

    // Closing never waits: a pending call is cancelled, and a live session is
    // stopped by the library as its client goes.
    onClosing: classroom.cancel()

    StackLayout {
        anchors.fill: parent
        anchors.margins: 16
        currentIndex: classroom.signedIn ? 1 : 0

        SignInPage {
            classroom: classroom
            kept: kept
            server: window.server
            user: window.user
            password: window.password
        }
        LiveClass {
            classroom: classroom
            kept: kept
            lesson: lesson
        }
    }
}
