#include "classroomwindow.h"

#include "barchart.h"
#include "classroom.h"
#include "keptsignin.h"
#include "learnermodel.h"
#include "pollkinds.h"
#include "polltallymodel.h"
#include "presenterclient.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QComboBox>
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

QString connectionText(Veltro::ConnectionState state, int roundTripMs)
{
    switch (state) {
    case Veltro::ConnectionState::Connecting: return QStringLiteral("Connecting");
    case Veltro::ConnectionState::Connected:
        return roundTripMs < 0 ? QStringLiteral("Connected")
                               : QStringLiteral("Connected, round trip %1 ms").arg(roundTripMs);
    case Veltro::ConnectionState::Reconnecting: return QStringLiteral("Reconnecting");
    case Veltro::ConnectionState::Closing: return QStringLiteral("Closing");
    case Veltro::ConnectionState::Closed: break;
    }
    return QStringLiteral("Not connected");
}

} // namespace

ClassroomWindow::ClassroomWindow(QWidget *parent)
    : QWidget(parent), m_classroom(new Classroom(this)), m_kept(new KeptSignIn(this))
{
    m_kept->setClassroom(m_classroom);
    setWindowTitle(QStringLiteral("Veltro Classroom"));
    m_classroom->setHostAppVersion(QCoreApplication::applicationName()); // the program, as the service sees it
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildSignInPage());
    m_pages->addWidget(buildClassPage());
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_pages);
    connectClassroom();
    resize(900, 620);
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
    form->addRow(QStringLiteral("Server"), m_server);
    form->addRow(QStringLiteral("User"), m_user);
    form->addRow(QStringLiteral("Password"), m_password);
    m_stay = named(new QCheckBox(tr("Stay signed in"), page), "staySignedIn");
    m_stay->setToolTip(tr("Keeps a sign-in for this computer in the system keyring, never the password; "
                          "Sign out forgets it."));
    form->addRow(QString(), m_stay);
    m_keptReason = named(new QLabel(page), "keptReason");
    m_signIn = button(QStringLiteral("Sign in"), "signIn", page);
    m_signIn->setDefault(true);
    m_signInBusy = busyBar("signInBusy", page);
    m_signInStatus = named(new QLabel(page), "signInStatus");
    m_signInStatus->setWordWrap(true);

    auto *box = new QWidget(page);
    box->setFixedWidth(460);
    auto *column = new QVBoxLayout(box);
    column->addWidget(new QLabel(QStringLiteral("<h2>Veltro Classroom</h2>Sign in to start a live class."), box));
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
    auto *hint = new QLabel(QStringLiteral("Session code: type it on your device to join"), page);
    hint->setAlignment(Qt::AlignCenter);
    m_connection = named(new QLabel(page), "connection");
    m_startSession = button(QStringLiteral("Start session"), "startSession", page);
    m_stopSession = button(QStringLiteral("Stop session"), "stopSession", page);
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
    auto *box = new QGroupBox(QStringLiteral("Learners"), page);
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
    auto *box = new QGroupBox(QStringLiteral("Poll"), page);
    m_pollKind = named(new QComboBox(box), "pollKind");
    for (const QString &name : m_classroom->pollKinds()) {
        const Veltro::PollKind *kind = Veltro::pollKindByName(name);
        m_pollKind->addItem(kind ? QString::fromUtf8(kind->label) : name, name);
    }
    m_startPoll = button(QStringLiteral("Start"), "startPoll", box);
    m_pausePoll = button(QStringLiteral("Pause"), "pausePoll", box);
    m_resumePoll = button(QStringLiteral("Resume"), "resumePoll", box);
    m_stopPoll = button(QStringLiteral("Stop"), "stopPoll", box);
    auto *row = new QHBoxLayout;
    row->addWidget(m_pollKind, 1);
    for (QPushButton *b : {m_startPoll, m_pausePoll, m_resumePoll, m_stopPoll})
        row->addWidget(b);
    m_chart = named(new BarChart(box), "chart");
    m_chart->setModel(m_classroom->tally(), Veltro::PollTallyModel::LabelRole, Veltro::PollTallyModel::CountRole);
    auto *layout = new QVBoxLayout(box);
    layout->addLayout(row);
    layout->addWidget(m_chart, 1);

    connect(m_startPoll, &QPushButton::clicked, this, &ClassroomWindow::startPoll);
    connect(m_pausePoll, &QPushButton::clicked, m_classroom, &Classroom::pausePoll);
    connect(m_resumePoll, &QPushButton::clicked, m_classroom, &Classroom::resumePoll);
    connect(m_stopPoll, &QPushButton::clicked, m_classroom, &Classroom::stopPoll);
    return box;
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
                            : busy ? QStringLiteral("Signing in...") : status);
    m_status->setText(signedIn ? status : QString());

    m_code->setText(live ? c->sessionCode() : QStringLiteral("------"));
    m_startSession->setVisible(!live);
    m_startSession->setEnabled(!busy && signedIn);
    m_stopSession->setVisible(live);
    m_stopSession->setEnabled(!busy);
    m_signOut->setEnabled(!busy);
    m_connection->setText(QStringLiteral("Connection: <b>%1</b>")
                              .arg(connectionText(c->connectionState(), c->roundTripMs())));
    const int present = c->learners()->count();
    m_learnerCount->setText(QStringLiteral("%1 joined").arg(present));

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
    case Poll::NoPoll: m_chart->setTitle(QStringLiteral("No poll yet")); break;
    case Poll::Running: m_chart->setTitle(QStringLiteral("Answers: %1 of %2").arg(answered).arg(present)); break;
    case Poll::Paused: m_chart->setTitle(QStringLiteral("Paused: %1 of %2 answered").arg(answered).arg(present)); break;
    case Poll::Stopped: m_chart->setTitle(QStringLiteral("Final: %1 answers").arg(answered)); break;
    }
}
