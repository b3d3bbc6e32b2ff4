#include "classroomwindow.h"

#include "barchart.h"
#include "classroomcontroller.h"
#include "presentconfig.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// An indeterminate bar: it moves as long as the event loop turns, which it
// does inside the library's nested waits too.
QProgressBar *busyBar(const char *name, QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumHeight(10);
    bar->setVisible(false);
    return bar;
}

// "Learner 2" before "Learner 10": runs of digits compare as numbers.
bool naturalLess(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            const QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            if (x.size() != y.size() || x != y)
                return x.size() != y.size() ? x.size() < y.size() : x < y;
            i = ei;
            j = ej;
            continue;
        }
        const int c = QString::compare(a.mid(i, 1), b.mid(j, 1), Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

ClassroomWindow::ClassroomWindow(QWidget *parent)
    : QWidget(parent), m_controller(new ClassroomController(this))
{
    setWindowTitle(QStringLiteral("Veltro Classroom"));
    m_pages = new QStackedWidget(this);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_pages);

    // Page 1: sign-in.
    auto *signInPage = new QWidget(m_pages);
    auto *form = new QFormLayout;
    m_server = new QLineEdit(signInPage);
    m_server->setObjectName(QStringLiteral("server"));
    m_user = new QLineEdit(signInPage);
    m_user->setObjectName(QStringLiteral("user"));
    m_password = new QLineEdit(signInPage);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Server"), m_server);
    form->addRow(QStringLiteral("User"), m_user);
    form->addRow(QStringLiteral("Password"), m_password);
    m_signIn = button(QStringLiteral("Sign in"), "signIn", signInPage);
    m_signIn->setDefault(true);
    m_signInStatus = new QLabel(signInPage);
    m_signInStatus->setObjectName(QStringLiteral("signInStatus"));
    m_signInStatus->setWordWrap(true);
    m_signInBusy = busyBar("signInBusy", signInPage);
    auto *title = new QLabel(QStringLiteral("<h2>Veltro Classroom</h2>Sign in to start a live class."), signInPage);
    auto *box = new QVBoxLayout;
    box->addWidget(title);
    box->addLayout(form);
    box->addWidget(m_signIn, 0, Qt::AlignRight);
    box->addWidget(m_signInBusy);
    box->addWidget(m_signInStatus);
    auto *boxWidget = new QWidget(signInPage);
    boxWidget->setLayout(box);
    boxWidget->setFixedWidth(460);
    auto *signInLayout = new QVBoxLayout(signInPage);
    signInLayout->addWidget(boxWidget, 0, Qt::AlignCenter);
    m_pages->addWidget(signInPage);

    // Page 2: the live class.
    auto *classPage = new QWidget(m_pages);
    m_code = new QLabel(classPage);
    m_code->setObjectName(QStringLiteral("sessionCode"));
    m_code->setAlignment(Qt::AlignCenter);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = m_code->font();
    big.setPointSize(44);
    big.setBold(true);
    big.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    m_code->setFont(big);
    auto *codeHint = new QLabel(QStringLiteral("Session code: type it on your device to join"), classPage);
    codeHint->setAlignment(Qt::AlignCenter);
    m_connection = new QLabel(classPage);
    m_connection->setObjectName(QStringLiteral("connection"));
    m_startSession = button(QStringLiteral("Start session"), "startSession", classPage);
    m_stopSession = button(QStringLiteral("Stop session"), "stopSession", classPage);
    auto *sessionRow = new QHBoxLayout;
    sessionRow->addWidget(m_connection, 1);
    sessionRow->addWidget(m_startSession);
    sessionRow->addWidget(m_stopSession);

    auto *learnerBox = new QGroupBox(QStringLiteral("Learners"), classPage);
    m_learnerCount = new QLabel(learnerBox);
    m_learnerCount->setObjectName(QStringLiteral("learnerCount"));
    m_learners = new QListWidget(learnerBox);
    m_learners->setObjectName(QStringLiteral("learners"));
    auto *learnerLayout = new QVBoxLayout(learnerBox);
    learnerLayout->addWidget(m_learnerCount);
    learnerLayout->addWidget(m_learners);

    auto *pollBox = new QGroupBox(QStringLiteral("Poll"), classPage);
    m_pollKind = new QComboBox(pollBox);
    m_pollKind->setObjectName(QStringLiteral("pollKind"));
    m_pollKind->addItems(pollKindNames());
    m_startPoll = button(QStringLiteral("Start"), "startPoll", pollBox);
    m_pausePoll = button(QStringLiteral("Pause"), "pausePoll", pollBox);
    m_resumePoll = button(QStringLiteral("Resume"), "resumePoll", pollBox);
    m_stopPoll = button(QStringLiteral("Stop"), "stopPoll", pollBox);
    auto *pollRow = new QHBoxLayout;
    pollRow->addWidget(m_pollKind, 1);
    for (QPushButton *b : {m_startPoll, m_pausePoll, m_resumePoll, m_stopPoll})
        pollRow->addWidget(b);
    m_chart = new BarChart(pollBox);
    m_chart->setObjectName(QStringLiteral("chart"));
    auto *pollLayout = new QVBoxLayout(pollBox);
    pollLayout->addLayout(pollRow);
    pollLayout->addWidget(m_chart, 1);

    auto *middle = new QHBoxLayout;
    middle->addWidget(learnerBox, 1);
    middle->addWidget(pollBox, 2);
    m_busy = busyBar("busy", classPage);
    m_status = new QLabel(classPage);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    auto *classLayout = new QVBoxLayout(classPage);
    classLayout->addWidget(m_code);
    classLayout->addWidget(codeHint);
    classLayout->addLayout(sessionRow);
    classLayout->addLayout(middle, 1);
    classLayout->addWidget(m_busy);
    classLayout->addWidget(m_status);
    m_pages->addWidget(classPage);

    connect(m_signIn, &QPushButton::clicked, this, &ClassroomWindow::signIn);
    connect(m_password, &QLineEdit::returnPressed, this, &ClassroomWindow::signIn);
    connect(m_startSession, &QPushButton::clicked, m_controller, &ClassroomController::startSession);
    connect(m_stopSession, &QPushButton::clicked, m_controller, &ClassroomController::stopSession);
    connect(m_startPoll, &QPushButton::clicked, this, [this] { m_controller->startPoll(m_pollKind->currentText()); });
    connect(m_pausePoll, &QPushButton::clicked, m_controller, &ClassroomController::pausePoll);
    connect(m_resumePoll, &QPushButton::clicked, m_controller, &ClassroomController::resumePoll);
    connect(m_stopPoll, &QPushButton::clicked, m_controller, &ClassroomController::stopPoll);
    connect(m_controller, &ClassroomController::errorOccurred, this, &ClassroomWindow::showError);
    for (auto signal : {&ClassroomController::stageChanged, &ClassroomController::learnersChanged,
                        &ClassroomController::pollChanged, &ClassroomController::connectionChanged})
        connect(m_controller, signal, this, &ClassroomWindow::refresh);
    connect(m_controller, &ClassroomController::busyChanged, this, [this](bool busy) {
        if (busy)
            m_error.clear();
        refresh();
        // A close asked for during the call: carried out once it returned,
        // from the event loop rather than from inside this signal.
        if (!busy && m_closePending && !m_shuttingDown)
            QTimer::singleShot(0, this, &QWidget::close);
    });
    resize(900, 620);
    refresh();
}

