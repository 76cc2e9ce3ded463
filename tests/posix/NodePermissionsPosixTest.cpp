// A device node's permissions as the tool's own open meets them: a tool
// installed setgid to the group that owns the nodes (or setuid) is granted
// what its effective group may open, although its real user may not.
#include <string>

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/access/NodePermissions.h"
#include "testsupport/TempFiles.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNodeGroup = 4242;  // the group of a udev rule's nodes

// Runs the check in a child that is the real user nobody with the node's
// group as its effective group only (what a setgid install gives); its exit
// status is the answer: 0 granted, 1 denied, 2 anything else, 3 no switch.
int AnswerInChild(const std::string& node) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNodeGroup, kNobody) != 0 ||
            setresuid(kNobody, kNobody, kNobody) != 0) {
            _exit(3);
        }
        switch (platform::NodePermissionsForThisProcess(node)) {
            case platform::NodeAccess::Granted: _exit(0);
            case platform::NodeAccess::Denied: _exit(1);
            default: _exit(2);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NodePermissions, EffectiveGroupOfASetgidInstallIsGranted) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing the user and groups needs root";
    }
    TempFile node(std::vector<std::uint8_t>{0}, "_hidraw");
    ASSERT_EQ(chown(node.Path().c_str(), 0, kNodeGroup), 0);
    ASSERT_EQ(chmod(node.Path().c_str(), 0660), 0);
    EXPECT_EQ(AnswerInChild(node.Path()), 0);
    // Not the group's: the effective group does not help.
    ASSERT_EQ(chmod(node.Path().c_str(), 0600), 0);
    EXPECT_EQ(AnswerInChild(node.Path()), 1);
    EXPECT_EQ(AnswerInChild(node.Path() + ".absent"), 2);
}

}  // namespace
