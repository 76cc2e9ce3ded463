// A station's worker: one process for one unit. It runs the tool's command
// exactly as the tool would, single-threaded, except that every device it
// opens or searches for is the one at its unit's USB port; it passes the
// command's lines and progress on to the station (WorkerProtocol.h) and, at
// the end, what it saw of its unit.
#pragma once

#include "station/StationOptions.h"

// Runs the command for the unit and returns the command's exit status.
int RunWorker(const StationOptions& options);
