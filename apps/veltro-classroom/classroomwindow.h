// The reference presenter window: a sign-in form, then the live class (the
// session code large for the class to type, learners coming and going, poll
// buttons, a live bar chart of the answers, the connection's state).
// While one of the library's blocking calls runs the window stays painted and
// animated, shows what it waits for, and disables every control that would
// start another call; a close asked for meanwhile waits for the call to end.
#pragma once

#include <QWidget>

class BarChart;
class ClassroomController;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;

class ClassroomWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ClassroomWindow(QWidget *parent = nullptr);
    ~ClassroomWindow() override;

    /// Fills the sign-in form (the password field never echoes).
    void setSignIn(const QString &server, const QString &user, const QString &password);
    ClassroomController *controller() const { return m_controller; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void signIn();
    void refresh();
    void showError(const QString &message);

    ClassroomController *m_controller;
    bool m_closePending = false;  // a close asked for during a blocking call
    bool m_shuttingDown = false;  // closing: stopping the session and signing out
    bool m_cursorSet = false;
    QString m_error;  // the last failure, until the next call starts
    QStackedWidget *m_pages;
    QLineEdit *m_server, *m_user, *m_password;
    QPushButton *m_signIn;
    QLabel *m_signInStatus;
    QLabel *m_code, *m_connection, *m_learnerCount, *m_status;
    QListWidget *m_learners;
    QComboBox *m_pollKind;
    QPushButton *m_startSession, *m_stopSession, *m_startPoll, *m_pausePoll, *m_resumePoll, *m_stopPoll;
    BarChart *m_chart;
    QProgressBar *m_busy, *m_signInBusy;
};
