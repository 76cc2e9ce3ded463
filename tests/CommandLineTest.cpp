// The command-line grammar of both editions: which command runs with which
// arguments, checked on the parsed value before anything runs.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

Invocation Parse(std::vector<std::string> args, Edition edition = Edition::Standard) {
    args.insert(args.begin(), "/opt/tools/QuorlFirmwareUpdateApp");
    std::vector<const char*> argv;
    for (const std::string& word : args) {
        argv.push_back(word.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), edition);
}

TEST(CommandLine, UsageAndHelp) {
    EXPECT_EQ(Parse({}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"-h"}).kind, CommandKind::Help);
    EXPECT_EQ(Parse({"-h", "x"}).kind, CommandKind::Help);
    EXPECT_EQ(Parse({"-h", "x", "y"}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"-H"}).kind, CommandKind::ControllerUpdate);
    EXPECT_EQ(Parse({}).programPath, "/opt/tools/QuorlFirmwareUpdateApp");
}

TEST(CommandLine, DebugPrefixIsTakenOnceFromTheFirstWord) {
    const Invocation alone = Parse({"-d"});
    EXPECT_TRUE(alone.debug);
    EXPECT_EQ(alone.kind, CommandKind::Usage);

    const Invocation reboot = Parse({"-d", "-b"});
    EXPECT_TRUE(reboot.debug);
    EXPECT_EQ(reboot.kind, CommandKind::RebootIntoBootloader);

    const Invocation twice = Parse({"-d", "-d"});
    EXPECT_TRUE(twice.debug);
    EXPECT_EQ(twice.kind, CommandKind::ControllerUpdate);
    EXPECT_EQ(twice.path, "-d");

    EXPECT_FALSE(Parse({"-b", "-d"}).debug);
    EXPECT_FALSE(Parse({"-D", "-b"}).debug);
    EXPECT_EQ(Parse({"-D", "-b"}).kind, CommandKind::Usage);
}

TEST(CommandLine, MaintenanceCommands) {
    EXPECT_EQ(Parse({"-b", "ignored", "words"}).kind, CommandKind::RebootIntoBootloader);
    EXPECT_EQ(Parse({"-bx"}).kind, CommandKind::ControllerUpdate);
    EXPECT_EQ(Parse({"-R"}).kind, CommandKind::ResetFromBootloader);
    EXPECT_EQ(Parse({"-R", "more"}).kind, CommandKind::Usage);

    const Invocation serial = Parse({"-S", "ABCDEFGHIJKLMNOPQR", "ignored"});
    EXPECT_EQ(serial.kind, CommandKind::SetUnitSerial);
    EXPECT_EQ(std::string(serial.serial.begin(), serial.serial.end()), "ABCDEFGHIJKLMNOP");

    const Invocation shortSerial = Parse({"-S", "ABC"});
    EXPECT_EQ(std::string(shortSerial.serial.data(), 3), "ABC");
    for (std::size_t i = 3; i < shortSerial.serial.size(); ++i) {
        EXPECT_EQ(shortSerial.serial[i], '\0');
    }
}

TEST(CommandLine, SingleWordIsAnImagePathChosenByItsName) {
    EXPECT_EQ(Parse({"fw_dongle_module.bin"}).kind, CommandKind::DongleUpgrade);
    EXPECT_EQ(Parse({"linktester.bin"}).kind, CommandKind::DongleUpgrade);
    EXPECT_EQ(Parse({"rf_module.bin"}).kind, CommandKind::RadioUpdate);
    EXPECT_EQ(Parse({"x_module/firmware.bin"}).kind, CommandKind::RadioUpdate);
    EXPECT_EQ(Parse({"tivane_v2.bin"}).kind, CommandKind::TivaneUpdate);
    EXPECT_EQ(Parse({"fw_DONGLE.bin"}).kind, CommandKind::ControllerUpdate);
    EXPECT_EQ(Parse({"firmware.bin"}).path, "firmware.bin");
    // Option words alone are image paths too.
    for (const char* word : {"-s", "-S", "-c", "-C", "-v", "-x"}) {
        const Invocation inv = Parse({word});
        EXPECT_EQ(inv.kind, CommandKind::ControllerUpdate) << word;
        EXPECT_EQ(inv.path, word);
    }
}

TEST(CommandLine, EmcTestTakesEveryWordAfterIt) {
    const Invocation none = Parse({"-E"});
    EXPECT_EQ(none.kind, CommandKind::EmcTest);
    EXPECT_TRUE(none.words.empty());
    const Invocation some = Parse({"-d", "-E", "-p", "-4", "1", "39"});
    EXPECT_EQ(some.kind, CommandKind::EmcTest);
    EXPECT_EQ(some.words, (std::vector<std::string>{"-p", "-4", "1", "39"}));
}

