#include "presentconfig.h"

#include "language.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

namespace {

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

struct Option;
// Reads one option (given or not) into the configuration being built; false
// with a plain-words reason in *message.
using Reader = bool (*)(const QCommandLineParser &parser, const Option &option, PresentConfig *c, QString *message);

// One row of the command line. The rows are registered, described in --help
// and read in this order; a row may rely on the rows above it (the poll's
// options bound --correct).
struct Option
{
    const char *names;      // comma separated
    const char *valueName;  // null: a switch
    const char *help;       // "%1": the poll kinds
    Reader read;            // null: a switch that ends parsing with `outcome`
    ParseOutcome outcome = ParseOutcome::Run;
    QString PresentConfig::*text = nullptr; // kept as given; its default is the field's
    int PresentConfig::*number = nullptr;   // a whole number in [min, max]
    bool PresentConfig::*flag = nullptr;
    int min = 0;
    int max = 0;

    QString name() const { return QString::fromLatin1(names).section(QLatin1Char(','), -1); }
};

bool readText(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *)
{
    c->*o.text = parser.value(o.name());
    return true;
}

bool readNumber(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    return readInt(parser, o.name(), o.min, o.max, &(c->*o.number), message);
}

bool readFlag(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *)
{
    c->*o.flag = parser.isSet(o.name());
    return true;
}

bool readServer(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    c->server = parser.value(o.name()).trimmed();
    const QUrl url(c->server, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *message = QStringLiteral("--server needs an http:// or https:// address, not \"%1\"").arg(c->server);
        return false;
    }
    return true;
}

// A user or password given must not be empty; a password not given stays null.
bool readNonEmpty(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    if (!parser.isSet(o.name()))
        return true; // the field's default
    c->*o.text = parser.value(o.name());
    if ((c->*o.text).isEmpty()) {
        *message = QStringLiteral("--%1 must not be empty").arg(o.name());
        return false;
    }
    return true;
}

bool readTransports(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    if (!parser.isSet(o.name()))
        return true;
    const QStringList parts =
        parser.values(o.name()).join(QLatin1Char(',')).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &p : parts) {
        const QString name = p.trimmed().toLower();
        if (!kTransportNames.contains(name)) {
            *message = QStringLiteral("unknown transport \"%1\" (use websocket, xhr-streaming or xhr-polling)")
                           .arg(p.trimmed());
            return false;
        }
        if (!c->transports.contains(name))
            c->transports << name;
    }
    if (c->transports.isEmpty()) {
        *message = QStringLiteral("--transport names no transport");
        return false;
    }
    return true;
}

// The kind sets the labels and the option count the rows below may change.
bool readPoll(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    const PollKind *kind = pollKindByName(parser.value(o.name()));
    if (!kind) {
        *message = QStringLiteral("unknown poll kind \"%1\" (use one of: %2)")
                       .arg(parser.value(o.name()), pollKindNames().join(QStringLiteral(", ")));
        return false;
    }
    c->pollName = QLatin1String(kind->name);
    c->pollType = kind->pollType;
    c->ordinalType = kind->ordinalType;
    c->options = kind->defaultOptions;
    return true;
}

bool readOptions(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    const PollKind *kind = pollKindByName(c->pollName);
    if (parser.isSet(o.name()) && kind->maxOptions == 0) {
        *message = QStringLiteral("a %1 poll has no options").arg(c->pollName);
        return false;
    }
    return readInt(parser, o.name(), kind->minOptions, kind->maxOptions, &c->options, message);
}

bool readOrdinal(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    if (!parser.isSet(o.name()))
        return true;
    const QString name = parser.value(o.name()).trimmed().toLower();
    const auto table = Veltro::OrdinalType::ORDINAL_TYPE_STR();
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        if (it.value() == name) {
            c->ordinalType = it.key();
            return true;
        }
    }
    *message = QStringLiteral("unknown option labels \"%1\" (use one of: %2)")
                   .arg(name, QStringList(table.values()).join(QStringLiteral(", ")));
    return false;
}

bool readForget(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    c->forget = parser.isSet(o.name());
    if (c->forget && c->remember) {
        *message = QStringLiteral("give either --remember or --forget, not both");
        return false;
    }
    return true;
}

bool readCorrect(const QCommandLineParser &parser, const Option &o, PresentConfig *c, QString *message)
{
    return readInt(parser, o.name(), 1, qMax(1, c->options), &c->correctOptions, message);
}

// Designated initialisers are C++20; the helpers below fill the optional fields.
Option numberRow(const char *name, const char *valueName, const char *help, int PresentConfig::*field, int min, int max)
{
    Option o{name, valueName, help, readNumber};
    o.number = field;
    o.min = min;
    o.max = max;
    return o;
}

