#include "lesson.h"

#include "assessment.h"
#include "assessmentprogressmodel.h"
#include "learnermodel.h"
#include "polltallymodel.h"
#include "remotecommand.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>

using Veltro::Classroom;
using Veltro::QuestionDescription;

namespace {

// A standard folder that exists, else the home folder.
QString folder(QStandardPaths::StandardLocation location)
{
    const QString dir = QStandardPaths::writableLocation(location);
    return !dir.isEmpty() && QDir(dir).exists() ? dir : QDir::homePath();
}

} // namespace

Lesson::Lesson(QObject *parent) : QObject(parent) {}

void Lesson::setClassroom(Classroom *classroom)
{
    if (classroom == m_room)
        return;
    if (m_room)
        m_room->disconnect(this);
    m_room = classroom;
    if (classroom) {
        classroom->setLessonId(QStringLiteral("cells-1"));
        classroom->setLessonName(tr("Cells"));
        classroom->setCardNames({tr("Welcome"), tr("What a cell is"), tr("The cell wall"), tr("Quiz")});
        classroom->setCurrentCard(1);
        // The phone's next and previous move the lesson on; the classroom tells its controllers.
        connect(classroom, &Classroom::remoteCommand, this, [this](const Veltro::RemoteCommand &command) {
            const int card = m_room->currentCard();
            if (command.type == Veltro::RemoteCommand::NextCard)
                m_room->setCurrentCard(qMin(card + 1, m_room->totalCards()));
            else if (command.type == Veltro::RemoteCommand::PreviousCard)
                m_room->setCurrentCard(qMax(card - 1, 1));
        });
        connect(classroom, &Classroom::lessonChanged, this, &Lesson::changed);
        connect(classroom, &Classroom::remotePresentChanged, this, &Lesson::changed);
    }
    Q_EMIT classroomChanged();
    Q_EMIT changed();
}

QString Lesson::cardText() const
{
    const int card = m_room ? m_room->currentCard() : 0;
    if (card < 1)
        return tr("No card");
    const QLocale locale;
    const QString number = locale.toString(card), total = locale.toString(m_room->totalCards());
    const QString name = m_room->cardNames().value(card - 1);
    return name.isEmpty() ? tr("Card %1 of %2").arg(number, total) : tr("Card %1 of %2: %3").arg(number, total, name);
}

QString Lesson::remoteText() const
{
    return m_room && m_room->isRemotePresent() ? tr("Remote connected") : tr("No remote");
}

QList<QuestionDescription> Lesson::questions()
{
    return {{QStringLiteral("multiple"), tr("Which of these is part of a plant cell?"),
             {tr("Cell wall"), tr("Wheel"), tr("Feather")}, {0}},
            {QStringLiteral("true-false"), tr("Animal cells have a cell wall."), {}, {1}},
            {QStringLiteral("multiple"), tr("Where does a cell keep its DNA?"),
             {tr("In the membrane"), tr("In the nucleus"), tr("In the cell wall")}, {1}}};
}

QString Lesson::defaultResultsPath()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"));
    return QDir(folder(QStandardPaths::DocumentsLocation)).filePath(tr("lesson-results-%1.csv").arg(stamp));
}

QString Lesson::imageFolder()
{
    return folder(QStandardPaths::PicturesLocation) + QLatin1Char('/');
}

QString Lesson::rightText(int correct, int answered)
{
    return tr("%1 of %2 right").arg(QLocale().toString(correct), QLocale().toString(answered));
}

QString Lesson::results() const
{
    if (!m_room)
        return QString();
    const QString line = QStringLiteral("\r\n");
    return tr("Poll") + line + m_room->tally()->toCsv() + line + tr("Learners") + line + m_room->learners()->toCsv()
        + line + tr("Assessment") + line + m_room->assessment()->progress()->toCsv();
}

bool Lesson::startAssessment()
{
    Veltro::Assessment *assessment = m_room ? m_room->assessment() : nullptr;
    if (!assessment)
        return false;
    assessment->setTitle(tr("Cells"));
    return assessment->setQuestions(questions()) && assessment->start();
}

bool Lesson::showImage(const QString &path)
{
    const QString file = path.trimmed();
    const bool shown = m_room && !file.isEmpty() && m_room->showImageCard(file);
    setNote(shown ? tr("Image card shown: %1").arg(QDir::toNativeSeparators(file))
                  : tr("%1 was not shown: it cannot be read, is larger than 32 MiB, or the class is not live.")
                        .arg(QDir::toNativeSeparators(file)),
            !shown);
    return shown;
}

bool Lesson::saveResults(const QString &path)
{
    const QString failure = writeTextFile(path.trimmed(), results());
    setNote(failure.isEmpty() ? tr("Results saved in %1").arg(QDir::toNativeSeparators(path.trimmed())) : failure,
            !failure.isEmpty());
    return failure.isEmpty();
}

void Lesson::setNote(const QString &note, bool failed)
{
    m_note = note;
    m_failed = failed;
    Q_EMIT changed();
}

QString writeTextFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    if (!path.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return QString();
    return Lesson::tr("The results could not be saved in %1: %2.")
        .arg(QDir::toNativeSeparators(path), path.isEmpty() ? Lesson::tr("no file was named") : file.errorString());
}
