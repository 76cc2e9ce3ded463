// The real one-byte write to a COM port, under Wine, which opens COMn as the
// device that $WINEPREFIX/dosdevices/comn links to: scripts/test-windows.sh
// links a pseudo-terminal as com12, whose far end socat copies into the file
// com12.received, and a plain file, com13.plain, as com13, both in the folder
// that QUORL_WINE_PORTS names. Without it (on Windows itself) they are skipped.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/serial/PortWriter.h"
#include "testsupport/Bytes.h"

namespace {

Bytes Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(file), {}};
}

class WinePorts : public ::testing::Test {
protected:
    void SetUp() override {
        const char* ports = std::getenv("QUORL_WINE_PORTS");
        if (ports == nullptr) {
            GTEST_SKIP() << "no QUORL_WINE_PORTS: the ports are set up by scripts/test-windows.sh";
        }
        folder = ports;
    }
    std::string folder;
};

// A port of two digits, which opens only by its device-namespace name.
TEST_F(WinePorts, RestartByteReachesComTwelve) {
    ASSERT_TRUE(platform::WriteByteToPort("COM12", 0xFE, 1000));
    // socat passes on what arrives at the far end a moment later.
    Bytes received;
    for (int wait = 0; wait < 200 && received.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        received = Contents(folder + "/com12.received");
    }
    EXPECT_EQ(received, Bytes{0xFE});
}

TEST_F(WinePorts, LeavesAnythingThatIsNoSerialPortAlone) {
    const std::string plain = folder + "/com13.plain";
    const Bytes before = Contents(plain);
    ASSERT_FALSE(before.empty());
    std::string why;
    EXPECT_FALSE(platform::WriteByteToPort("COM13", 0xFE, 100, &why));
    EXPECT_EQ(why, "COM13 is not a serial port");
    EXPECT_EQ(Contents(plain), before);
    // No device behind the name at all: the system's own message.
    EXPECT_FALSE(platform::WriteByteToPort("COM14", 0xFE, 100, &why));
    EXPECT_EQ(why.rfind("COM14: ", 0), 0u) << why;
    EXPECT_GT(why.size(), std::string("COM14: ").size()) << why;
}

// A terminal program holds the port: Windows refuses a second open with
// "Access denied" (Wine lets it open, so the refusal is given here as the
// system gives it); another error is the system's own message.
TEST(ComPortFailure, PortHeldByAnotherProgramIsNamedAsInUse) {
    EXPECT_EQ(platform::ComPortFailure("COM5", ERROR_ACCESS_DENIED), "COM5 is in use by another program");
    EXPECT_EQ(platform::ComPortFailure("COM12", ERROR_SHARING_VIOLATION),
              "COM12 is in use by another program");
    const std::string missing = platform::ComPortFailure("COM5", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.rfind("COM5: ", 0), 0u) << missing;
    EXPECT_NE(missing.find_first_not_of(' ', 6), std::string::npos) << missing;
    EXPECT_NE(missing.back(), '\n');
}

}  // namespace