ClassroomWindow::~ClassroomWindow()
{
    if (m_cursorSet)
        QApplication::restoreOverrideCursor();
}

void ClassroomWindow::setSignIn(const QString &server, const QString &user, const QString &password)
{
    m_server->setText(server);
    m_user->setText(user);
    m_password->setText(password);
}

void ClassroomWindow::signIn()
{
    if (m_controller->busy())
        return;
    m_controller->signIn(m_server->text().trimmed(), m_user->text().trimmed(), m_password->text());
}

void ClassroomWindow::closeEvent(QCloseEvent *event)
{
    if (m_shuttingDown) {
        // Asked again while signing out below: that close finishes the job.
        event->ignore();
        return;
    }
    if (m_controller->busy()) {
        // The library's call is still on the stack: closing now would delete
        // the objects it returns into. Close as soon as it ends.
        m_closePending = true;
        event->ignore();
        refresh();
        return;
    }
    m_shuttingDown = true;
    refresh();
    m_controller->shutdown(); // stops a running session and signs out (blocking)
    m_shuttingDown = false;
    m_closePending = false;
    event->accept();
}

void ClassroomWindow::showError(const QString &message)
{
    m_error = QStringLiteral("<span style='color:#b00020'>%1</span>").arg(message.toHtmlEscaped());
    refresh();
}

