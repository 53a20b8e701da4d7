// The exception path of the power operations and the command runner.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "power/command_runner.h"
#include "power/scheme_creation.h"
#include "power/scheme_deletion.h"
#include "power/scheme_modification.h"
#include "support/power_run.h"

namespace zrt::test {
namespace {

class OperationExceptionTest : public PowerRunTest {};

// A machine whose power state cannot be read raises an exception inside
// each operation: it is logged under the operation's module and the job ends
// at once.
TEST_F(OperationExceptionTest, AnExceptionInsideAnOperationIsLoggedAndEndsTheJob) {
  using Operation = bool (*)(run::Run&, jobdoc::PowerRequest);
  const std::vector<std::pair<std::string, Operation>> operations = {
      {"CreatePowerScheme",
       [](run::Run& r, jobdoc::PowerRequest q) { return power::CreatePowerScheme(r, q); }},
      {"ModifyPowerScheme",
       [](run::Run& r, jobdoc::PowerRequest q) { return power::ModifyPowerScheme(r, q); }},
      {"DeletePowerScheme", power::DeletePowerScheme},
      {"ExecuteCMD",
       [](run::Run& r, jobdoc::PowerRequest) {
         return power::ExecuteCMD(r, "Powercfg.exe /LIST");
       }},
  };
  for (const auto& [module, operation] : operations) {
    SCOPED_TRACE(module);
    WritePower();
    std::filesystem::remove(root_ / kLogFile);
    StartRun();
    Write("power.json", "{ not a power state");
    EXPECT_THROW(operation(*run_, MakeRequest({{"schemename", "Night Shift"}})), run::JobAborted);
    ASSERT_FALSE(LinesOf(module).empty());
    EXPECT_THAT(LinesOf(module).back(), ::testing::StartsWith("ERROR|Exception Occured|"));
  }
}

}  // namespace
}  // namespace zrt::test
