// Scheme lookup and deletion against the simulated power profile: matching,
// the run-wide highest index, and every row of deletion's failure table.
#include "power/scheme_deletion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "power/scheme_lookup.h"
#include "report/activity_log.h"
#include "support/job_machine.h"

namespace zrt::test {
namespace {

using ::testing::ElementsAre;

class SchemeTest : public JobMachineTest {
 protected:
  run::Run& StartRun(bool vista = false) {
    run_ = std::make_unique<run::Run>(Open(), report::MakeActivityLog);
    run_->context.vistaOrLater = vista;
    run_->context.dataFolder.Assign(
        "C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
    return *run_;
  }
  bool Delete(const std::string& name) {
    jobdoc::PowerRequest request;
    request.schemename.Assign(name);
    return power::DeletePowerScheme(*run_, request);
  }
  std::string Failure() const { return run_->buffers.failureMessage.str(); }
  std::vector<std::string> DeletionLines() const {
    std::vector<std::string> lines;
    for (const auto& line : LogLines()) {
      if (line.rfind("DeletePowerScheme|", 0) == 0) lines.push_back(line.substr(18));
    }
    return lines;
  }

  std::unique_ptr<run::Run> run_;
};

TEST_F(SchemeTest, LookupMatchesNamesIgnoringCaseNeverDescriptions) {
  WriteSchemes(R"([{"index": 0, "name": "Desk", "description": "Quiet"},
                   {"index": 7, "name": "Quiet Night", "description": "x"},
                   {"index": 3, "name": "quiet night", "description": "the later one"}])");
  run::Run& run = StartRun();
  EXPECT_TRUE(power::LookUpScheme(run, "QUIET NIGHT"));
  EXPECT_EQ(run.lookup.foundIndex, 3u);
  EXPECT_EQ(run.lookup.foundDescription, "the later one");
  EXPECT_EQ(run.lookup.schemeCount, 3);
  EXPECT_EQ(run.lookup.highestIndex, 7u);

