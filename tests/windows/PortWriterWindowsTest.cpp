// The real one-byte write to a COM port, under Wine, which opens COMn as the
// device that $WINEPREFIX/dosdevices/comn links to: scripts/test-windows.sh
// links a pseudo-terminal as com12, whose far end socat copies into the file
// com12.received, and a plain file, com13.plain, as com13, both in the folder
// that QUORL_WINE_PORTS names. Without it (on Windows itself) they are skipped.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

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

// Bytes that reach the far end of COM12 from now on, until the last
// expected one has come (socat passes them on a moment later).
class Com12Arrivals {
public:
    explicit Com12Arrivals(std::string folder)
        : path(std::move(folder) + "/com12.received"), before(Contents(path).size()) {}
    Bytes Until(std::uint8_t last) const {
        Bytes arrived;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while ((arrived.empty() || arrived.back() != last) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const Bytes all = Contents(path);
            arrived.assign(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        }
        return arrived;
    }

private:
    std::string path;
    std::size_t before;
};

// A port of two digits, which opens only by its device-namespace name.
TEST_F(WinePorts, RestartByteReachesComTwelve) {
    const Com12Arrivals arrivals(folder);
    ASSERT_TRUE(platform::WriteByteToPort("COM12", 0xFE, 1000));
    EXPECT_EQ(arrivals.Until(0xFE), Bytes{0xFE});
}

// Another program holds the port: the open fails, and the tool says so in
// its own words. Windows' serial drivers refuse a second open with "Access
// denied"; Wine does not keep a terminal to one opener, so the port held here
// is COM13, the plain file, which Wine refuses with a sharing violation.
TEST_F(WinePorts, PortHeldByAnotherProgramIsInUse) {
    const HANDLE holder = CreateFileW(L"\\\\.\\COM13", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::string why;
    EXPECT_FALSE(platform::WriteByteToPort("COM13", 0xFE, 100, &why));
    CloseHandle(holder);
    EXPECT_EQ(why, "COM13 is in use by another program");
}

// Under a unit limit the port is checked once it is open and held (so that
// its name cannot pass to another device before the byte goes): a port the
// check refuses is closed untouched, and the byte written next is the first
// to arrive.
TEST_F(WinePorts, PortRefusedOnceOpenGetsNothing) {
    const Com12Arrivals arrivals(folder);
    std::string why;
    bool checkedOpen = false;
    EXPECT_FALSE(platform::WriteByteToPort("COM12", 0xAA, 1000, &why, [&](void* port) {
        DCB state{};
        state.DCBlength = sizeof state;
        checkedOpen = GetCommState(static_cast<HANDLE>(port), &state);
        return std::string("COM12 is no longer at PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)");
    }));
    EXPECT_TRUE(checkedOpen);
    EXPECT_EQ(why, "COM12 is no longer at PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)");
    ASSERT_TRUE(platform::WriteByteToPort("COM12", 0xFE, 1000, &why, [](void*) { return std::string(); }));
    EXPECT_EQ(arrivals.Until(0xFE), Bytes{0xFE});
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