TEST(CommandLine, ReleaseTooling) {
    const Invocation crc = Parse({"-c", "rf_module.bin"});
    EXPECT_EQ(crc.kind, CommandKind::RadioCrc);
    EXPECT_FALSE(crc.headerLine);
    EXPECT_EQ(crc.path, "rf_module.bin");
    EXPECT_TRUE(Parse({"-C", "x.bin"}).headerLine);
    EXPECT_EQ(Parse({"-c", "a", "b"}).kind, CommandKind::Usage);

    const Invocation noBootloader = Parse({"-v", "fw.bin", "1500000000"});
    EXPECT_EQ(noBootloader.kind, CommandKind::Manifest);
    EXPECT_EQ(noBootloader.path, "fw.bin");
    EXPECT_EQ(noBootloader.timestamp, "1500000000");
    EXPECT_FALSE(noBootloader.bootloader.has_value());

    const Invocation withBootloader = Parse({"-v", "fw.bin", "1", "boot.bin", "ignored"});
    EXPECT_EQ(withBootloader.bootloader, std::optional<std::string>("boot.bin"));
    EXPECT_EQ(Parse({"-v", "fw.bin"}).kind, CommandKind::Usage);
}

TEST(CommandLine, StandardReflashTakesOneFile) {
    const Invocation inv = Parse({"-s", "app.bin"});
    EXPECT_EQ(inv.kind, CommandKind::SwdReflash);
    EXPECT_EQ(inv.path, "app.bin");
    EXPECT_EQ(inv.address, 0u);
    EXPECT_FALSE(inv.addressWord.has_value());
    EXPECT_FALSE(inv.softDevice.has_value());
    EXPECT_EQ(Parse({"-s", "98304", "app.bin"}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"-s", "sd.bin", "98304", "app.bin"}).kind, CommandKind::Usage);
}

TEST(CommandLine, CompactReflashTakesAddressAndOptionalSoftDevice) {
    const Invocation app = Parse({"-s", "98304", "app.bin"}, Edition::Compact);
    EXPECT_EQ(app.kind, CommandKind::SwdReflash);
    EXPECT_EQ(app.address, 98304u);
    EXPECT_EQ(app.addressWord, std::optional<std::string>("98304"));
    EXPECT_EQ(app.path, "app.bin");
    EXPECT_FALSE(app.softDevice.has_value());

    const Invocation both = Parse({"-s", "sd.bin", "0x18000", "app.bin"}, Edition::Compact);
    EXPECT_EQ(both.softDevice, std::optional<std::string>("sd.bin"));
    EXPECT_EQ(both.address, 98304u);
    EXPECT_EQ(both.path, "app.bin");

    EXPECT_EQ(Parse({"-s", "app.bin"}, Edition::Compact).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"-s", "a", "b", "c", "d"}, Edition::Compact).kind, CommandKind::Usage);
    // Everything else is the same in both editions.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-b"}, {"-R"}, {"-S", "X"}, {"fw.bin"}, {"-v", "a", "b", "c"}, {"-E", "1"}}) {
        EXPECT_EQ(Parse(args, Edition::Compact), Parse(args, Edition::Standard));
    }
}

TEST(CommandLine, AddressesReadInTheirBase) {
    EXPECT_EQ(ParseAddress("98304"), 98304u);
    EXPECT_EQ(ParseAddress("0x18000"), 98304u);
    EXPECT_EQ(ParseAddress("0X18000"), 98304u);
    EXPECT_EQ(ParseAddress("0300000"), 98304u);
    EXPECT_EQ(ParseAddress("1024kb"), 1024u);
    EXPECT_EQ(ParseAddress("09"), 0u);
    EXPECT_EQ(ParseAddress("app"), 0u);
    EXPECT_EQ(ParseAddress(""), 0u);
    // A word that does not begin with a digit gives 0, sign or blank included.
    EXPECT_EQ(ParseAddress("-98304"), 0u);
    EXPECT_EQ(ParseAddress("+5"), 0u);
    EXPECT_EQ(ParseAddress(" 5"), 0u);
    EXPECT_EQ(ParseAddress("0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseAddress("99999999999"), 0xFFFFFFFFu);
    // Only a word that is a number as a whole is taken as an address.
    for (const char* word : {"98304", "0x18000", "0X1f", "0300000", "0", "00", "99999999999"}) {
        EXPECT_TRUE(IsAddressNumber(word)) << word;
    }
    for (const char* word :
         {"", "app.bin", "1024kb", "09", "0x", "0xg", "0x18000 ", "-98304", "+5", " 5", "1e5"}) {
        EXPECT_FALSE(IsAddressNumber(word)) << word;
    }
}

}  // namespace
