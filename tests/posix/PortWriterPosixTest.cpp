// The real one-byte write to a serial port on POSIX: a pseudo-terminal
// stands in for the USB serial port.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/serial/PortWriter.h"
#include "testsupport/TempFiles.h"
#include "testsupport/posix/PseudoTerminalPair.h"

namespace {

// A pseudo-terminal pair standing in for a USB serial port.
class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.Opened()); }
    PseudoTerminalPair pty;
};

TEST_F(PseudoTerminal, RestartByteArrivesAtTheFarEnd) {
    ASSERT_TRUE(platform::WriteByteToPort(pty.Path(), 0xFE, 1000));
    EXPECT_EQ(pty.Received(), std::vector<std::uint8_t>{0xFE});
}

TEST_F(PseudoTerminal, PortThatTakesNothingFailsInsteadOfHanging) {
    // Output suspended, as by flow control: the port takes nothing.
    ASSERT_TRUE(pty.SuspendOutput());

    EXPECT_FALSE(platform::WriteByteToPort(pty.Path(), 0xFE, 20));
    EXPECT_TRUE(pty.Received().empty());
}

TEST(TtyWriter, LeavesAnythingThatIsNoTerminalAlone) {
    const std::vector<std::uint8_t> content = {1, 2, 3};
    TempFile file(content, "_COM5");
    std::string why;
    EXPECT_FALSE(platform::WriteByteToPort(file.Path(), 0xFE, 100, &why));
    EXPECT_EQ(why, file.Path() + " is not a serial port");
    std::ifstream check(file.Path(), std::ios::binary);
    const std::vector<std::uint8_t> after{std::istreambuf_iterator<char>(check), {}};
    EXPECT_EQ(after, content);
    EXPECT_FALSE(platform::WriteByteToPort(file.Path() + ".absent", 0xFE, 100, &why));
    EXPECT_EQ(why, file.Path() + ".absent: No such file or directory");
}

}  // namespace
