#pragma once

#include "deletion/RunResultsFile.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>

class DeletionRunSink;
class SubscriberGridModel;

// A deletion run that deletes nothing: every checked subscriber is looked up by its ObjectID and the
// results file says "would delete", or why not. No procedure is called, no ticket made, no run log kept.
namespace DryRun {

struct Outcome {
    // Culvane_DryRun_<stamp>.csv in the run log folder; empty when it could not be created (failure says
    // why, and nothing was looked up).
    QString resultsPath;
    QString failure;
    // Why a row of the results file could not be written; empty when every row was.
    QString writeFailure;
    qint32 processed = 0;
    qint32 wouldDelete = 0;
    // How many rows of each outcome the file holds, not attempted included.
    std::array<qint32, RunResultsFile::OutcomeCount> outcomes{};
    qint32 count(RunResultsFile::Outcome outcome) const { return outcomes[std::size_t(outcome)]; }
    bool stopped = false;
};

// The same sink as a real run: progress, Stop before each subscriber. `looked` hears each subscriber's
// row before the sink hears of its progress.
// resultsPath: where the results go; empty, a new Culvane_DryRun_<stamp>.csv beside the run logs.
Outcome run(const SubscriberGridModel& grid, DeletionRunSink& sink,
            const std::function<void(const RunResultsFile::Row&)>& looked = {},
            const QString& resultsPath = QString());

// The statement that looks a subscriber up.
QString lookupStatement(const QString& objectId);

} // namespace DryRun
