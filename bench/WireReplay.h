// The simulator's own share of a transfer path: the wire traffic of one run
// of the tool, recorded, then sent again to a fresh device straight through
// hidapi's functions, without the tool. What the replay costs is what the
// simulator and the hidapi stand-in cost; the rest of a run is the tool's.
#pragma once

#include <functional>
#include <vector>

#include "sim/SimWorld.h"

// Plugs the devices of a path into a fresh bus.
using PlugIn = std::function<void(sim::World&)>;

// The traffic the first device of the bus saw while run ran, in order;
// empty when run failed.
std::vector<sim::WireRecord> RecordTraffic(const PlugIn& plugIn, const std::function<bool()>& run);

// Sends the traffic to the device again, with the buffer sizes the tool uses
// and virtual time moved on to each transfer's time: true when every
// transfer came out as recorded.
bool ReplayTraffic(const std::vector<sim::WireRecord>& traffic, const sim::SimDevice& device);
