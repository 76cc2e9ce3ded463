// The family's USB identities and the codes of its protocols, as the devices
// know them. The simulator is an oracle of its own: it names every product ID
// and command code once, here, and shares none of them with the tool, so that
// a wrong code in the tool shows as a device that refuses it.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

// USB identities: the family's vendor ID, and one product ID per device and
// firmware state.
constexpr std::uint16_t kVendor = 0x28DE;
constexpr std::uint16_t kControllerApp = 0x1102;
constexpr std::uint16_t kControllerBootloader = 0x1002;
constexpr std::uint16_t kDongleApp = 0x1142;
constexpr std::uint16_t kDongleBootloader = 0x1042;
constexpr std::uint16_t kTivaneBootloader = 0x1071;

// The Tivane's application is a USB serial port of another vendor; this byte
// on it restarts the Tivane into its HID bootloader.
constexpr std::uint16_t kTivaneSerialVendor = 0x2548;
constexpr std::uint16_t kTivaneSerialProduct = 0x1001;
constexpr std::uint8_t kTivaneRestartByte = 0xFE;

// The controller's command reports (code, payload length, payload, zeros to
// 64 bytes), which its bootloader, the dongle's application and the Tivane's
// bootloader speak as well.
constexpr std::uint8_t kRebootIntoIsp = 0x90;
constexpr std::uint8_t kStartUpdate = 0x91;
constexpr std::uint8_t kImageData = 0x92;
constexpr std::uint8_t kImageChecksum = 0x93;
constexpr std::uint8_t kAcknowledgement = 0x94;
// With the bootloader magic: the application restarts into its bootloader.
// Without a payload: the bootloader (or the SWD probe) restarts the application.
constexpr std::uint8_t kRestart = 0x95;
constexpr std::uint8_t kEmcRecord = 0x9A;
constexpr std::uint8_t kBoardRevision = 0xA0;
constexpr std::uint8_t kUnitSerial = 0xA9;
constexpr std::array<std::uint8_t, 4> kBootloaderMagic = {0x5E, 0x71, 0xD2, 0x3A};
constexpr std::array<std::uint8_t, 4> kIspMagic = {'p', 'u', 'x', '!'};
constexpr std::size_t kMaxPayload = 62;
constexpr std::size_t kChecksumLength = 16;
constexpr std::size_t kEmcRecordLength = 16;
constexpr std::size_t kUnitSerialLength = 16;  // on the wire followed by a zero byte

// Acknowledgement statuses. The devices of this simulator answer an image
// checksum that does not match, and an SWD request that failed, with 1.
constexpr std::uint16_t kStatusOk = 0;
constexpr std::uint16_t kStatusFailed = 1;
constexpr std::uint16_t kStatusBusy = 2;

// The radio's update commands, carried in the controller's reports.
constexpr std::uint8_t kRadioBegin = 0x97;
constexpr std::uint8_t kRadioData = 0x98;
constexpr std::uint8_t kRadioChecksum = 0x99;
constexpr std::size_t kMaxRadioData = 48;

// The SWD probe's requests, carried in the controller's reports; addresses
// are 32 bits, least significant byte first.
constexpr std::uint8_t kSwdStart = 0xC6;
constexpr std::uint8_t kSwdWrite = 0xC7;
constexpr std::uint8_t kSwdRead = 0xC8;
constexpr std::uint8_t kSwdEraseSector = 0xC9;
constexpr std::uint8_t kSwdEraseChip = 0xCA;
constexpr std::uint8_t kSwdEnd = 0xCB;
constexpr std::array<std::uint8_t, 4> kSwdStartMagic = {0x9C, 0x4E, 0x27, 0xB5};
constexpr std::size_t kSwdAddressLength = 4;
constexpr std::size_t kMaxSwdReadLength = 58;

// The dongle bootloader's commands: short feature reports, each confirmed by a
// new status byte on the interrupt-in channel; chunks are fetched with a
// feature-report read after Select and Read.
constexpr std::uint8_t kDongleGetVersion = 0x01;
constexpr std::uint8_t kDongleWritePage = 0x02;
constexpr std::uint8_t kDongleRead = 0x03;
constexpr std::uint8_t kDongleSelect = 0x06;
constexpr std::uint8_t kDongleReset = 0x07;
constexpr std::array<std::uint8_t, 3> kDongleResetLetters = {'R', 'S', 'T'};
constexpr std::array<std::uint8_t, 3> kDongleBootGuard = {0x02, 0x78, 0x00};
constexpr std::size_t kDongleDataReportsPerPage = 8;

}  // namespace sim
