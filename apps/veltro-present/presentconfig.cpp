#include "presentconfig.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

namespace {

// The options of --poll. True/false and yes/no have fixed label sets, so
// their counts are bounded by what the devices can show; for a number poll
// the "options" are decimals.
const PollKind kPollKinds[] = {
    {"multiple", Veltro::PollType::MULTIPLE, Veltro::OrdinalType::ALPHA_UPPER, 4, 2, 26},
    {"true-false", Veltro::PollType::TRUE_FALSE, Veltro::OrdinalType::TRUE_FALSE, 2, 2, 3},
    {"yes-no", Veltro::PollType::YES_NO_OTHER, Veltro::OrdinalType::YES_NO_OTHER, 3, 2, 3},
    {"scale", Veltro::PollType::SCALE, Veltro::OrdinalType::NUMBER, 4, 2, 10},
    {"sort", Veltro::PollType::SORT, Veltro::OrdinalType::ALPHA_UPPER, 4, 2, 26},
    {"text", Veltro::PollType::TEXT, Veltro::OrdinalType::GENERIC, 0, 0, 0},
    {"number", Veltro::PollType::NUMBER, Veltro::OrdinalType::NUMBER, 0, 0, 6},
    {"math", Veltro::PollType::MATH_FORMULA, Veltro::OrdinalType::GENERIC, 0, 0, 0},
    {"word-seed", Veltro::PollType::WORD_SEED, Veltro::OrdinalType::GENERIC, 0, 0, 26},
    {"creative", Veltro::PollType::CREATIVE, Veltro::OrdinalType::GENERIC, 0, 0, 26},
};

const QStringList kTransportNames{QStringLiteral("websocket"), QStringLiteral("xhr-streaming"),
                                  QStringLiteral("xhr-polling")};

// Reads a whole number within [min, max] from an option; false with a
// reason in *message otherwise.
bool readInt(const QCommandLineParser &parser, const QString &name, int min, int max, int *out,
             QString *message)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const QString text = parser.value(name);
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max) {
        *message = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                       .arg(name).arg(min).arg(max).arg(text);
        return false;
    }
    *out = v;
    return true;
}

} // namespace

const PollKind *pollKindByName(const QString &name)
{
    QString n = name.trimmed().toLower();
    if (n == QLatin1String("yes-no-other"))
        n = QStringLiteral("yes-no");
    else if (n == QLatin1String("math-formula") || n == QLatin1String("math formula"))
        n = QStringLiteral("math");
    else if (n == QLatin1String("multiple-choice"))
        n = QStringLiteral("multiple");
    for (const PollKind &k : kPollKinds) {
        if (n == QLatin1String(k.name))
            return &k;
    }
    return nullptr;
}

QStringList pollKindNames()
{
    QStringList names;
    for (const PollKind &k : kPollKinds)
        names << QLatin1String(k.name);
    return names;
}