  EXPECT_FALSE(power::LookUpScheme(run, "Quiet"));
  EXPECT_EQ(run.lookup.foundIndex, 0u);
  EXPECT_TRUE(run.lookup.foundDescription.empty());
}

TEST_F(SchemeTest, HighestIndexIsKeptAcrossLookupsOfOneRun) {
  WriteSchemes(R"([{"index": 0, "name": "A"}, {"index": 9, "name": "B"}])");
  run::Run& run = StartRun();
  power::LookUpScheme(run, "A");
  WriteSchemes(R"([{"index": 2, "name": "C"}])");
  EXPECT_FALSE(power::LookUpScheme(run, "A"));
  EXPECT_EQ(run.lookup.schemeCount, 1);
  EXPECT_EQ(run.lookup.highestIndex, 9u);
}

TEST_F(SchemeTest, MoreSchemesThanTheTableHoldsAreStillFoundAndNothingOverflows) {
  std::string schemes = "[{\"index\": 200, \"name\": \"" + std::string(150, 'L') + "\"}";
  for (int i = 0; i < 130; ++i) {
    schemes += ",{\"index\": " + std::to_string(i) + ", \"name\": \"S" + std::to_string(i) +
               std::string(40, 'x') + "\"}";
  }
  WriteSchemes(schemes + "]", 0);
  run::Run& run = StartRun();
  const std::string last = "s129" + std::string(40, 'X');
  EXPECT_TRUE(power::LookUpScheme(run, last));
  EXPECT_EQ(run.lookup.schemeCount, 100);
  EXPECT_EQ(run.lookup.foundIndex, 129u);
  EXPECT_EQ(run.lookup.schemeNames[0].view(), std::string(99, 'L'));
  EXPECT_TRUE(Delete(last));
  EXPECT_EQ(SchemeNames().size(), 130u);
}

TEST_F(SchemeTest, DeletesTheSchemeNamedInAnotherCase) {
  StartRun();
  EXPECT_TRUE(Delete("NIGHT SHIFT"));
  EXPECT_THAT(SchemeNames(), ElementsAre("Home/Office Desk", "Portable/Laptop", "Presentation"));
  EXPECT_THAT(DeletionLines(),
              ElementsAre("SUCCESS|GetActivePwrScheme||", "INFO|Scheme Present||NIGHT SHIFT",
                          "SUCCESS|Scheme Deleted||NIGHT SHIFT"));
}

TEST_F(SchemeTest, MissingSchemeIsNothingToDo) {
  StartRun();
  EXPECT_TRUE(Delete("Nowhere"));
  EXPECT_EQ(SchemeNames().size(), 4u);
  EXPECT_THAT(DeletionLines(),
              ElementsAre("SUCCESS|GetActivePwrScheme||", "INFO|Scheme Not Present||Nowhere"));
  EXPECT_TRUE(Failure().empty());
}

TEST_F(SchemeTest, ActiveSchemeIsRefused) {
  StartRun();
  EXPECT_FALSE(Delete("portable/laptop"));
  EXPECT_EQ(Failure(), "Scheme Is Currently Active hence not Deleted.");
  EXPECT_EQ(DeletionLines().back(), "FAILED|Scheme Deleted||Scheme Is Currently Activated");
  EXPECT_EQ(SchemeNames().size(), 4u);
}

TEST_F(SchemeTest, TheLastOfTwoEqualNamesIsTheOneComparedAndRemoved) {
  WriteSchemes(R"([{"index": 1, "name": "Twin"}, {"index": 4, "name": "TWIN"}])", 4);
  StartRun();
  EXPECT_FALSE(Delete("twin"));
  WriteSchemes(R"([{"index": 1, "name": "Twin"}, {"index": 4, "name": "TWIN"}])", 1);
  EXPECT_TRUE(Delete("twin"));
  EXPECT_THAT(SchemeNames(), ElementsAre("Twin"));
}

TEST_F(SchemeTest, MissingRightFailsBeforeThePresenceTestOnEveryVersion) {
  WriteSchemes(R"([{"index": 0, "name": "A"}])", 0, "\"user_may_write\": false");
  for (bool vista : {false, true}) {
    StartRun(vista);
    EXPECT_FALSE(Delete("Nowhere"));
    EXPECT_EQ(Failure(),
              "The current user does not have sufficient privilege to Delete a power scheme.");
  }
  EXPECT_EQ(DeletionLines().back(), "INFO|CanUserWritePwrScheme - NO|5|Access is denied.\r");
}

TEST_F(SchemeTest, ActiveSchemeQueryFailureGivesTheVistaTextOnlyFromVistaOn) {
  WriteSchemes(R"([{"index": 0, "name": "A"}])", 0, R"("failures": {"GetActivePwrScheme": 87})");
  StartRun(false);
  EXPECT_FALSE(Delete("Nowhere"));
  EXPECT_EQ(Failure(), "Failed to get active power scheme : The parameter is incorrect.\r\n");
  EXPECT_EQ(DeletionLines().back(), "FAILED|GetActivePwrScheme|87|The parameter is incorrect.\r");

  StartRun(true);
  EXPECT_FALSE(Delete("A"));
  EXPECT_EQ(Failure(), "Os Type is Windows Vista/Windows 2008/Windows 7");
}

TEST_F(SchemeTest, PlatformRefusingTheDeletionIsReportedWithItsText) {
  WriteSchemes(R"([{"index": 0, "name": "A"}, {"index": 2, "name": "B"}])", 0,
               R"("failures": {"DeletePwrScheme": 5})");
  StartRun();
  EXPECT_FALSE(Delete("B"));
  EXPECT_EQ(Failure(), "Failed to delete power scheme : Access is denied.\r\n");
  const auto lines = DeletionLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "FAILED|Scheme Deleted||B");
  EXPECT_EQ(lines.back(), "FAILED|Scheme Deleted|5|Access is denied.\r");
}

TEST_F(SchemeTest, OnlyExactNamesAreLookedUpOrMatched) {
  const std::string longest(49, 'N');
  WriteSchemes(R"([{"index": 0, "name": "Desk"}, {"index": 2, "name": "??"},
                   {"index": 3, "name": "\u7701\u96fb"}, {"index": 4, "name": ")" +
                   longest + R"("}])",
               0);
  run::Run& run = StartRun();
  // A request value that did not reach its field whole fails the step
  // before anything is looked up.
  const struct {
    std::string text;
    bool lossy;
    std::string failure;
  } refused[] = {
      {longest + "X", false,
       "The scheme name is longer than 49 bytes in this machine's code page."},
      {"\x8A?", true, "The scheme name holds characters outside the machine's code page."},
  };
  for (const auto& c : refused) {
    jobdoc::PowerRequest request;
    request.Fill(*jobdoc::FindElementField("schemename"), c.text, c.lossy);
    EXPECT_FALSE(power::DeletePowerScheme(run, request));
    EXPECT_EQ(Failure(), c.failure);
    EXPECT_EQ(DeletionLines().back(),
              "FAILED|schemename|" + request.schemename.str() + "|" + c.failure);
  }
  EXPECT_THAT(DeletionLines(), ::testing::SizeIs(2));
  EXPECT_EQ(SchemeNames().size(), 4u);

  // A name that lost characters is listed, but never matches: "??" finds
  // only the scheme really named so.
  EXPECT_TRUE(power::LookUpScheme(run, "??"));
  EXPECT_EQ(run.lookup.schemeNames[2], "??");
  EXPECT_EQ(run.lookup.foundIndex, 2u);
  EXPECT_TRUE(Delete("??"));
  EXPECT_TRUE(Delete("??"));
  EXPECT_EQ(DeletionLines().back(), "INFO|Scheme Not Present||??");
  EXPECT_TRUE(Delete(longest));
  EXPECT_THAT(SchemeNames(), ElementsAre("Desk", "\xE7\x9C\x81\xE9\x9B\xBB"));
}

TEST_F(SchemeTest, FailedEnumerationFailsTheDeletionWithItsText) {
  WriteSchemes(R"([{"index": 0, "name": "A"}, {"index": 2, "name": "B"}])", 0,
               R"("failures": {"EnumPwrSchemes": 5})");
  StartRun();
  EXPECT_FALSE(Delete("B"));
  EXPECT_EQ(Failure(), "Failed to list the power schemes : Access is denied.\r\n");
  EXPECT_THAT(DeletionLines(), ElementsAre("FAILED|EnumPwrSchemes|5|Access is denied.\r"));
  EXPECT_EQ(SchemeNames().size(), 2u);
}

}  // namespace
}  // namespace zrt::test
