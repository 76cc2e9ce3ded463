// A simulated device behind a flaky link: the model itself stays faithful
// (it checks what it received with its own checksum and reads back what it
// really holds), but every transfer between host and model takes its fate
// from the fault script: refused, delivered but failed on the host side,
// slow, short, long, malformed, corrupted, a busy or failing acknowledgement
// in place of the real one, a lost or spurious status byte, the device
// dropped off the bus for a while, or unplugged for good. The transport is
// fuzzed, never the device's own verdict: no fault makes a failing
// acknowledgement read as success.
#pragma once

#include <cstdint>
#include <optional>

#include "fuzz/FaultScript.h"
#include "sim/SimWorld.h"
#include "sim/WireNames.h"

namespace fuzz {

template <class Model>
class Faulty : public Model {
public:
    using Model::Model;

    // SWD read replies passed on with a data byte flipped.
    int swdReadDataFlipped = 0;

    bool OnSetFeature(const sim::Bytes& data) override {
        limits::CountTransfer();
        const Fault fault = Take(setFaults);
        if (!fault) {
            return Model::OnSetFeature(data);
        }
        switch (fault.kind % 6) {
            case 0:  // a stalled transfer: the device never saw it
                return false;
            case 1: {  // the device took it, but the host's transfer failed
                Model::OnSetFeature(data);
                return false;
            }
            case 2:  // gone before the report arrived
                this->Unplug();
                return false;
            case 3: {  // gone right after taking it
                const bool taken = Model::OnSetFeature(data);
                this->Unplug();
                return taken;
            }
            case 4:  // a slow device: the transfer takes up to about 5 s
                Slow(fault);
                return Model::OnSetFeature(data);
            default:  // the cable drops the device, which enumerates again later
                this->ReenumerateAt(sim::World::Get().NowMs() + fault.param * kBounceStepMs,
                                    this->productId);
                return false;
        }
    }

    std::optional<sim::Bytes> OnGetFeature() override {
        limits::CountTransfer();
        const Fault fault = Take(getFaults);
        if (!fault) {
            return Model::OnGetFeature();
        }
        switch (fault.kind % 9) {
            case 0:  // refused
                return std::nullopt;
            case 1:  // a busy acknowledgement; the real answer is still to come
                return Acknowledgement(sim::kStatusBusy);
            case 2:  // a failing acknowledgement (never 0 and never busy)
                return Acknowledgement(static_cast<std::uint16_t>(3 + fault.param));
            case 3:  // gone
                this->Unplug();
                return std::nullopt;
            case 4:
                Slow(fault);
                return Model::OnGetFeature();
            default:
                break;
        }
        std::optional<sim::Bytes> reply = Model::OnGetFeature();
        if (!reply || reply->empty()) {
            return reply;
        }
        switch (fault.kind % 9) {
            case 5:  // cut short
                reply->resize(fault.param % reply->size());
                break;
            case 6:  // longer than asked
                reply->insert(reply->end(), 1 + fault.param % 16, fault.param);
                break;
            case 7:  // not the report that was asked for
                (*reply)[0] ^= 0xFF;
                break;
            default: {  // one byte of the report flipped
                const std::size_t at = fault.param % reply->size();
                (*reply)[at] ^= 0xFF;
                // An SWD read's data carries no check: no one can notice this.
                if ((*reply)[0] == sim::kSwdRead && at >= kSwdReadDataOffset) {
                    ++swdReadDataFlipped;
                }
                break;
            }
        }
        return reply;
    }

    std::optional<sim::Bytes> TakeInputReport() override {
        std::optional<sim::Bytes> report = Model::TakeInputReport();
        if (!report) {
            return report;
        }
        limits::CountTransfer();
        const Fault fault = Take(inputFaults);
        if (!fault) {
            return report;
        }
        switch (fault.kind % 4) {
            case 0:  // lost
                return std::nullopt;
            case 1:  // a second byte: not a status report
                report->push_back(fault.param);
                break;
            case 2:  // a status byte the device did not mean
                if (!report->empty()) {
                    (*report)[0] = fault.param;
                }
                break;
            default:
                this->Unplug();
                return std::nullopt;
        }
        return report;
    }

    void OnTime(std::uint64_t nowMs) override {
        limits::CheckTime(nowMs);
        Model::OnTime(nowMs);
    }

private:
    static constexpr std::size_t kReportLength = 64;
    static constexpr std::size_t kStatusOffset = 6;
    static constexpr std::size_t kSwdReadDataOffset = 2 + sim::kSwdAddressLength;
    static constexpr std::uint32_t kSlowStepMs = 20;
    static constexpr std::uint32_t kBounceStepMs = 100;

    // A fault that repeats, and how many more transfers of its type it hits.
    struct Repeating {
        Fault fault;
        int left = 0;
    };

    static Fault Take(Repeating& repeating) {
        if (repeating.left > 0) {
            --repeating.left;
            return repeating.fault;
        }
        const Fault fault = Script().Next();
        if (fault.repeats) {
            repeating = {fault, fault.param};
        }
        return fault;
    }

    static void Slow(const Fault& fault) {
        const std::uint32_t ms = fault.param * kSlowStepMs;
        limits::CountSlowTransfer(ms);
        sim::World::Get().Advance(ms);
    }

    static sim::Bytes Acknowledgement(std::uint16_t status) {
        sim::Bytes report(kReportLength, 0);
        report[0] = sim::kAcknowledgement;
        report[kStatusOffset] = static_cast<std::uint8_t>(status);
        report[kStatusOffset + 1] = static_cast<std::uint8_t>(status >> 8);
        return report;
    }

    Repeating setFaults;
    Repeating getFaults;
    Repeating inputFaults;
};

}  // namespace fuzz
