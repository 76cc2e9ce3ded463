#include "station/bench/SlotStateMachine.h"

#include <algorithm>

std::string_view SlotStateName(SlotState state) {
    switch (state) {
        case SlotState::Empty: return "empty";
        case SlotState::Arrived: return "arrived";
        case SlotState::Running: return "running";
        case SlotState::Passed: return "passed";
        case SlotState::Failed: return "failed";
        case SlotState::NotServed: return "not served";
    }
    return "unknown";
}

SlotStateMachine::SlotStateMachine(std::chrono::milliseconds removalGrace) : grace(removalGrace) {}

SlotEvents SlotStateMachine::Surveyed(TimePoint now, const std::optional<DeviceAtPort>& seen) {
    lastSeen = seen;
    if (seen) {
        emptySince.reset();
    } else if (!emptySince) {
        // Counted from the first survey that found the port empty: the
        // device may have been there until just before it.
        emptySince = now;
    }
    // While the worker runs, the unit restarts as its command asks: the
    // port is the worker's until it ends, and is judged then.
    return state == SlotState::Running ? SlotEvents{} : Settle(now);
}

SlotEvents SlotStateMachine::WorkerStarted(TimePoint) {
    if (state == SlotState::Arrived) {
        state = SlotState::Running;
    }
    return {};
}

SlotEvents SlotStateMachine::WorkerEnded(TimePoint now, bool passed, const std::string& serialNow) {
    if (state != SlotState::Running) {
        return {};
    }
    state = passed ? SlotState::Passed : SlotState::Failed;
    if (!serialNow.empty()) {
        // Its old serial number stays its own too: the last survey may
        // predate the change, and a unit may give its old one until it
        // enumerates again.
        if (!serialNumber.empty()) {
            otherSerials.push_back(serialNumber);
        }
        serialNumber = serialNow;
    }
    return Settle(now);
}

SlotEvents SlotStateMachine::Arrive(const DeviceAtPort& device) {
    state = device.served ? SlotState::Arrived : SlotState::NotServed;
    serialNumber = device.serialNumber;
    otherSerials.clear();
    whyNotServed = device.served ? std::string() : device.whyNotServed;
    return {.newUnit = true, .startWorker = device.served};
}

SlotEvents SlotStateMachine::Settle(TimePoint now) {
    if (state == SlotState::Empty) {
        return lastSeen ? Arrive(*lastSeen) : SlotEvents{};
    }
    if (!lastSeen) {
        if (now - *emptySince < grace) {
            return {};
        }
        state = SlotState::Empty;
        serialNumber.clear();
        otherSerials.clear();
        whyNotServed.clear();
        return {.removed = true};
    }
    const std::string& seenSerial = lastSeen->serialNumber;
    if (seenSerial.empty() || seenSerial == serialNumber ||
        std::find(otherSerials.begin(), otherSerials.end(), seenSerial) != otherSerials.end()) {
        return {};
    }
    if (serialNumber.empty()) {
        // A unit that gave no serial number at first (a bootloader without
        // one) tells it now: still the same unit, nothing says otherwise.
        serialNumber = seenSerial;
        return {};
    }
    SlotEvents events = Arrive(*lastSeen);
    events.removed = true;
    return events;
}
