#include "classroomwindow.h"

#include "barchart.h"
#include "classroom.h"
#include "keptsignin.h"
#include "language.h"
#include "learnermodel.h"
#include "lesson.h"
#include "polltallymodel.h"
#include "presenterclient.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

using Veltro::Classroom;

namespace {

QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

template <class T> T *named(T *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

// An indeterminate bar, shown while a call is pending.
QProgressBar *busyBar(const char *name, QWidget *parent)
{
    auto *bar = named(new QProgressBar(parent), name);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumHeight(10);
    bar->setVisible(false);
    return bar;
}

// A learner as a tile: the name, filled in once they answered the current poll.
class LearnerTile : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool answered = index.data(Veltro::LearnerModel::AnsweredRole).toBool();
        const QRect tile = option.rect.adjusted(2, 2, -2, -2);
        const QPalette &pal = option.palette;
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(answered ? Qt::NoPen : QPen(pal.mid().color()));
        p->setBrush(answered ? pal.highlight() : pal.button());
        p->drawRoundedRect(tile, 6, 6);
        p->setPen(answered ? pal.highlightedText().color() : pal.buttonText().color());
        const QString name = index.data(Veltro::LearnerModel::NameRole).toString();
        p->drawText(tile, Qt::AlignCenter, option.fontMetrics.elidedText(name, Qt::ElideRight, tile.width() - 8));
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return {100, 32}; }
};

// A learner's row of the assessment: the name, a cell per question (filled
// once answered, outlined while the learner is on it) and the right answers.
class ProgressRow : public QStyledItemDelegate
{
public:
    ProgressRow(const Veltro::Assessment *assessment, QObject *parent)
        : QStyledItemDelegate(parent), m_assessment(assessment)
    {
    }

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        using Model = Veltro::AssessmentProgressModel;
        const int answered = index.data(Model::AnsweredRole).toInt();
        const int on = index.data(Model::QuestionRole).toInt();
        const QPalette &pal = option.palette;
        const QRect row = option.rect.adjusted(4, 2, -4, -2);
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(pal.text().color());
        const QRect name(row.left(), row.top(), row.width() * 2 / 5, row.height());
        const QString learner = index.data(Model::LearnerRole).toString();
        p->drawText(name, Qt::AlignVCenter | Qt::AlignLeft,
                    option.fontMetrics.elidedText(learner, Qt::ElideRight, name.width()));
        int x = name.right() + 6;
        for (int q = 1; q <= m_assessment->questionCount(); ++q, x += row.height() + 4) {
            p->setPen(q <= answered || q == on ? QPen(pal.highlight().color(), 2) : QPen(pal.mid().color()));
            p->setBrush(q <= answered ? pal.highlight() : pal.base());
            p->drawRoundedRect(QRect(x, row.top() + 2, row.height() - 4, row.height() - 4), 3, 3);
        }
        p->setPen(pal.text().color());
        p->drawText(QRect(x + 4, row.top(), row.right() - x - 4, row.height()), Qt::AlignVCenter | Qt::AlignLeft,
                    Lesson::rightText(index.data(Model::CorrectRole).toInt(), answered));
        p->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return {300, 26}; }

private:
    const Veltro::Assessment *m_assessment;
};

QString connectionText(Veltro::ConnectionState state, int roundTripMs)
{
    switch (state) {
    case Veltro::ConnectionState::Connecting: return ClassroomWindow::tr("Connecting");
    case Veltro::ConnectionState::Connected:
        return roundTripMs < 0 ? ClassroomWindow::tr("Connected")
                               : ClassroomWindow::tr("Connected, round trip %L1 ms").arg(roundTripMs);
    case Veltro::ConnectionState::Reconnecting: return ClassroomWindow::tr("Reconnecting");
    case Veltro::ConnectionState::Closing: return ClassroomWindow::tr("Closing");
    case Veltro::ConnectionState::Closed: break;
    }
    return ClassroomWindow::tr("Not connected");
}

} // namespace

