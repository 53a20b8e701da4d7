// The simulated processes and tokens: snapshot order, refusals with their
// error codes, and whose name GetUserNameA gives while impersonating.
#include <string>
#include <vector>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

class SimProcessesTest : public SimMachineTest {
 protected:
  SimProcessesTest() {
    Reopen("processes.json", R"({
      "agent_account": "SYSTEM",
      "processes": [
        {"pid": 4, "name": "System"},
        {"pid": 1640, "name": "explorer.exe", "user": "jsmith"},
        {"pid": 1700, "name": "EXPLORER.EXE", "user": "guest", "open_error": 5},
        {"pid": 1800, "name": "explorer.exe", "user": "mjones", "token_error": 8},
        {"pid": 1900, "name": "explorer.exe", "user": "pwong", "impersonate_error": 1314}
      ]
    })");
  }

  port::Processes& Processes() { return sim_->Platform().processes; }

  std::string UserName() {
    std::string name;
    EXPECT_TRUE(Processes().GetUserNameA(name, 1024));
    return name;
  }

  std::unique_ptr<port::KernelHandle> TokenOf(std::uint32_t pid) {
    const auto process = Processes().OpenProcess(pid);
    return process ? Processes().OpenProcessToken(process.get()) : nullptr;
  }
};

TEST_F(SimProcessesTest, SnapshotListsProcessesInStoredOrderOrFailsWithItsCode) {
  std::vector<port::ProcessEntry> entries;
  ASSERT_TRUE(Processes().SnapshotProcesses(entries));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].exeFile, "System");
  EXPECT_EQ(entries[1].processId, 1640u);
  EXPECT_EQ(entries[2].exeFile, "EXPLORER.EXE");

  Reopen("processes.json", R"({"snapshot_error": 8, "processes": [{"pid": 4, "name": "System"}]})");
  entries.clear();
  EXPECT_TRUE(Refused(Processes().SnapshotProcesses(entries), 8));
  EXPECT_TRUE(entries.empty());
}

TEST_F(SimProcessesTest, ImpersonationSwitchesTheUserUntilRevert) {
  EXPECT_EQ(UserName(), "SYSTEM");
  auto token = TokenOf(1640);
  ASSERT_NE(token, nullptr);
  ASSERT_TRUE(Processes().ImpersonateLoggedOnUser(*token));
  EXPECT_EQ(UserName(), "jsmith");
  token.reset();
  EXPECT_EQ(UserName(), "jsmith") << "closing the token does not end impersonation";
  EXPECT_TRUE(Processes().RevertToSelf());
  EXPECT_EQ(UserName(), "SYSTEM");
}

TEST_F(SimProcessesTest, RefusalsSetTheConfiguredErrorsAndWrongHandlesAreInvalid) {
  EXPECT_TRUE(Refused(Processes().OpenProcess(1700) != nullptr, 5));
  EXPECT_TRUE(Refused(Processes().OpenProcess(9999) != nullptr, 87));
  EXPECT_TRUE(Refused(TokenOf(1800) != nullptr, 8));

  auto token = TokenOf(1900);
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(Refused(Processes().ImpersonateLoggedOnUser(*token), 1314));
  EXPECT_EQ(UserName(), "SYSTEM");

  // Handles of the wrong kind are invalid.
  EXPECT_TRUE(Refused(Processes().OpenProcessToken(nullptr) != nullptr, 6));
  const auto process = Processes().OpenProcess(1640);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(Refused(Processes().ImpersonateLoggedOnUser(*process), 6));
  token = Processes().OpenProcessToken(process.get());
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(Refused(Processes().OpenProcessToken(token.get()) != nullptr, 6));
}

TEST_F(SimProcessesTest, UserNameNeedsRoomForItsTerminator) {
  std::string name = "unchanged";
  EXPECT_TRUE(Refused(Processes().GetUserNameA(name, 6), 122));  // "SYSTEM" needs 7
  EXPECT_EQ(name, "unchanged");
  EXPECT_TRUE(Processes().GetUserNameA(name, 7));
  EXPECT_EQ(name, "SYSTEM");
}

}  // namespace
}  // namespace zrt::test
