#include "classroom.h"

#include "pollkinds.h"
#include "presenterclient.h"
#include "presentercollab.h"

#include <QPointer>

namespace Veltro {

class ClassroomPrivate
{
public:
    PresenterClient *client = nullptr;
    LearnerModel *learners = nullptr;
    PollTallyModel *tally = nullptr;
    QPointer<PresenterCollab> collab;
    QString serverUrl;
    QString hostAppVersion = QStringLiteral("3.0.0");
    bool resend = true;
};

Classroom::Classroom(QObject *parent) : Classroom(QString(), parent) {}
Classroom::Classroom(const QString &serverUrl, QObject *parent) : QObject(parent), d(new ClassroomPrivate)
{
    d->serverUrl = serverUrl;
    d->client = new PresenterClient(this, serverUrl);
    d->learners = new LearnerModel(this);
    d->tally = new PollTallyModel(this);
}
Classroom::~Classroom() = default;
QString Classroom::serverUrl() const { return d->serverUrl; }
void Classroom::setServerUrl(const QString &url) { d->serverUrl = url; }
QString Classroom::hostAppVersion() const { return d->hostAppVersion; }
void Classroom::setHostAppVersion(const QString &version) { d->hostAppVersion = version; }
bool Classroom::isSignedIn() const { return false; }
QString Classroom::userName() const { return {}; }
QString Classroom::sessionCode() const { return {}; }
bool Classroom::isLive() const { return false; }
ConnectionState Classroom::connectionState() const { return ConnectionState::Closed; }
int Classroom::roundTripMs() const { return -1; }
bool Classroom::isBusy() const { return false; }
Error Classroom::error() const { return Error::None; }
QString Classroom::errorString() const { return {}; }
Classroom::PollState Classroom::pollState() const { return PollState::NoPoll; }
QString Classroom::pollKind() const { return {}; }
bool Classroom::resendPollToLateJoiners() const { return d->resend; }
void Classroom::setResendPollToLateJoiners(bool on) { d->resend = on; }
LearnerModel *Classroom::learners() const { return d->learners; }
PollTallyModel *Classroom::tally() const { return d->tally; }
QStringList Classroom::pollKinds() const { return pollKindNames(); }
PresenterClient *Classroom::client() const { return d->client; }
PresenterCollab *Classroom::collab() const { return d->collab; }
void Classroom::signIn(const QString &, const QString &) {}
void Classroom::startSession() {}
bool Classroom::startPoll(const QString &, int) { return false; }
void Classroom::pausePoll() {}
void Classroom::resumePoll() {}
void Classroom::stopPoll() {}
void Classroom::stopSession() {}
void Classroom::signOut() {}
void Classroom::cancel() {}

} // namespace Veltro
