// What a poll is made of: the question object of each poll kind with its
// generated options, and the fixed poll description of the kinds that have
// no question object. Builds objects and texts, sends nothing. Not installed.
#pragma once

#include <QPair>
#include <QString>

#include "ordinaltype.h"
#include "polltype.h"

class QObject;

namespace Veltro {

class QuestionBase;

/// The generated option i (from 0) of a poll whose labels are of `ordinalType`: (id, option text).
QPair<QString, QString> generatedPollOption(OrdinalType::ORDINAL_TYPE ordinalType, int i);

/// The question object of `pollType` (child of `parent`) with `optionCount`
/// generated options (decimals for a number poll) and its ordinal type
/// inferred; null for the kinds without one (word seed, creative, unknown).
QuestionBase *makePollQuestion(QObject *parent, PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                               int optionCount, int correctOptionCount);

/// Identity of a template poll beyond its kind: the session it runs in, its
/// id, how many options it offers and the card's background image reference.
struct PollTemplateValues
{
    QString sessionToken;
    QString sessionCode;
    QString pollId;
    int optionCount = 0;
    QString backgroundImage;
};

/// The poll description sent for kinds without a question object.
QString pollTemplateText(PollType::POLL_TYPE pollType, OrdinalType::ORDINAL_TYPE ordinalType,
                         const PollTemplateValues &values);

/// Gives a new poll id: a UUID without braces.
QString newPollId();

/// Drops the background image a question's card carries as data (megabytes,
/// perhaps); a plain URL is small and stays.
void releaseCardImage(QuestionBase *question);

} // namespace Veltro
