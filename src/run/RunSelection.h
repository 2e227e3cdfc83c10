#pragma once

#include "run/RunOptions.h"

#include <optional>

class RunConsole;
class SubscriberGridModel;

// Fills a grid by one criterion as the selection page does: the same statements (SubscriberQuery::run and
// the CSV import), the same rows refused by AddUserToGridFAST, the same messages, through the MsgBox port.
namespace RunSelection {

// Answers an exit status when no selection can be made: the criterion names something the server does not
// have (a class of service, switch, location, mail server or node), asks for archived mailboxes on a server
// without them, or names a file that cannot be read as a subscriber list (ExitNoInput). A results file
// given to --from is resumed: its rows never sent a request are taken again, and with none left the answer
// is ExitDone. Nothing when the grid was filled, empty or not.
std::optional<int> fill(const RunOptions::Options& options, SubscriberGridModel& grid, RunConsole& console);

} // namespace RunSelection
