// Loads the QML reference window into an engine, for the program and its test.
#pragma once

class QQmlApplicationEngine;
class QQuickWindow;
struct WindowSignIn;

/// Loads the window (Main.qml) into `engine` with its sign-in form filled from
/// `signIn`. Run from the build tree, the Veltro module is taken from the
/// build's QML folder; installed, from Qt's import path. Returns the window,
/// or null when it did not load (the engine's warnings say why).
QQuickWindow *loadClassroomWindow(QQmlApplicationEngine *engine, const WindowSignIn &signIn);