void ClassroomWindow::refresh()
{
    using Stage = ClassroomController::Stage;
    using Poll = ClassroomController::PollState;
    const ClassroomController *c = m_controller;
    const bool busy = c->busy();
    const bool idle = !busy && !m_closePending && !m_shuttingDown;
    m_pages->setCurrentIndex(c->stage() == Stage::SignedOut ? 0 : 1);

    for (QWidget *w : {static_cast<QWidget *>(m_server), static_cast<QWidget *>(m_user),
                       static_cast<QWidget *>(m_password), static_cast<QWidget *>(m_signIn)})
        w->setEnabled(idle);
    m_signInBusy->setVisible(busy && c->stage() == Stage::SignedOut);
    m_busy->setVisible(busy && c->stage() != Stage::SignedOut);
    if (busy != m_cursorSet) {
        m_cursorSet = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    }
    QString status = m_error;
    if (busy)
        status = m_closePending ? QStringLiteral("Closing when this step ends: %1").arg(c->busyText()) : c->busyText();
    m_signInStatus->setText(c->stage() == Stage::SignedOut ? status : QString());
    m_status->setText(c->stage() == Stage::SignedOut ? QString() : status);

    const bool live = c->stage() == Stage::Live;
    m_code->setText(live ? c->sessionCode() : QStringLiteral("------"));
    m_startSession->setVisible(!live);
    m_startSession->setEnabled(idle && c->stage() == Stage::SignedIn);
    m_stopSession->setVisible(live);
    m_stopSession->setEnabled(idle && live);
    m_connection->setText(QStringLiteral("Connection: <b>%1</b>").arg(c->connectionText()));

    const auto learners = c->learners();
    m_learnerCount->setText(QStringLiteral("%1 joined").arg(learners.size()));
    QStringList names = learners.values();
    std::sort(names.begin(), names.end(), naturalLess);
    m_learners->clear();
    m_learners->addItems(names);

    const Poll poll = c->pollState();
    const bool running = poll == Poll::Running || poll == Poll::Paused;
    m_pollKind->setEnabled(idle && live && !running);
    m_startPoll->setEnabled(idle && live && !running);
    m_pausePoll->setEnabled(idle && poll == Poll::Running);
    m_resumePoll->setEnabled(idle && poll == Poll::Paused);
    m_stopPoll->setEnabled(idle && running);
    QString title;
    switch (poll) {
    case Poll::None: title = QStringLiteral("No poll yet"); break;
    case Poll::Running: title = QStringLiteral("Answers: %1 of %2").arg(c->answered()).arg(learners.size()); break;
    case Poll::Paused: title = QStringLiteral("Paused: %1 of %2 answered").arg(c->answered()).arg(learners.size()); break;
    case Poll::Stopped: title = QStringLiteral("Final: %1 answers").arg(c->answered()); break;
    }
    m_chart->setBars(poll == Poll::None ? QVector<QPair<QString, int>>() : c->bars(), title);
}
