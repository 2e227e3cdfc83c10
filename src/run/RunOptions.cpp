#include "run/RunOptions.h"

#include "selection/RangeEntry.h"
#include "selection/SubscriberQuery.h"
#include "server/Statements.h"

#include <QHash>

#include <limits>

namespace RunOptions {
namespace {

struct CriterionOption {
    const char* name;
    Criterion criterion;
    bool takesValue;
};

constexpr CriterionOption kCriteria[] = {
    {"--all", Criterion::All, false},          {"--archived", Criterion::Archived, false},
    {"--range", Criterion::Range, true},       {"--switch", Criterion::Switch, true},
    {"--cos", Criterion::Cos, true},           {"--home-server", Criterion::HomeServer, true},
    {"--location", Criterion::Location, true}, {"--node", Criterion::Node, true},
    {"--csv", Criterion::Csv, true},           {"--from", Criterion::From, true},
};

const CriterionOption* criterionOption(const QString& name)
{
    for (const CriterionOption& option : kCriteria) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

// Reads "--name value" and "--name=value" alike.
class Arguments {
public:
    explicit Arguments(const QStringList& arguments) : m_arguments(arguments) {}
    bool atEnd() const { return m_at >= m_arguments.size(); }

    // The next option's name; a value given with "=" waits for value().
    QString next()
    {
        QString argument = m_arguments.at(m_at++);
        m_inlineValue.reset();
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2) {
            m_inlineValue = argument.mid(equals + 1);
            argument.truncate(equals);
        }
        return argument;
    }
    bool hasInlineValue() const { return m_inlineValue.has_value(); }
    std::optional<QString> value()
    {
        if (m_inlineValue) {
            const QString value = *m_inlineValue;
            m_inlineValue.reset();
            return value;
        }
        if (atEnd())
            return std::nullopt;
        return m_arguments.at(m_at++);
    }

private:
    QStringList m_arguments;
    qsizetype m_at = 0;
    std::optional<QString> m_inlineValue;
};

QString readCriterion(const CriterionOption& option, const QString& value, Options& options)
{
    const QString name = QLatin1String(option.name);
    options.criterion = option.criterion;
    options.value = value;
    if (option.takesValue && value.isEmpty() && option.criterion != Criterion::Node)
        return name + QStringLiteral(" needs a value");
    switch (option.criterion) {
    case Criterion::Range: {
        // Checked here, before anything is opened: a range that selects nobody by mistake must not pass
        // for an empty one.
        const qsizetype dash = value.indexOf(QLatin1Char('-'));
        const std::optional<QString> low =
            dash < 0 ? std::nullopt : SubscriberQuery::plainRangeDigits(value.left(dash));
        const std::optional<QString> high =
            dash < 0 ? std::nullopt : SubscriberQuery::plainRangeDigits(value.mid(dash + 1));
        if (!low || !high || low->size() > RangeEntry::ExtensionBoxMaxLength ||
            high->size() > RangeEntry::ExtensionBoxMaxLength)
            return QStringLiteral("--range takes LOW-HIGH, two whole numbers of up to %1 digits, for "
                                  "example --range 4000-4999")
                .arg(RangeEntry::ExtensionBoxMaxLength);
        if (Statements::padExtension(*low) > Statements::padExtension(*high))
            return QStringLiteral("--range runs backwards: LOW must not be above HIGH");
        options.rangeLow = *low;
        options.rangeHigh = *high;
        break;
    }
    case Criterion::Switch: {
        bool number = false;
        const int id = value.trimmed().toInt(&number);
        if (!number || id < std::numeric_limits<qint16>::min() || id > std::numeric_limits<qint16>::max())
            return QStringLiteral("--switch takes the switch integration's number");
        options.switchId = id;
        break;
    }
    default:
        break;
    }
    return QString();
}

// An option is named in a message only when it is one of culvane-run's own (given to the wrong command):
// any other word may be a password typed in the wrong place, and is never repeated back.
QString unknownOption(const QString& name, const QString& command)
{
    static const QStringList known = {
        QStringLiteral("--password-file"), QStringLiteral("--output"),  QStringLiteral("-o"),
        QStringLiteral("--results"),       QStringLiteral("--verbose"), QStringLiteral("-v"),
        QStringLiteral("--mode"),          QStringLiteral("--poll"),    QStringLiteral("--dry-run"),
        QStringLiteral("--yes"),           QStringLiteral("-y"),        QStringLiteral("--in-flight")};
    if (known.contains(name))
        return QStringLiteral("%1 is no option of %2").arg(name, command);
    return QStringLiteral("an unknown option for %1 (not repeated here); see --help").arg(command);
}

} // namespace

Parsed parse(const QStringList& arguments)
{
    Parsed parsed;
    Options& options = parsed.options;
    if (arguments.isEmpty()) {
        parsed.error = QStringLiteral("a command is needed: select or delete");
        return parsed;
    }
    const QString command = arguments.constFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        options.command = Command::Help;
        return parsed;
    }
    if (command == QLatin1String("--version")) {
        options.command = Command::Version;
        return parsed;
    }
    if (command == QLatin1String("select"))
        options.command = Command::Select;
    else if (command == QLatin1String("delete"))
        options.command = Command::Delete;
    else {
        parsed.error = QStringLiteral("unknown command: the first word is select or delete");
        return parsed;
    }
    const bool deleting = options.command == Command::Delete;

