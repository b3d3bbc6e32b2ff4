#include "assessment.h"

#include "assessmentoptions.h"
#include "assessmentprogressmodel.h"
#include "assessmentprogressmodel_p.h"
#include "followed_p.h"
#include "learnermodel.h"
#include "logging_p.h"
#include "presenterassessment.h"
#include "presentercollab.h"
#include "questionbase.h"

#include <QMetaProperty>
#include <QPointer>

namespace Veltro {

class AssessmentPrivate
{
public:
    explicit AssessmentPrivate(Assessment *q) : q(q) {}

    Assessment *q;
    Followed<PresenterCollab> collab;
    QPointer<LearnerModel> learners;
    AssessmentOptions *options = nullptr;
    AssessmentProgressModel *progress = nullptr;
    PresenterAssessment *run = nullptr;   // the current or last run's announcer
    QList<QuestionDescription> descriptions;
    QList<QuestionBase *> questions;      // the run's question objects, by number - 1
    QHash<QString, int> numberOfId;       // question id -> number
    Assessment::State state = Assessment::State::Idle;

    bool running() const { return state == Assessment::State::Running || state == Assessment::State::Paused; }
    AssessmentProgressModelPrivate *rows() const { return AssessmentProgressModelPrivate::get(progress); }
    Learner learnerOf(const QString &deviceId) const;
    void setState(Assessment::State s);
    void serve(const QString &deviceId, int number);
    void answered(const QString &deviceId, const QString &answerId, int seconds, const QStringList &ids);
    void joined(const Learner &learner);
    void announce(const QString &deviceId, int from);
};

Learner AssessmentPrivate::learnerOf(const QString &deviceId) const
{
    const int row = learners ? learners->rowOf(deviceId) : -1;
    return row >= 0 ? learners->learner(row) : Learner(deviceId, deviceId, QString());
}

void AssessmentPrivate::setState(Assessment::State s)
{
    if (state == s)
        return;
    state = s;
    Q_EMIT q->stateChanged();
}

// A device asks for question `number`: it is sent it, and its row says so.
void AssessmentPrivate::serve(const QString &deviceId, int number)
{
    if (!running())
        return;
    if (number < 1 || number > questions.size()) {
        qCDebug(lcCollab).noquote() << "[Assessment] No question" << number << "for" << deviceId;
        return;
    }
    LearnerProgress &p = rows()->recordOf(learnerOf(deviceId));
    p.question = number;
    p.sent.insert(number);
    rows()->touch(deviceId);
    run->sendQuestion(deviceId, questions.at(number - 1));
}

void AssessmentPrivate::answered(const QString &deviceId, const QString &answerId, int seconds,
                                 const QStringList &ids)
{
    const int number = numberOfId.value(answerId);
    LearnerProgress *p = number > 0 && running() ? rows()->find(deviceId) : nullptr;
    if (!p || !p->sent.contains(number))
        return; // another activity's answer, one after the end, or to a question the device was not sent
    p->right.insert(number, descriptions.at(number - 1).isRight(ids));
    p->seconds.insert(number, seconds);
    rows()->touch(deviceId);
}

// A device joined while the run goes on: a new one starts, a returning one continues.
void AssessmentPrivate::joined(const Learner &learner)
{
    if (!running())
        return;
    if (LearnerProgress *p = rows()->find(learner.userToken)) {
        p->learner = learner;
        rows()->touch(learner.userToken);
        const int from = p->question == 0 ? 1 : p->question + int(p->right.contains(p->question));
        if (from <= questions.size())
            announce(learner.userToken, from);
        return;
    }
    rows()->recordOf(learner);
    announce(learner.userToken, 1);
}

// The start for one device, from question `from` on.
void AssessmentPrivate::announce(const QString &deviceId, int from)
{
    if (from == 1) {
        run->start(deviceId, options);
        return;
    }
    AssessmentOptions rest;
    const QMetaObject *mo = options->metaObject();
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
        mo->property(i).write(&rest, mo->property(i).read(options));
    rest.setstartingQuestionNumber(from);
    rest.setquestionCount(questions.size() - from + 1);
    run->start(deviceId, &rest);
}

Assessment::Assessment(QObject *parent) : QObject(parent), d(new AssessmentPrivate(this))
{
    d->options = new AssessmentOptions(this);
    d->progress = new AssessmentProgressModel(this);
}

Assessment::~Assessment() = default;

Assessment::State Assessment::state() const { return d->state; }
int Assessment::questionCount() const { return d->descriptions.size(); }
QString Assessment::title() const { return d->options->gettitle(); }

void Assessment::setTitle(const QString &title)
{
    if (title == d->options->gettitle())
        return;
    d->options->settitle(title);
    Q_EMIT titleChanged();
}

AssessmentProgressModel *Assessment::progress() const { return d->progress; }
AssessmentOptions *Assessment::options() const { return d->options; }
QString Assessment::assessmentId() const { return d->run ? d->run->getAssessmentId() : QString(); }

bool Assessment::setQuestions(const QList<QuestionDescription> &questions)
{
    if (d->running())
        return false;
    for (int i = 0; i < questions.size(); ++i) {
        const QString problem = questions.at(i).problem();
        if (!problem.isEmpty()) {
            qCDebug(lcCollab).noquote() << "[Assessment] Question" << i + 1 << "not taken:" << problem;
            return false;
        }
    }
    d->descriptions = questions;
    Q_EMIT questionsChanged();
    return true;
}

bool Assessment::setQuestions(const QVariantList &questions)
{
    QList<QuestionDescription> list;
    for (const QVariant &v : questions)
        list << QuestionDescription::fromVariant(v);
    return setQuestions(list);
}

QuestionDescription Assessment::question(int number) const { return d->descriptions.value(number - 1); }

void Assessment::setCollab(PresenterCollab *collab)
{
    if (!d->collab.set(collab))
        return;
    if (d->running() && !collab)
        d->setState(State::Stopped); // the session is over: nothing can be served
    if (!collab)
        return;
    d->collab << connect(collab, &PresenterCollab::learnerAnswer, this,
                         [this](const QString &deviceId, const QString &answerId, int seconds, const QString &,
                                const QStringList &ids) { d->answered(deviceId, answerId, seconds, ids); });
    d->collab << connect(collab, &PresenterCollab::learnerJoin, this, [this](const Learner &l) { d->joined(l); });
}

PresenterCollab *Assessment::collab() const { return d->collab; }
void Assessment::setLearnerModel(LearnerModel *learners) { d->learners = learners; }

bool Assessment::start()
{
    if (!d->collab || d->descriptions.isEmpty() || d->running())
        return false;
    delete d->run;
    d->run = new PresenterAssessment(this, d->collab);
    connect(d->run, &PresenterAssessment::learnerGetQuestion, this,
            [this](const QString &id, int number) { d->serve(id, number); });
    qDeleteAll(d->questions);
    d->questions.clear();
    d->numberOfId.clear();
    for (const QuestionDescription &description : qAsConst(d->descriptions)) {
        QuestionBase *q = description.createQuestion(this);
        q->setquestionNumber(d->questions.size() + 1);
        d->questions << q;
        d->numberOfId.insert(q->getID(), d->questions.size());
    }
    d->options->setassessmentToken(d->run->getAssessmentId());
    d->options->setquestionCount(d->questions.size());
    d->options->setstartingQuestionNumber(1);
    d->rows()->reset();
    if (d->learners) {
        for (const Learner &l : d->learners->learners())
            d->rows()->recordOf(l);
    }
    d->setState(State::Running);
    d->run->start(d->options);
    return true;
}

void Assessment::pause()
{
    if (d->state != State::Running)
        return;
    d->run->pause();
    d->setState(State::Paused);
}

void Assessment::resume()
{
    if (d->state != State::Paused)
        return;
    d->run->resume();
    d->setState(State::Running);
}

bool Assessment::sendReview(const QString &text)
{
    if (!d->collab || !d->run)
        return false;
    d->run->sendMessage(text, false, true);
    return true;
}

void Assessment::stop()
{
    if (!d->running())
        return;
    d->run->stop();
    d->setState(State::Stopped);
}

} // namespace Veltro
