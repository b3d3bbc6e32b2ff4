// The lesson both windows run on the library's classroom object, written once:
// a few named cards that the teacher's remote moves through, an image card,
// a three-question assessment, and the results (the tally, the learners and
// the assessment's progress as CSV) kept in a file the teacher chooses. The
// windows only show its texts and ask the teacher for files.
#pragma once

#include "classroom.h"
#include "questiondescription.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class Lesson : public QObject
{
    Q_OBJECT
    /// The classroom it runs on; setting it gives the classroom the lesson's cards.
    Q_PROPERTY(Veltro::Classroom *classroom READ classroom WRITE setClassroom NOTIFY classroomChanged)
    /// The current card as the teacher reads it ("Card 2 of 4: Cell wall").
    Q_PROPERTY(QString cardText READ cardText NOTIFY changed)
    /// Whether a remote is there, in words.
    Q_PROPERTY(QString remoteText READ remoteText NOTIFY changed)
    /// What became of the last image card or save, in words; empty before one.
    Q_PROPERTY(QString note READ note NOTIFY changed)
    /// Whether the last image card or save failed (note says why).
    Q_PROPERTY(bool failed READ hasFailed NOTIFY changed)

public:
    explicit Lesson(QObject *parent = nullptr);

    Veltro::Classroom *classroom() const { return m_room; }
    void setClassroom(Veltro::Classroom *classroom);
    QString cardText() const;
    QString remoteText() const;
    QString note() const { return m_note; }
    bool hasFailed() const { return m_failed; }

    /// The assessment's three questions, in the chosen language.
    static QList<Veltro::QuestionDescription> questions();
    /// Where the results are offered to be kept: the Documents folder (else
    /// the home folder) and a name with today's date and time.
    Q_INVOKABLE static QString defaultResultsPath();
    /// The folder offered for image cards: Pictures, else the home folder.
    Q_INVOKABLE static QString imageFolder();
    /// A learner's right answers as the progress grid writes them ("2 of 3 right").
    Q_INVOKABLE static QString rightText(int correct, int answered);
    /// The results as one CSV text: the tally, the learners and the
    /// assessment's progress, each under a line naming it, a blank line between.
    QString results() const;

public Q_SLOTS:
    /// Gives the assessment the three questions and starts it; false when the
    /// classroom refused (no live session, or one running).
    bool startAssessment();
    /// Shows the image file at `path` (or an http(s) address) as a card on every
    /// device; false, with note saying so, when it could not be sent.
    bool showImage(const QString &path);
    /// Writes results() to `path`; false when that failed (note says why).
    bool saveResults(const QString &path);

Q_SIGNALS:
    /// classroom changed.
    void classroomChanged();
    /// cardText, remoteText, note or failed changed.
    void changed();

private:
    void setNote(const QString &note, bool failed);

    QPointer<Veltro::Classroom> m_room;
    QString m_note;
    bool m_failed = false;
};

/// Writes `text` to `path` as UTF-8 with a byte-order mark (so spreadsheets
/// read it as UTF-8), all at once: a file that was there is replaced only when
/// the whole text is written. Returns an empty string, or what went wrong in
/// words a teacher can act on.
QString writeTextFile(const QString &path, const QString &text);