ClassroomWindow::ClassroomWindow(QWidget *parent)
    : QWidget(parent), m_classroom(new Classroom(this)), m_kept(new KeptSignIn(this)), m_lesson(new Lesson(this))
{
    m_kept->setClassroom(m_classroom);
    m_lesson->setClassroom(m_classroom);
    setWindowTitle(tr("Veltro Classroom"));
    m_classroom->setHostAppVersion(QCoreApplication::applicationName()); // the program, as the service sees it
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildSignInPage());
    m_pages->addWidget(buildClassPage());
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_pages);
    connectClassroom();
    resize(1240, 660);
    refresh();
}

QWidget *ClassroomWindow::buildSignInPage()
{
    auto *page = new QWidget(m_pages);
    m_server = named(new QLineEdit(page), "server");
    m_user = named(new QLineEdit(page), "user");
    m_password = named(new QLineEdit(page), "password");
    m_password->setEchoMode(QLineEdit::Password);
    auto *form = new QFormLayout;
    form->addRow(tr("Server"), m_server);
    form->addRow(tr("User"), m_user);
    form->addRow(tr("Password"), m_password);
    m_stay = named(new QCheckBox(tr("Stay signed in"), page), "staySignedIn");
    m_stay->setToolTip(tr("Keeps a sign-in for this computer in the system keyring, never the password; "
                          "Sign out forgets it."));
    form->addRow(QString(), m_stay);
    m_keptReason = named(new QLabel(page), "keptReason");
    m_signIn = button(tr("Sign in"), "signIn", page);
    m_signIn->setDefault(true);
    m_signInBusy = busyBar("signInBusy", page);
    m_signInStatus = named(new QLabel(page), "signInStatus");
    m_signInStatus->setWordWrap(true);

    auto *box = new QWidget(page);
    box->setFixedWidth(460);
    auto *column = new QVBoxLayout(box);
    column->addWidget(new QLabel(tr("<h2>Veltro Classroom</h2>Sign in to start a live class."), box));
    m_form = new QWidget(box);
    auto *fields = new QVBoxLayout(m_form);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->addLayout(form);
    fields->addWidget(m_keptReason);
    fields->addWidget(m_signIn, 0, Qt::AlignRight);
    column->addWidget(m_form);
    column->addWidget(m_signInBusy);
    column->addWidget(m_signInStatus);
    auto *centred = new QVBoxLayout(page);
    centred->addWidget(box, 0, Qt::AlignCenter);

    connect(m_signIn, &QPushButton::clicked, this, &ClassroomWindow::signIn);
    connect(m_password, &QLineEdit::returnPressed, this, &ClassroomWindow::signIn);
    return page;
}

QWidget *ClassroomWindow::buildClassPage()
{
    auto *page = new QWidget(m_pages);
    auto *middle = new QHBoxLayout;
    middle->addWidget(buildLearnerArea(page), 1);
    middle->addWidget(buildPollArea(page), 1);
    middle->addWidget(buildLessonArea(page), 1);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(buildSessionArea(page));
    layout->addLayout(middle, 1);
    layout->addLayout(buildStatusArea(page));
    return page;
}

// The session code large for the class to type, the connection, start and stop.
QBoxLayout *ClassroomWindow::buildSessionArea(QWidget *page)
{
    m_code = named(new QLabel(page), "sessionCode");
    m_code->setAlignment(Qt::AlignCenter);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = m_code->font();
    big.setPointSize(44);
    big.setBold(true);
    big.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    m_code->setFont(big);
    auto *hint = new QLabel(tr("Session code: type it on your device to join"), page);
    hint->setAlignment(Qt::AlignCenter);
    m_connection = named(new QLabel(page), "connection");
    m_startSession = button(tr("Start session"), "startSession", page);
    m_stopSession = button(tr("Stop session"), "stopSession", page);
    m_signOut = button(tr("Sign out"), "signOut", page);
    auto *row = new QHBoxLayout;
    row->addWidget(m_connection, 1);
    row->addWidget(m_startSession);
    row->addWidget(m_stopSession);
    row->addWidget(m_signOut);
    auto *area = new QVBoxLayout;
    area->addWidget(m_code);
    area->addWidget(hint);
    area->addLayout(row);

    connect(m_startSession, &QPushButton::clicked, m_classroom, &Classroom::startSession);
    connect(m_stopSession, &QPushButton::clicked, m_classroom, &Classroom::stopSession);
    connect(m_signOut, &QPushButton::clicked, m_kept, &KeptSignIn::signOut);
    return area;
}

