// Command line of veltro-present: what the program is asked to do, parsed
// without side effects so that the mapping can be tested on its own.
#pragma once

#include <QString>
#include <QStringList>

#include "ordinaltype.h"
#include "pollkinds.h"
#include "polltype.h"

/// Everything one run of the presenter program needs to know.
struct PresentConfig
{
    QString server = QStringLiteral("http://127.0.0.1:8080");
    QString user = QStringLiteral("teacher");
    /// Given with --password (null otherwise); see choosePassword() for the other sources.
    QString password;
    /// Given with --password-file.
    QString passwordFile;
    /// Transport names in the order to try; empty means the tenant's list.
    QStringList transports;
    /// The poll as named on the command line ("multiple", "true-false", ...).
    QString pollName = QStringLiteral("multiple");
    Veltro::PollType::POLL_TYPE pollType = Veltro::PollType::MULTIPLE;
    Veltro::OrdinalType::ORDINAL_TYPE ordinalType = Veltro::OrdinalType::ALPHA_UPPER;
    /// Options of the poll; for a number poll the number of decimals.
    int options = 4;
    int correctOptions = 1;
    /// Questions of the assessment after the poll; 0 runs none.
    int assessmentQuestions = 0;
    /// Upper bound of the wait for learners, in seconds.
    int learnersWaitSeconds = 15;
    /// Learners to wait for; 0 waits until joining has been quiet for a moment.
    int expectLearners = 0;
    /// Upper bound of the wait for answers (poll and assessment each), in seconds.
    int pollTimeSeconds = 20;
    QString uploadFile;
    QString caCertFile;
    /// Force plain line output even on a terminal.
    bool plain = false;
    /// Let the library's debug lines through (to stderr).
    bool verbose = false;
    /// Print the poll's tally and each assessment question's as CSV after the summary.
    bool csv = false;
    /// After a password sign-in, keep a device token in the system keyring so
    /// that later runs need no password (--remember).
    bool remember = false;
    /// Forget the sign-in kept for user and server, and end (--forget).
    bool forget = false;
    /// The device token kept in the keyring for user and server (not an option).
    QString keptToken;
};

enum class ParseOutcome { Run, Help, Version, Error };

/// Parses `arguments` (argv[0] first) into `config`. Returns Run when the
/// program should run; Help/Version with the text to print in `message`;
/// Error with a plain-words reason in `message` (config is then left unchanged).
ParseOutcome parsePresentArguments(const QStringList &arguments, PresentConfig *config, QString *message);

// The poll kinds of --poll are the library's table.
using Veltro::PollKind;
using Veltro::pollKindByName;
using Veltro::pollKindNames;
