#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Resuming a run that was cut short from its results file: the subscribers that were never sent a request
// (not attempted, not sent) are taken again; every other row is left out and counted by its outcome.
namespace RunResume {

// The rows of a results file below its heading, each as its fields (RFC 4180 quoting, UTF-8, with or
// without a byte-order mark); nothing when the file does not begin with the results file's heading row.
std::optional<QList<QStringList>> resultsRows(const QByteArray& bytes);

struct Plan {
    // The ObjectIDs of the rows to take again, in the file's order.
    QStringList objectIds;
    // The rows left out, by outcome, in the order the outcomes first appear.
    QList<QPair<QString, int>> leftOut;
    // Whether every row left out was sent a request (a dry run's rows were not).
    bool leftOutWereSent = true;
};

Plan plan(const QList<QStringList>& rows);

// "12 rows left out, their requests were sent: 10 deleted, 2 sync failed"; empty when none was.
QString leftOutLine(const Plan& plan);

} // namespace RunResume