ParseOutcome parsePresentArguments(const QStringList &arguments, PresentConfig *config, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a live Veltro classroom from the command line: signs in, creates a session, "
        "uploads a resource, starts the live connection, waits for learners, runs a poll "
        "with a live tally, optionally an assessment, then stops and prints a summary."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    parser.addOption(help);
    parser.addOption(version);
    const PresentConfig defaults;
    parser.addOptions({
        {QStringLiteral("server"), QStringLiteral("Address of the classroom service."),
         QStringLiteral("URL"), defaults.server},
        {QStringLiteral("user"), QStringLiteral("Teacher's user id."), QStringLiteral("NAME"), defaults.user},
        {QStringLiteral("password"),
         QStringLiteral("Teacher's password (others can read it in the process list: prefer the prompt, "
                        "VELTRO_PASSWORD or --password-file)."),
         QStringLiteral("PASSWORD")},
        {QStringLiteral("password-file"), QStringLiteral("File whose first line is the teacher's password."),
         QStringLiteral("FILE")},
        {QStringLiteral("transport"),
         QStringLiteral("Live connection transport(s), comma separated: websocket, xhr-streaming, "
                        "xhr-polling (default: the service's list)."),
         QStringLiteral("NAME")},
        {QStringLiteral("poll"), QStringLiteral("Kind of poll: %1.").arg(pollKindNames().join(QStringLiteral(", "))),
         QStringLiteral("KIND"), defaults.pollName},
        {QStringLiteral("options"),
         QStringLiteral("Options of the poll (decimals for a number poll); default depends on the kind."),
         QStringLiteral("N")},
        {QStringLiteral("ordinal"),
         QStringLiteral("Option labels (alpha-upper, alpha-lower, number, ...); default depends on the kind."),
         QStringLiteral("NAME")},
        {QStringLiteral("correct"), QStringLiteral("Correct options of a multiple-choice poll."),
         QStringLiteral("N"), QString::number(defaults.correctOptions)},
        {QStringLiteral("assessment"), QStringLiteral("Questions of an assessment after the poll (0: none)."),
         QStringLiteral("N"), QString::number(defaults.assessmentQuestions)},
        {QStringLiteral("learners-wait"), QStringLiteral("Longest wait for learners to join, in seconds."),
         QStringLiteral("SECONDS"), QString::number(defaults.learnersWaitSeconds)},
        {QStringLiteral("expect"),
         QStringLiteral("Learners to wait for (0: until joining has been quiet for two seconds)."),
         QStringLiteral("N"), QString::number(defaults.expectLearners)},
        {QStringLiteral("poll-time"),
         QStringLiteral("Longest wait for answers, in seconds; ends early once every learner answered."),
         QStringLiteral("SECONDS"), QString::number(defaults.pollTimeSeconds)},
        {QStringLiteral("upload"), QStringLiteral("File to upload (default: a small generated text file)."),
         QStringLiteral("FILE")},
        {QStringLiteral("cacert"), QStringLiteral("PEM file of a certificate authority to trust."),
         QStringLiteral("FILE")},
        {QStringLiteral("plain"), QStringLiteral("Print plain lines even on a terminal.")},
        {QStringLiteral("verbose"), QStringLiteral("Show the library's debug lines on stderr.")},
    });

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return ParseOutcome::Error;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return ParseOutcome::Help;
    }
    if (parser.isSet(version)) {
        *message = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
        return ParseOutcome::Version;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
        return ParseOutcome::Error;
    }

    PresentConfig c;
    c.server = parser.value(QStringLiteral("server")).trimmed();
    const QUrl url(c.server, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *message = QStringLiteral("--server needs an http:// or https:// address, not \"%1\"").arg(c.server);
        return ParseOutcome::Error;
    }
    c.user = parser.value(QStringLiteral("user"));
    if (c.user.isEmpty()) {
        *message = QStringLiteral("--user must not be empty");
        return ParseOutcome::Error;
    }
    if (parser.isSet(QStringLiteral("password"))) {
        c.password = parser.value(QStringLiteral("password"));
        if (c.password.isEmpty()) {
            *message = QStringLiteral("--password must not be empty");
            return ParseOutcome::Error;
        }
    }
    c.passwordFile = parser.value(QStringLiteral("password-file"));

    if (parser.isSet(QStringLiteral("transport"))) {
        const QStringList parts = parser.values(QStringLiteral("transport")).join(QLatin1Char(','))
                                      .split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &p : parts) {
            const QString name = p.trimmed().toLower();
            if (!kTransportNames.contains(name)) {
                *message = QStringLiteral("unknown transport \"%1\" (use websocket, xhr-streaming or xhr-polling)")
                               .arg(p.trimmed());
                return ParseOutcome::Error;
            }
            if (!c.transports.contains(name))
                c.transports << name;
        }
        if (c.transports.isEmpty()) {
            *message = QStringLiteral("--transport names no transport");
            return ParseOutcome::Error;
        }
    }

    const PollKind *kind = pollKindByName(parser.value(QStringLiteral("poll")));
    if (!kind) {
        *message = QStringLiteral("unknown poll kind \"%1\" (use one of: %2)")
                       .arg(parser.value(QStringLiteral("poll")), pollKindNames().join(QStringLiteral(", ")));
        return ParseOutcome::Error;
    }
    c.pollName = QLatin1String(kind->name);
    c.pollType = kind->pollType;
    c.ordinalType = kind->ordinalType;
    c.options = kind->defaultOptions;
    if (parser.isSet(QStringLiteral("options")) && kind->maxOptions == 0) {
        *message = QStringLiteral("a %1 poll has no options").arg(c.pollName);
        return ParseOutcome::Error;
    }
    if (!readInt(parser, QStringLiteral("options"), kind->minOptions, kind->maxOptions, &c.options, message))
        return ParseOutcome::Error;

    if (parser.isSet(QStringLiteral("ordinal"))) {
        const QString name = parser.value(QStringLiteral("ordinal")).trimmed().toLower();
        const auto table = Veltro::OrdinalType::ORDINAL_TYPE_STR();
        bool found = false;
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            if (it.value() == name) {
                c.ordinalType = it.key();
                found = true;
                break;
            }
        }
        if (!found) {
            *message = QStringLiteral("unknown option labels \"%1\" (use one of: %2)")
                           .arg(name, QStringList(table.values()).join(QStringLiteral(", ")));
            return ParseOutcome::Error;
        }
    }

    if (!readInt(parser, QStringLiteral("correct"), 1, qMax(1, c.options), &c.correctOptions, message)
        || !readInt(parser, QStringLiteral("assessment"), 0, 100, &c.assessmentQuestions, message)
        || !readInt(parser, QStringLiteral("learners-wait"), 1, 3600, &c.learnersWaitSeconds, message)
        || !readInt(parser, QStringLiteral("expect"), 0, 100000, &c.expectLearners, message)
        || !readInt(parser, QStringLiteral("poll-time"), 1, 3600, &c.pollTimeSeconds, message))
        return ParseOutcome::Error;

    c.uploadFile = parser.value(QStringLiteral("upload"));
    c.caCertFile = parser.value(QStringLiteral("cacert"));
    c.plain = parser.isSet(QStringLiteral("plain"));
    c.verbose = parser.isSet(QStringLiteral("verbose"));
    *config = c;
    return ParseOutcome::Run;
}

QString plainError(const QString &lastError)
{
    if (lastError.isNull())
        return QStringLiteral("no reason was given");
    struct Known { const char *key; const char *words; };
    static const Known known[] = {
        {"SSLRootCertificateMissing",
         "the server's certificate is not signed by a trusted authority (give its CA with --cacert FILE)"},
        {"notSignedIn", "the service no longer knows this sign-in"},
        {"invalidCredentials", "the user id or password was not accepted"},
        {"badCredentials", "the user id or password was not accepted"},
        {"password", "the user id or password was not accepted"},
    };
    for (const Known &k : known) {
        if (lastError.contains(QLatin1String(k.key), Qt::CaseInsensitive))
            return QStringLiteral("%1 [%2]").arg(QLatin1String(k.words), lastError);
    }
    return lastError;
}