// The learners as tiles, straight from the classroom's learner model.
QWidget *ClassroomWindow::buildLearnerArea(QWidget *page)
{
    auto *box = new QGroupBox(tr("Learners"), page);
    m_learnerCount = named(new QLabel(box), "learnerCount");
    m_learners = named(new QListView(box), "learners");
    m_learners->setViewMode(QListView::IconMode);
    m_learners->setMovement(QListView::Static);
    m_learners->setResizeMode(QListView::Adjust);
    m_learners->setUniformItemSizes(true);
    m_learners->setGridSize(QSize(106, 38));
    m_learners->setSelectionMode(QAbstractItemView::NoSelection);
    m_learners->setItemDelegate(new LearnerTile(m_learners));
    m_learners->setModel(m_classroom->learners());
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(m_learnerCount);
    layout->addWidget(m_learners);
    return box;
}

// The poll kinds the classroom offers, its buttons, and the tally's bars.
QWidget *ClassroomWindow::buildPollArea(QWidget *page)
{
    auto *box = new QGroupBox(tr("Poll"), page);
    m_pollKind = named(new QComboBox(box), "pollKind");
    for (const QString &name : m_classroom->pollKinds())
        m_pollKind->addItem(pollKindText(name), name);
    m_startPoll = button(tr("Start"), "startPoll", box);
    m_pausePoll = button(tr("Pause"), "pausePoll", box);
    m_resumePoll = button(tr("Resume"), "resumePoll", box);
    m_stopPoll = button(tr("Stop"), "stopPoll", box);
    auto *row = new QHBoxLayout;
    row->addWidget(m_pollKind, 1);
    for (QPushButton *b : {m_startPoll, m_pausePoll, m_resumePoll, m_stopPoll})
        row->addWidget(b);
    m_chart = named(new BarChart(box), "chart");
    m_chart->setModel(m_classroom->tally(), Veltro::PollTallyModel::LabelRole, Veltro::PollTallyModel::CountRole,
                     Veltro::PollTallyModel::ShareRole);
    auto *layout = new QVBoxLayout(box);
    layout->addLayout(row);
    layout->addWidget(m_chart, 1);

    connect(m_startPoll, &QPushButton::clicked, this, &ClassroomWindow::startPoll);
    connect(m_pausePoll, &QPushButton::clicked, m_classroom, &Classroom::pausePoll);
    connect(m_resumePoll, &QPushButton::clicked, m_classroom, &Classroom::resumePoll);
    connect(m_stopPoll, &QPushButton::clicked, m_classroom, &Classroom::stopPoll);
    return box;
}

// The lesson: the remote, the card it moves through, an image card, the
// assessment's progress grid and the results kept in a file.
QWidget *ClassroomWindow::buildLessonArea(QWidget *page)
{
    auto *box = new QGroupBox(tr("Lesson"), page);
    m_remote = named(new QLabel(box), "remote");
    m_card = named(new QLabel(box), "card");
    m_imageCard = button(tr("Image card..."), "imageCard", box);
    m_startAssessment = button(tr("Start assessment"), "startAssessment", box);
    m_stopAssessment = button(tr("Stop assessment"), "stopAssessment", box);
    m_progress = named(new QListView(box), "progress");
    m_progress->setSelectionMode(QAbstractItemView::NoSelection);
    m_progress->setUniformItemSizes(true);
    m_progress->setItemDelegate(new ProgressRow(m_classroom->assessment(), m_progress));
    m_progress->setModel(m_classroom->assessment()->progress());
    m_saveResults = button(tr("Save results..."), "saveResults", box);
    m_lessonNote = named(new QLabel(box), "lessonNote");
    m_lessonNote->setWordWrap(true);
    auto *cardRow = new QHBoxLayout;
    cardRow->addWidget(m_card, 1);
    cardRow->addWidget(m_imageCard);
    auto *assessmentRow = new QHBoxLayout;
    assessmentRow->addWidget(m_startAssessment);
    assessmentRow->addWidget(m_stopAssessment);
    assessmentRow->addStretch(1);
    assessmentRow->addWidget(m_saveResults);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(m_remote);
    layout->addLayout(cardRow);
    layout->addLayout(assessmentRow);
    layout->addWidget(m_progress, 1);
    layout->addWidget(m_lessonNote);

    connect(m_imageCard, &QPushButton::clicked, this, [this] {
        chooseFile(tr("Image card"), Lesson::imageFolder(), false,
                   [this](const QString &file) { m_lesson->showImage(file); });
    });
    connect(m_saveResults, &QPushButton::clicked, this, [this] {
        chooseFile(tr("Save results"), Lesson::defaultResultsPath(), true,
                   [this](const QString &file) { m_lesson->saveResults(file); });
    });
    connect(m_startAssessment, &QPushButton::clicked, m_lesson, &Lesson::startAssessment);
    connect(m_stopAssessment, &QPushButton::clicked, m_classroom->assessment(), &Veltro::Assessment::stop);
    return box;
}