    bool modeGiven = false;
    // The values given so far, by option: a second one that differs is refused, as neither may win.
    QHash<QString, QString> valuesGiven;
    Arguments rest(arguments.mid(1));
    const auto fail = [&](const QString& error) {
        parsed.error = error;
        return parsed;
    };
    while (!rest.atEnd()) {
        const QString name = rest.next();
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            options = Options();
            options.command = Command::Help;
            return parsed;
        }
        if (const CriterionOption* option = criterionOption(name)) {
            if (options.criterion != Criterion::None)
                return fail(QStringLiteral("one criterion at a time: %1 comes after another").arg(name));
            if (option->criterion == Criterion::From && !deleting)
                return fail(QStringLiteral("--from belongs to delete; select reads a file with --csv"));
            QString value;
            if (option->takesValue) {
                const std::optional<QString> given = rest.value();
                if (!given)
                    return fail(name + QStringLiteral(" needs a value"));
                value = *given;
            } else if (rest.hasInlineValue()) {
                return fail(name + QStringLiteral(" takes no value"));
            }
            const QString error = readCriterion(*option, value, options);
            if (!error.isEmpty())
                return fail(error);
            continue;
        }
        const auto valueOf = [&](const char* option) -> std::optional<QString> {
            const std::optional<QString> value = rest.value();
            if (!value || value->isEmpty()) {
                parsed.error = name + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            const QString key = QLatin1String(option);
            const auto earlier = valuesGiven.constFind(key);
            if (earlier != valuesGiven.constEnd() && *earlier != *value) {
                parsed.error = key + QStringLiteral(" is given twice with different values");
                return std::nullopt;
            }
            valuesGiven.insert(key, *value);
            return value;
        };
        const auto flag = [&](bool& target) {
            if (rest.hasInlineValue()) {
                parsed.error = name + QStringLiteral(" takes no value");
                return false;
            }
            target = true;
            return true;
        };
        if (name == QLatin1String("--password-file")) {
            const std::optional<QString> value = valueOf("--password-file");
            if (!value)
                return parsed;
            options.passwordFile = *value;
        } else if (name == QLatin1String("--output") || name == QLatin1String("-o")) {
            if (deleting)
                return fail(QStringLiteral("--output belongs to select"));
            const std::optional<QString> value = valueOf("--output");
            if (!value)
                return parsed;
            options.output = *value;
        } else if (name == QLatin1String("--results") && deleting) {
            const std::optional<QString> value = valueOf("--results");
            if (!value)
                return parsed;
            options.results = *value;
        } else if (name == QLatin1String("--verbose") || name == QLatin1String("-v")) {
            if (!flag(options.verbose))
                return parsed;
        } else if (name == QLatin1String("--mode") && deleting) {
            const std::optional<QString> value = valueOf("--mode");
            if (!value)
                return parsed;
            if (*value == QLatin1String("data"))
                options.mode = Mode::Data;
            else if (*value == QLatin1String("all"))
                options.mode = Mode::All;
            else
                return fail(QStringLiteral("--mode takes data or all"));
            modeGiven = true;
        } else if (name == QLatin1String("--poll") && deleting) {
            const std::optional<QString> value = valueOf("--poll");
            if (!value)
                return parsed;
            if (*value == QLatin1String("fast"))
                options.poll = Poll::Fast;
            else if (*value == QLatin1String("standard"))
                options.poll = Poll::Wizard;
            else
                return fail(QStringLiteral("--poll takes fast or standard"));
        } else if (name == QLatin1String("--in-flight") && deleting) {
            const std::optional<QString> value = valueOf("--in-flight");
            if (!value)
                return parsed;
            bool number = false;
            const int count = value->toInt(&number);
            if (!number || count < 1 || count > 16)
                return fail(QStringLiteral("--in-flight takes a whole number from 1 to 16"));
            options.inFlight = count;
        } else if (name == QLatin1String("--dry-run") && deleting) {
            if (!flag(options.dryRun))
                return parsed;
        } else if ((name == QLatin1String("--yes") || name == QLatin1String("-y")) && deleting) {
            if (!flag(options.yes))
                return parsed;
        } else if (name.startsWith(QLatin1Char('-'))) {
            return fail(unknownOption(name, command));
        } else {
            return fail(QStringLiteral("a word that belongs to no option (not repeated here); a password or "
                                       "a file is given with its option"));
        }
    }
    if (options.criterion == Criterion::None)
        return fail(deleting ? QStringLiteral("delete needs a criterion or --from FILE")
                             : QStringLiteral("select needs a criterion"));
    if (deleting && !modeGiven)
        return fail(QStringLiteral("delete needs --mode data or --mode all"));
    return parsed;
}