Option textRow(const char *name, const char *valueName, const char *help, QString PresentConfig::*field,
               Reader read = readText)
{
    Option o{name, valueName, help, read};
    o.text = field;
    return o;
}

Option flagRow(const char *name, const char *help, bool PresentConfig::*field)
{
    Option o{name, nullptr, help, readFlag};
    o.flag = field;
    return o;
}

const Option kOptions[] = {
    {"h,help", nullptr, "Show this help.", nullptr, ParseOutcome::Help},
    {"version", nullptr, "Show the version.", nullptr, ParseOutcome::Version},
    textRow("server", "URL", "Address of the classroom service.", &PresentConfig::server, readServer),
    textRow("user", "NAME", "Teacher's user id.", &PresentConfig::user, readNonEmpty),
    textRow("password", "PASSWORD",
            "Teacher's password (others can read it in the process list: prefer the prompt, "
            "VELTRO_PASSWORD or --password-file).",
            &PresentConfig::password, readNonEmpty),
    textRow("password-file", "FILE", "File whose first line is the teacher's password.", &PresentConfig::passwordFile),
    {"transport", "NAME",
     "Live connection transport(s), comma separated: websocket, xhr-streaming, "
     "xhr-polling (default: the service's list).",
     readTransports},
    textRow("poll", "KIND", "Kind of poll: %1.", &PresentConfig::pollName, readPoll),
    {"options", "N", "Options of the poll (decimals for a number poll); default depends on the kind.", readOptions},
    {"ordinal", "NAME", "Option labels (alpha-upper, alpha-lower, number, ...); default depends on the kind.",
     readOrdinal},
    {"correct", "N", "Correct options of a multiple-choice poll.", readCorrect},
    numberRow("assessment", "N", "Questions of an assessment after the poll (0: none).",
              &PresentConfig::assessmentQuestions, 0, 100),
    numberRow("learners-wait", "SECONDS", "Longest wait for learners to join, in seconds.",
              &PresentConfig::learnersWaitSeconds, 1, 3600),
    numberRow("expect", "N", "Learners to wait for (0: until joining has been quiet for two seconds).",
              &PresentConfig::expectLearners, 0, 100000),
    numberRow("poll-time", "SECONDS", "Longest wait for answers, in seconds; ends early once every learner answered.",
              &PresentConfig::pollTimeSeconds, 1, 3600),
    textRow("upload", "FILE", "File to upload (default: a small generated text file).", &PresentConfig::uploadFile),
    textRow("cacert", "FILE", "PEM file of a certificate authority to trust.", &PresentConfig::caCertFile),
    flagRow("plain", "Print plain lines even on a terminal.", &PresentConfig::plain),
    flagRow("verbose", "Show the library's debug lines on stderr.", &PresentConfig::verbose),
    flagRow("csv", "Print the results as CSV after the summary (the poll's tally, each assessment question's).",
            &PresentConfig::csv),
    flagRow("remember",
            "Stay signed in: after the password sign-in, keep a sign-in for this computer in the system keyring "
            "(never the password), so that later runs as this user at this server need no password.",
            &PresentConfig::remember),
    {"forget", nullptr, "Forget the sign-in kept for --user at --server, then end.", readForget},
};

} // namespace

ParseOutcome parsePresentArguments(const QStringList &arguments, PresentConfig *config, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a live Veltro classroom from the command line: signs in, creates a session, "
        "uploads a resource, starts the live connection, waits for learners, runs a poll "
        "with a live tally, optionally an assessment, then stops and prints a summary."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const PresentConfig defaults;
    for (const Option &o : kOptions) {
        QString help = QString::fromLatin1(o.help);
        if (help.contains(QLatin1String("%1")))
            help = help.arg(pollKindNames().join(QStringLiteral(", ")));
        const QStringList names = QString::fromLatin1(o.names).split(QLatin1Char(','));
        parser.addOption(o.valueName ? QCommandLineOption(names, help, QLatin1String(o.valueName),
                                                          o.text ? defaults.*o.text : QString())
                                     : QCommandLineOption(names, help));
    }
    parser.addOption(languageOption()); // read by main() before the parser runs

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return ParseOutcome::Error;
    }
    for (const Option &o : kOptions) {
        if (o.outcome == ParseOutcome::Run || !parser.isSet(o.name()))
            continue;
        *message = o.outcome == ParseOutcome::Help
            ? parser.helpText()
            : QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
        return o.outcome;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
        return ParseOutcome::Error;
    }

    PresentConfig c;
    for (const Option &o : kOptions) {
        if (o.read && !o.read(parser, o, &c, message))
            return ParseOutcome::Error;
    }
    *config = c;
    return ParseOutcome::Run;
}
