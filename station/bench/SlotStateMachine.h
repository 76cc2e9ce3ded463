// One slot of the bench, followed from what the surveys see at its port and
// from its worker's start and end. Pure logic: the caller brings the time of
// each step, so that every wait runs on the station's monotonic clock.
//
//   Empty -> Arrived -> Running -> Passed | Failed     (a unit the command serves)
//   Empty -> NotServed                                  (one it does not)
//
// A unit keeps its result while it stays, and is never run twice. Its own
// restarts (into its bootloader and back: the port empty for a while, then a
// device of another product ID with the same serial number) are not a
// removal: the slot is Empty again only once no device has been seen at its
// port for the grace time, or at once when a device with another serial
// number shows there (a new unit).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class SlotState { Empty, Arrived, Running, Passed, Failed, NotServed };

std::string_view SlotStateName(SlotState state);  // "empty", "arrived", ...

// A device a survey found at the slot's port, and whether the station's
// command serves it in the state it is in (and why not when it does not).
struct DeviceAtPort {
    std::string serialNumber;  // empty when the device gives none
    bool served = true;
    std::string whyNotServed;
};

// What the caller acts on after a step; several at once when a new unit
// takes the place of another.
struct SlotEvents {
    bool removed = false;      // the unit that was in the slot is gone
    bool newUnit = false;      // a unit came into the slot
    bool startWorker = false;  // start this slot's worker now (said once a unit)
    bool operator==(const SlotEvents&) const = default;
};

inline constexpr std::chrono::milliseconds kDefaultRemovalGrace{3000};

class SlotStateMachine {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit SlotStateMachine(std::chrono::milliseconds removalGrace = kDefaultRemovalGrace);

    // What a survey saw at the port at that time: a device, or none.
    SlotEvents Surveyed(TimePoint now, const std::optional<DeviceAtPort>& seen);
    // The station started the slot's worker (after startWorker).
    SlotEvents WorkerStarted(TimePoint now);
    // The worker ended; the unit passed or failed. serialNow: the serial
    // number the unit gives now when its command changed it (-S), so that
    // the unit is not taken for a new one when it shows it.
    SlotEvents WorkerEnded(TimePoint now, bool passed, const std::string& serialNow = {});

    SlotState State() const { return state; }
    // The serial number of the unit in the slot; empty when none or unknown.
    const std::string& UnitSerialNumber() const { return serialNumber; }
    // Why the command does not serve the unit (NotServed).
    const std::string& WhyNotServed() const { return whyNotServed; }

private:
    SlotEvents Arrive(const DeviceAtPort& device);
    // What the port shows now decides what becomes of a slot not running.
    SlotEvents Settle(TimePoint now);

    std::chrono::milliseconds grace;
    SlotState state = SlotState::Empty;
    std::string serialNumber;
    // Serial numbers the unit gave before its command changed it: still its own.
    std::vector<std::string> otherSerials;
    std::string whyNotServed;
    // The last survey's device, and since when the port has shown none.
    std::optional<DeviceAtPort> lastSeen;
    std::optional<TimePoint> emptySince;
};
