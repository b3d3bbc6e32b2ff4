// The reference presenter window on the library's classroom object: a sign-in
// form, then the live class (the session code large for the class to type, the
// learners as tiles filling in as they join, poll buttons, live bars of the
// answers, the connection's state and round trip). Every call it makes is
// non-blocking, so the window never waits inside one: while a call is pending
// the controls that would start another are disabled, and closing the window
// cancels the call and closes at once.
#pragma once

#include <QWidget>

class BarChart;
class KeptSignIn;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;
namespace Veltro {
class Classroom;
}

class ClassroomWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ClassroomWindow(QWidget *parent = nullptr);

    /// Fills the sign-in form (the password field never echoes).
    void setSignIn(const QString &server, const QString &user, const QString &password);
    /// Signs in with the sign-in kept in the keyring for the form's account,
    /// showing no form meanwhile; otherwise the form, with "Stay signed in"
    /// when a keyring answered.
    void resumeSignIn();
    Veltro::Classroom *classroom() const { return m_classroom; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildSignInPage();
    QWidget *buildClassPage();
    QBoxLayout *buildSessionArea(QWidget *page);
    QWidget *buildLearnerArea(QWidget *page);
    QWidget *buildPollArea(QWidget *page);
    QBoxLayout *buildStatusArea(QWidget *page);
    void connectClassroom();
    void signIn();
    void startPoll();
    void refresh();

    Veltro::Classroom *m_classroom;
    KeptSignIn *m_kept;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_form = nullptr; // hidden while a kept sign-in is tried
    QLineEdit *m_server = nullptr, *m_user = nullptr, *m_password = nullptr;
    QCheckBox *m_stay = nullptr;
    QLabel *m_keptReason = nullptr;
    QPushButton *m_signIn = nullptr;
    QLabel *m_signInStatus = nullptr;
    QProgressBar *m_signInBusy = nullptr;
    QLabel *m_code = nullptr, *m_connection = nullptr;
    QPushButton *m_startSession = nullptr, *m_stopSession = nullptr, *m_signOut = nullptr;
    QLabel *m_learnerCount = nullptr;
    QListView *m_learners = nullptr;
    QComboBox *m_pollKind = nullptr;
    QPushButton *m_startPoll = nullptr, *m_pausePoll = nullptr, *m_resumePoll = nullptr, *m_stopPoll = nullptr;
    BarChart *m_chart = nullptr;
    QProgressBar *m_busy = nullptr;
    QLabel *m_status = nullptr;
};