QString helpText()
{
    return QStringLiteral(
        "Usage: culvane-run select CRITERION [--output FILE] [--password-file FILE] [--verbose]\n"
        "       culvane-run delete (CRITERION | --from FILE.csv) --mode data|all [--dry-run] [--yes]\n"
        "                          [--poll fast|standard] [--in-flight N] [--results FILE]\n"
        "                          [--password-file FILE] [--verbose]\n"
        "       culvane-run --help | --version\n"
        "\n"
        "Selects and deletes Orvane subscribers as the Culvane wizard does, from a shell, without a window.\n"
        "\n"
        "Commands:\n"
        "  select              write the selected subscribers as CSV (the wizard's Export format: UTF-8, "
        "CR LF,\n"
        "                      heading Alias,Extension,DisplayName,FirstName,LastName,HomeServer,COS) to\n"
        "                      standard output, or to --output FILE with a byte-order mark for spreadsheets\n"
        "  delete              delete the selected subscribers through sp_DeleteSubscriber, with the "
        "wizard's\n"
        "                      run log and results file\n"
        "\n"
        "Criteria (one):\n"
        "  --all               all subscribers\n"
        "  --archived          archived mailboxes (Orvane 5.0 or later)\n"
        "  --range LOW-HIGH    subscribers with extensions from LOW to HIGH\n"
        "  --switch ID         subscribers of the switch integration with this number\n"
        "  --cos ALIAS         subscribers of the class of service with this alias\n"
        "  --home-server NAME  subscribers homed on this mail server\n"
        "  --location NAME     remote subscribers of this location (its display name)\n"
        "  --node ID           bridge subscribers of this networking node\n"
        "  --csv FILE          subscribers named in a CSV file (alias and/or extension column); one\n"
        "                      named twice is taken once and the duplicates are counted on standard error\n"
        "  --from FILE.csv     delete only: the subscribers of a file written by select or Export; or\n"
        "                      resume a run cut short from its results file: only its rows 'not attempted'\n"
        "                      or 'not sent' are taken again, the others are counted by outcome\n"
        "\n"
        "A class of service, switch, location, mail server or node the server does not have is refused\n"
        "(status 64), as is a range that is not two whole numbers or runs backwards.\n"
        "\n"
        "Options:\n"
        "  --mode data         remove the Orvane data only; directory accounts and mailboxes stay\n"
        "  --mode all          remove everything, directory account and mailbox included (refused where\n"
        "                      the installation forces restricted rights)\n"
        "  --dry-run           look every subscriber up and write a results file with 'would delete' or\n"
        "                      why not; nothing is deleted and no ticket is made\n"
        "  --yes, -y           delete without asking; without it culvane-run asks once on a terminal and\n"
        "                      refuses (status 64) when standard input is not one\n"
        "  --poll fast         poll each ticket after a quarter of the time waited so far, from 50 ms\n"
        "                      to 2 s, within the same 40 s; the default (standard) is the wizard's 20\n"
        "                      polls 2 s apart\n"
        "  --in-flight N       wait for up to N subscribers' directory syncs at once (1 to 16, default 1:\n"
        "                      one after the other): the next request goes out as soon as fewer than N\n"
        "                      tickets wait; the requests still go one at a time, in order, on one\n"
        "                      connection, and one statement polls every ticket waiting\n"
        "  --password-file F   the password for the data source's UID, from the first line of F (never\n"
        "                      give a password on the command line); on a terminal it is asked for\n"
        "  --output FILE, -o   select only: write the CSV to FILE instead of standard output\n"
        "  --results FILE      delete only: write the results file to FILE (never over an existing\n"
        "                      one) instead of beside the run log\n"
        "  --verbose, -v       also say which data source is used, as whom and how the server signed it\n"
        "                      in, how many subscribers were selected, what the CSV import read and\n"
        "                      the statements a deletion sent\n"
        "\n"
        "Ctrl-C during a deletion stops after the current subscriber (with --in-flight, no further\n"
        "request is sent and the run waits for the tickets in flight); a second Ctrl-C ends the current\n"
        "waits at once and logs that their outcome is unknown. SIGTERM, SIGHUP and SIGPIPE (a time\n"
        "limit, a closed terminal or ssh session) do both at once; a wait ended so is 'outcome\n"
        "unknown', as is every wait in flight when the run stops because the database is out of reach.\n"
        "When the database cannot be reached for 3 subscribers in a row (a request that found no\n"
        "connection is 'not sent'), the run stops there with status 75; resume it later with --from\n"
        "and its results file.\n"
        "\n"
        "Standard output of delete: 'Run log: PATH' and 'Results: PATH' for the files written, then\n"
        "one line 'Summary: selected=N processed=N deleted=N sync-failed=N sync-timed-out=N\n"
        "rejected=N request-failed=N not-sent=N outcome-unknown=N not-attempted=N errors=N ended=WORD',\n"
        "WORD one of completed, ctrl-c, sigterm, sighup, sigpipe, unreachable (a dry run: 'Results:\n"
        "PATH', then 'Summary: dry-run selected=N processed=N would-delete=N not-found=N\n"
        "lookup-failed=N not-attempted=N ended=WORD'). Messages go to standard error, each line after\n"
        "'culvane-run: ', and only what needs reading: a select that goes well writes none there, a\n"
        "delete only its progress.\n"
        "\n"
        "Exit status:\n"
        "  0   done: every subscriber deleted (or, with --dry-run, would be); also a selection that\n"
        "      finds nobody, and a results file with nothing left to resume\n"
        "  1   a subscriber failed or was not reached (stopped), select left rows out, a statement of\n"
        "      the selection failed, or a file (the selection, the dry run's results) could not be\n"
        "      written whole\n"
        "  2   refused: a start-up check failed, --mode all under restricted rights, or the question\n"
        "      was answered no\n"
        "  64  wrong usage, also delete without --yes when standard input is not a terminal, an option\n"
        "      given twice with different values, a name the server does not have, or a --results\n"
        "      file that exists\n"
        "  66  an input file (--csv, --from, --password-file) that cannot be read, or a CSV file without\n"
        "      an alias or extension heading\n"
        "  75  the server stopped answering (3 subscribers in a row could not reach it, the selection\n"
        "      could not reach it): nothing more was tried; run again later, a deletion with --from and\n"
        "      its results file\n"
        "\n"
        "See culvane-run(1).\n");
}

} // namespace RunOptions