// Asks for a file without waiting in it: the dialog is window-modal and
// answers through fileSelected, so the class runs on meanwhile.
void ClassroomWindow::chooseFile(const QString &title, const QString &start, bool save,
                                 const std::function<void(const QString &)> &chosen)
{
    auto *dialog = new QFileDialog(this, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilter(save ? tr("CSV files (*.csv)") : tr("Images (*.png *.jpg *.jpeg *.gif *.svg *.webp)"));
    const QFileInfo info(start);
    dialog->setDirectory(info.path());
    if (save) {
        dialog->setDefaultSuffix(QStringLiteral("csv"));
        dialog->selectFile(info.fileName());
    }
    connect(dialog, &QFileDialog::fileSelected, this, chosen);
    dialog->open();
}

// What is pending, and the last failure.
QBoxLayout *ClassroomWindow::buildStatusArea(QWidget *page)
{
    m_busy = busyBar("busy", page);
    m_status = named(new QLabel(page), "status");
    m_status->setWordWrap(true);
    auto *area = new QVBoxLayout;
    area->addWidget(m_busy);
    area->addWidget(m_status);
    return area;
}

// Everything the window shows is a property of the classroom object or of
// its models: one refresh on any change.
void ClassroomWindow::connectClassroom()
{
    Classroom *c = m_classroom;
    for (auto signal : {&Classroom::signedInChanged, &Classroom::sessionCodeChanged, &Classroom::liveChanged,
                        &Classroom::connectionStateChanged, &Classroom::roundTripMsChanged, &Classroom::busyChanged,
                        &Classroom::errorChanged, &Classroom::pollStateChanged})
        connect(c, signal, this, &ClassroomWindow::refresh);
    connect(c->learners(), &Veltro::LearnerModel::countChanged, this, &ClassroomWindow::refresh);
    for (auto signal : {&Veltro::PollTallyModel::answeredChanged, &Veltro::PollTallyModel::presentChanged})
        connect(c->tally(), signal, this, &ClassroomWindow::refresh);
    connect(m_kept, &KeptSignIn::changed, this, &ClassroomWindow::refresh);
    connect(m_lesson, &Lesson::changed, this, &ClassroomWindow::refresh);
    connect(c->assessment(), &Veltro::Assessment::stateChanged, this, &ClassroomWindow::refresh);
}

void ClassroomWindow::setSignIn(const QString &server, const QString &user, const QString &password)
{
    m_server->setText(server);
    m_user->setText(user);
    m_password->setText(password);
}

void ClassroomWindow::resumeSignIn()
{
    m_kept->start(m_server->text().trimmed(), m_user->text().trimmed());
}

void ClassroomWindow::signIn()
{
    if (m_classroom->isBusy() || m_classroom->isSignedIn() || m_kept->isResuming())
        return;
    m_kept->signIn(m_server->text().trimmed(), m_user->text().trimmed(), m_password->text(), m_stay->isChecked());
}

void ClassroomWindow::startPoll()
{
    m_classroom->startPoll(m_pollKind->currentData().toString());
}

void ClassroomWindow::closeEvent(QCloseEvent *event)
{
    // Nothing is waited for: a pending call (a sign-in, say) is cancelled, and
    // a live session is stopped by the library as its client goes, without an
    // event loop.
    m_classroom->cancel();
    event->accept();
}

void ClassroomWindow::refresh()
{
    const Classroom *c = m_classroom;
    const bool busy = c->isBusy();
    const bool signedIn = c->isSignedIn();
    const bool live = c->isLive();
    m_pages->setCurrentIndex(signedIn ? 1 : 0);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();

    const bool resuming = m_kept->isResuming();
    for (QWidget *w : std::initializer_list<QWidget *>{m_server, m_user, m_password, m_stay, m_signIn})
        w->setEnabled(!busy);
    m_form->setVisible(!resuming);
    m_stay->setVisible(m_kept->isOffered());
    m_keptReason->setText(m_kept->reason());
    m_keptReason->setVisible(!m_kept->isOffered() && !m_kept->reason().isEmpty());
    m_signInBusy->setVisible((busy || resuming) && !signedIn);
    m_busy->setVisible(busy && signedIn);
    // The last failure until the next call starts, in words a teacher can act on
    // (the library's); what became of a kept sign-in says more than that.
    const QString failure = !m_kept->note().isEmpty() ? m_kept->note()
        : c->error() == Veltro::Error::None ? QString() : c->errorString();
    const QString status = failure.isEmpty()
        ? QString()
        : QStringLiteral("<span style='color:#b00020'>%1</span>").arg(failure.toHtmlEscaped());
    m_signInStatus->setText(signedIn ? QString()
                            : resuming ? tr("Signing in as %1...").arg(m_user->text().trimmed())
                            : busy ? tr("Signing in...") : status);
    m_status->setText(signedIn ? status : QString());

    m_code->setText(live ? c->sessionCode() : QStringLiteral("------"));
    m_startSession->setVisible(!live);
    m_startSession->setEnabled(!busy && signedIn);
    m_stopSession->setVisible(live);
    m_stopSession->setEnabled(!busy);
    m_signOut->setEnabled(!busy);
    m_connection->setText(tr("Connection: <b>%1</b>")
                              .arg(connectionText(c->connectionState(), c->roundTripMs())));
    const int present = c->learners()->count();
    m_learnerCount->setText(tr("%L1 joined").arg(present));

    using Poll = Classroom::PollState;
    const Veltro::PollTallyModel *tally = c->tally();
    const Poll poll = c->pollState();
    const bool running = poll == Poll::Running || poll == Poll::Paused;
    m_pollKind->setEnabled(live && !running);
    m_startPoll->setEnabled(live && !running);
    m_pausePoll->setEnabled(poll == Poll::Running);
    m_resumePoll->setEnabled(poll == Poll::Paused);
    m_stopPoll->setEnabled(running);
    const int answered = tally->answered();
    switch (poll) {
    case Poll::NoPoll: m_chart->setTitle(tr("No poll yet")); break;
    case Poll::Running: m_chart->setTitle(tr("Answers: %L1 of %L2").arg(answered).arg(present)); break;
    case Poll::Paused: m_chart->setTitle(tr("Paused: %L1 of %L2 answered").arg(answered).arg(present)); break;
    case Poll::Stopped: m_chart->setTitle(tr("Final: %L1 answers").arg(answered)); break;
    }

    using Run = Veltro::Assessment::State;
    const Run run = c->assessment()->state();
    const bool assessing = run == Run::Running || run == Run::Paused;
    m_remote->setText(QStringLiteral("<b style='color:%1'>&#9679;</b> %2")
                          .arg(QLatin1String(c->isRemotePresent() ? "#2e7d32" : "#9e9e9e"),
                               m_lesson->remoteText().toHtmlEscaped()));
    m_card->setText(m_lesson->cardText());
    m_imageCard->setEnabled(live);
    m_startAssessment->setEnabled(live && !assessing);
    m_stopAssessment->setEnabled(assessing);
    const QString note = m_lesson->note().toHtmlEscaped();
    m_lessonNote->setText(m_lesson->hasFailed() ? QStringLiteral("<span style='color:#b00020'>%1</span>").arg(note)
                                                : note);
}
