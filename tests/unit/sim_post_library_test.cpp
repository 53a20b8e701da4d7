// The simulated post library: loading, the entry point, answers in order
// and the record of every post.
#include <sstream>
#include <string>
#include <vector>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

constexpr const char* kLibrary = "C:\\Program Files\\Merqel\\zCourier.dll";
constexpr const char* kLibraryFile = "drive_c/Program Files/Merqel/zCourier.dll";

class SimPostLibraryTest : public SimMachineTest {
 protected:
  port::PostLibrary& Post() { return sim_->Platform().post; }

  // Installs the library and loads it with its entry point.
  void Loaded(const std::string& description) {
    Reopen(kLibraryFile, description);
    ASSERT_TRUE(Post().LoadLibraryA(kLibrary));
    ASSERT_TRUE(Post().GetProcAddress("WebPostData"));
  }

  port::CallOutcome Call(port::WebPostResults& results, const port::WideText& url = u"u") {
    return Post().WebPostData({url, u"<doc/>", u"N", u"", u"", u"", u""}, results, 60000);
  }

  std::vector<sim::Json> Records() const {
    std::vector<sim::Json> records;
    std::istringstream lines(Read("posts.jsonl"));
    for (std::string line; std::getline(lines, line);) records.push_back(sim::Json::parse(line));
    return records;
  }
};

TEST_F(SimPostLibraryTest, MissingOrForeignLibraryFilesDoNotLoadAndTheEntryPointMustBeExported) {
  Open();
  EXPECT_TRUE(Refused(Post().LoadLibraryA(kLibrary), 126));
  EXPECT_FALSE(Post().GetProcAddress("WebPostData")) << "no library loaded";

  Reopen(kLibraryFile, "MZ\x90 not a description");
  EXPECT_TRUE(Refused(Post().LoadLibraryA(kLibrary), 193));

  Reopen(kLibraryFile, R"({"exports": ["SomethingElse"]})");
  ASSERT_TRUE(Post().LoadLibraryA("c:\\program files\\merqel\\ZCOURIER.DLL"));
  EXPECT_TRUE(Refused(Post().GetProcAddress("WebPostData"), 127));
  EXPECT_TRUE(Post().GetProcAddress("SomethingElse"));
}

TEST_F(SimPostLibraryTest, AnswersComeInOrderAndTheLastRepeats) {
  Loaded(R"({"answers": [
      {"result": "0", "error": "Server unreachable", "further": "timeout"},
      {"result": 1},
      {},
      {"result": "1"}]})");

  port::WebPostResults results;
  ASSERT_EQ(Call(results), port::CallOutcome::Returned);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Text);
  EXPECT_EQ(results.result.text, u"0");
  EXPECT_EQ(results.error.text, u"Server unreachable");
  EXPECT_EQ(results.further.text, u"timeout");

  Call(results);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Other);
  EXPECT_EQ(results.error.kind, port::VariantResult::Kind::Empty);

  Call(results);
  EXPECT_EQ(results.result.kind, port::VariantResult::Kind::Empty);

  for (int i = 0; i < 2; ++i) {
    results = {};
    Call(results);
    EXPECT_EQ(results.result.text, u"1");
  }
}

TEST_F(SimPostLibraryTest, EveryPostIsRecordedAndLaterRunsGoOnFromTheRecord) {
  Loaded(R"({"answers": [{"raises": true}, {"result": "1"}]})");
  port::WebPostResults results;
  EXPECT_EQ(Call(results, u"https://a/\u00e9"), port::CallOutcome::Raised);
  EXPECT_EQ(Call(results, u"https://b"), port::CallOutcome::Returned);

  const auto records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["outcome"], "raised");
  EXPECT_EQ(records[0]["texts"][0], "https://a/\xC3\xA9");
  EXPECT_EQ(records[0]["texts"][1], "<doc/>");
  EXPECT_EQ(records[0]["texts"].size(), 7u);
  EXPECT_EQ(records[1]["outcome"], "returned");
  EXPECT_EQ(records[1]["library"], kLibrary);

  // A later run on the machine goes on from the posts recorded, not from
  // the first answer again.
  Loaded(R"({"answers": [{"raises": true}, {"result": "1"}]})");
  EXPECT_EQ(Call(results), port::CallOutcome::Returned);
  EXPECT_EQ(Records().back()["call"], 3);
}

TEST_F(SimPostLibraryTest, LibraryWithoutAnswersAcceptsEveryPost) {
  Loaded("{}");
  port::WebPostResults results;
  Call(results);
  EXPECT_EQ(results.result.text, u"1");
  EXPECT_EQ(results.error.kind, port::VariantResult::Kind::Empty);
}

TEST_F(SimPostLibraryTest, HangingLibraryOnSimulatedTimeTimesOutAtOnceAfterTheWholeBound) {
  Loaded(R"({"answers": [{"hangs": true}]})");
  sim_->Machine().KeepSimulatedTime();
  port::WebPostResults results;
  EXPECT_EQ(Call(results), port::CallOutcome::TimedOut);
  EXPECT_EQ(sim_->Machine().ElapsedMs(), 60000u);
  EXPECT_EQ(Records().back()["outcome"], "hung");
}

}  // namespace
}  // namespace zrt::test
