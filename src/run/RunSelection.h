#pragma once

#include "run/RunOptions.h"

#include <optional>

class RunConsole;
class SubscriberGridModel;

// Fills a grid by one criterion as the selection page does: the same statements (SubscriberQuery::run and
// the CSV import), the same rows refused by AddUserToGridFAST, the same messages, through the MsgBox port.
namespace RunSelection {

// Answers an exit status when the criterion names something the server does not have (a class of
// service, a switch, a location), or asks for archived mailboxes on a server without them; nothing when
// the grid was filled, empty or not.
std::optional<int> fill(const RunOptions::Options& options, SubscriberGridModel& grid, RunConsole& console);

} // namespace RunSelection
