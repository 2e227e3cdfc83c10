#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// culvane-run's command line, read without touching anything: what to do, which subscribers, how.
namespace RunOptions {

// Exit statuses, as --help and the manual page give them.
constexpr int ExitDone = 0;      // select written; every subscriber deleted (or, dry, would be)
constexpr int ExitFailures = 1;  // a subscriber failed, was not reached, or a row was left out
constexpr int ExitRefused = 2;   // a start-up check refused, the question was answered no
constexpr int ExitUsage = 64;    // wrong usage, including a deletion without --yes and without a terminal
constexpr int ExitNoInput = 66;  // an input file (--csv, --from, --password-file) that cannot be read
constexpr int ExitTempFail = 75; // the server stopped answering: try again later and resume

enum class Command { Help, Version, Select, Delete };
enum class Criterion { None, All, Archived, Range, Switch, Cos, HomeServer, Location, Node, Csv, From };
enum class Mode { Data, All };
enum class Poll { Wizard, Fast };

struct Options {
    Command command = Command::Help;
    Criterion criterion = Criterion::None;
    // The criterion's value as given: the range's bounds, a switch id, an alias, a name, a file.
    QString value;
    QString rangeLow;
    QString rangeHigh;
    int switchId = 0;
    QString output;
    Mode mode = Mode::Data;
    bool dryRun = false;
    bool yes = false;
    Poll poll = Poll::Wizard;
    // delete: how many subscribers' directory syncs are waited for at once (1 to 16).
    int inFlight = 1;
    QString passwordFile;
    // delete: where the results file goes; empty, beside the run log.
    QString results;
    // The data source and other details on standard error.
    bool verbose = false;
};

struct Parsed {
    Options options;
    // Why the command line is refused; empty when it is usable.
    QString error;
};

// arguments: without the program's own name.
Parsed parse(const QStringList& arguments);

QString helpText();

} // namespace RunOptions
