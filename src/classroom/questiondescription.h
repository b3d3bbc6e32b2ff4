// One assessment question as a host describes it (in C++ or as a QML
// object), turned into the question objects the devices receive.
#pragma once

#include "veltroclient_export.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Veltro {

class QuestionBase;

/// A question of an assessment: its kind, its prompt, its options and which
/// of them are correct. QML gives one as an object literal
/// ({kind: "multiple", text: "...", options: ["...", "..."], correct: [1]}).
///
/// **The question it becomes** (createQuestion()). The kind is a poll kind
/// name (pollKindNames(): "multiple", "true-false", "yes-no", "scale",
/// "sort", "text", "number", "math"; word seed and creative are polls only).
/// The prompt travels in the question's "instructions" member. Option i gets
/// the id "A" + i ("A", "B", ...) and the option text options[i]; a
/// true/false or yes/no question without options gets "TRUE", "FALSE" or
/// "YES", "NO". The ids of the correct options, in the order `correct` names
/// them (a sort question's ranking), fill the feedback's "correctOptions";
/// a multiple-choice question asks for that many options
/// ("numberOfCorrectOptions", at least 1).
class VELTROCLIENT_EXPORT QuestionDescription
{
    Q_GADGET
    /// The kind of question: a poll kind name.
    Q_PROPERTY(QString kind MEMBER kind)
    /// The prompt the devices show (the question's "instructions").
    Q_PROPERTY(QString text MEMBER text)
    /// The options' texts, in order; none for text, number and math questions.
    Q_PROPERTY(QStringList options MEMBER options)
    /// The indices (from 0) of the correct options; a sort question's in ranking order.
    Q_PROPERTY(QList<int> correct MEMBER correct)

public:
    /// An empty description (not valid: it has no kind).
    QuestionDescription() = default;
    /// A description of `kind` with the prompt `text`, `options` and the `correct` ones.
    QuestionDescription(const QString &kind, const QString &text, const QStringList &options = {},
                        const QList<int> &correct = {});
    /// A description from a QuestionDescription value or from a map with the
    /// members "kind", "text", "options" and "correct" (a QML object literal);
    /// an empty one (whose problem() says so) for anything else.
    static QuestionDescription fromVariant(const QVariant &value);

    /// Why no question can be made of it (an unknown kind, a kind without a
    /// question class, options where the kind has none or too few or too many,
    /// a correct index out of range or twice); empty when it is valid.
    QString problem() const;
    /// A new question object (with `parent`) as the class description says;
    /// null when problem() is not empty.
    Veltro::QuestionBase *createQuestion(QObject *parent = nullptr) const;
    /// The option ids of the correct options, in the order `correct` gives.
    QStringList correctIds() const;
    /// Whether `optionIds`, the options a device chose, are right: the
    /// correct ones in any order (a sort question: in the correct order).
    /// False when no option is marked correct.
    bool isRight(const QStringList &optionIds) const;
    /// Registers the type with Qt's meta-type system; returns its id.
    static int registerMetaType();

    QString kind;        ///< A poll kind name.
    QString text;        ///< The prompt.
    QStringList options; ///< The options' texts.
    QList<int> correct;  ///< Indices of the correct options.

    /// True when all four fields are equal.
    friend bool operator==(const QuestionDescription &a, const QuestionDescription &b)
    {
        return a.kind == b.kind && a.text == b.text && a.options == b.options && a.correct == b.correct;
    }
    /// True when any field differs.
    friend bool operator!=(const QuestionDescription &a, const QuestionDescription &b) { return !(a == b); }
};

} // namespace Veltro

Q_DECLARE_METATYPE(Veltro::QuestionDescription)
