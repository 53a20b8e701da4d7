// The machine-wide lock on the power schemes, on a simulated laptop: a step
// waits for another job's step, fails with nothing changed when the wait
// ends, and takes over a lock whose holder ended without releasing it.
#include "power/scheme_lock.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/sim/sim_unique_fd.h"
#include "power/scheme_creation.h"
#include "power/scheme_deletion.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

using ::testing::Contains;

class SchemeLockTest : public PowerRunTest {
 protected:
  std::string LockFile() const {
    return (root_ / "mutex-Global-zReTessalyXP.PowerSchemes.lock").string();
  }
  std::string LockText() const {
    std::ifstream in(LockFile());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(SchemeLockTest, AStepWaitsBoundedForAnotherJobAndThenChangesNothing) {
  StartRun();
  run_->schemeLockWaitMs = 150;
  // Another job's step holds the schemes.
  sim::UniqueFd other(::open(LockFile().c_str(), O_RDWR | O_CREAT, 0666));
  ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(power::CreatePowerScheme(
      *run_, MakeRequest({{"schemename", "Field Work"}, {"hibsupp", "0"}, {"actpowesch", "1"}})));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
  EXPECT_EQ(Failure(),
            "Another job kept the power schemes locked for 150 ms; nothing was changed.");
  EXPECT_EQ(LinesOf("CreatePowerScheme").back(),
            "FAILED|Scheme Lock|150 ms|Another job held the power schemes all that time");
  EXPECT_EQ(Power()["schemes"].size(), 4u);
  EXPECT_TRUE(Commands().empty());

  // Released, the next step goes through and leaves the lock free.
  ::flock(other.get(), LOCK_UN);
  EXPECT_TRUE(power::CreatePowerScheme(*run_, MakeRequest({{"schemename", "Field Work"}})));
  EXPECT_EQ(Power()["schemes"].size(), 5u);
  EXPECT_EQ(LockText(), "");
  EXPECT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(SchemeLockTest, ALockWhoseHolderEndedIsTakenOverAndSaidSo) {
  std::ofstream(LockFile()) << "4242\n";  // its holder's id, never released
  StartRun();
  EXPECT_TRUE(power::DeletePowerScheme(*run_, MakeRequest({{"schemename", "Night Shift"}})));
  EXPECT_THAT(LinesOf("DeletePowerScheme"),
              Contains("INFO|Scheme Lock|Taken Over|The job that held it ended without "
                       "releasing it"));
  EXPECT_THAT(LinesOf("DeletePowerScheme"), Contains("SUCCESS|Scheme Deleted||Night Shift"));
  EXPECT_EQ(LockText(), "");  // released in turn
}

}  // namespace
}  // namespace zrt::test
