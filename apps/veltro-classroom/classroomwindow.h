// The reference presenter window on the library's classroom object: a sign-in
// form, then the live class (the session code large for the class to type, the
// learners as tiles filling in as they join, poll buttons, live bars of the
// answers, the connection's state and round trip, and the lesson: the card the
// teacher's remote moves through, an image card, a three-question assessment
// with its progress grid, and "Save results..."). Every call it makes is
// non-blocking, so the window never waits inside one: while a call is pending
// the controls that would start another are disabled, and closing the window
// cancels the call and closes at once.
#pragma once

#include <QWidget>

#include <functional>

class BarChart;
class KeptSignIn;
class Lesson;
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
    QWidget *buildLessonArea(QWidget *page);
    QBoxLayout *buildStatusArea(QWidget *page);
    void chooseFile(const QString &title, const QString &start, bool save,
                    const std::function<void(const QString &)> &chosen);
    void connectClassroom();
    void signIn();
    void startPoll();
    void refresh();

    Veltro::Classroom *m_classroom;
    KeptSignIn *m_kept;
    Lesson *m_lesson;
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
    QLabel *m_remote = nullptr, *m_card = nullptr, *m_lessonNote = nullptr;
    QPushButton *m_imageCard = nullptr, *m_startAssessment = nullptr, *m_stopAssessment = nullptr;
    QPushButton *m_saveResults = nullptr;
    QListView *m_progress = nullptr;
    QProgressBar *m_busy = nullptr;
    QLabel *m_status = nullptr;
};
