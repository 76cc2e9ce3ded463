// "-E": puts the radios of the wired controller and of the dongle into a test
// mode for EMC measurements, receiving on one channel or transmitting on a
// list of channels at a given power. One 16-byte record is offered to both.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "app/Commands.h"
#include "app/Usage.h"
#include "device/QuorlControllerDevice.h"

namespace {

// Room for channels once mode and count are in the record.
constexpr std::size_t kMaxEmcChannels = kEmcRecordLength - 2;

using EmcRecord = std::array<std::uint8_t, kEmcRecordLength>;

// As atoi converts: blanks, a sign, decimal digits; 0 without digits. Kept
// to 32 bits without atoi's undefined behaviour on overlong words.
std::int32_t ConvertNumber(const std::string& word) {
    return static_cast<std::int32_t>(std::strtoll(word.c_str(), nullptr, 10));
}

std::uint8_t LowByte(std::int32_t value) { return static_cast<std::uint8_t>(value); }

int RefuseCommandLine(Edition edition) {
    PrintUsage("app", edition);
    return -1;
}

// True when the device was present and took the record.
bool OfferRecord(std::uint16_t productId, const EmcRecord& cmd) {
    QuorlControllerDevice device(productId);
    return device.Open() && device.SendEmcCommand(cmd.data()) == 0;
}

}  // namespace

int RunEmcTest(const std::vector<std::string>& words, Edition edition) {
    if (words.size() < 2) {
        return RefuseCommandLine(edition);
    }
    std::int32_t power = 0;
    std::size_t next = 0;
    if (words[0] == "-p") {
        power = ConvertNumber(words[1]);
        next = 2;
    }
    if (words.size() - next < 2) {
        return RefuseCommandLine(edition);
    }

    // Bytes after the last one written stay zero.
    EmcRecord cmd{};
    cmd[0] = LowByte(ConvertNumber(words[next++]));
    const bool receive = cmd[0] != 0;
    // Receiving uses one channel; further words are ignored.
    const std::size_t channels = receive ? 1 : words.size() - next;
    // More channels than the record holds would run past its end.
    if (channels > kMaxEmcChannels) {
        return RefuseCommandLine(edition);
    }
    cmd[1] = static_cast<std::uint8_t>(channels);
    for (std::size_t i = 0; i < channels; ++i) {
        cmd[2 + i] = LowByte(ConvertNumber(words[next + i]));
    }
    if (2 + channels < kEmcRecordLength) {
        cmd[2 + channels] = LowByte(power);
    }

    std::cout << "Command: " << (receive ? "RECEIVE" : "TRANSMIT") << " on channels ";
    for (std::size_t i = 0; i < channels; ++i) {
        std::cout << static_cast<int>(cmd[2 + i]) << " ";
    }
    std::cout << "power " << power << "dBm" << std::endl;

    bool sent = false;
    if (OfferRecord(kControllerAppProductId, cmd)) {
        std::cout << "Sent EMC command to controller." << std::endl;
        sent = true;
    }
    if (OfferRecord(kDongleAppProductId, cmd)) {
        std::cout << "Sent EMC command to dongle." << std::endl;
        sent = true;
    }
    if (!sent) {
        std::cout << "Did not find a controller or dongle." << std::endl;
        return -1;
    }
    return 0;
}
