// The machine's JSON file kept parsed between calls: what it writes is what
// a whole dump of the contents gives, however the contents changed, and a
// change that fails leaves the file and the kept contents as they were;
// kept in memory, what it writes at a flush.
#include "platform/sim/sim_cached_json_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "support/scratch_folder.h"

namespace zrt::test {
namespace {

class SimCachedJsonFileTest : public ::testing::Test {
 protected:
  SimCachedJsonFileTest()
      : path_(scratch_.Write("state.json", R"({"active": 1, "none": [], "empty": {},
          "list": [{"index": 0, "policy": {"Idle": {"Action": 2}}, "notes": ["a", "b"]},
                   {"index": 1, "name": "Caf\u00e9 \"quoted\"\n", "ratio": 0.5},
                   [1, [2]], "text", 3, {}],
          "tail": {"nested": [{"deep": true}]}})")),
        file_(path_, sim::Json::object()) {}

  std::string OnDisk() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  ScratchFolder scratch_;
  std::string path_;
  sim::CachedJsonFile file_;
};

TEST_F(SimCachedJsonFileTest, WritesWhatAWholeDumpGivesHoweverTheContentsChanged) {
  using Change = std::function<void(sim::Json&)>;
  const std::vector<Change> changes = {
      [](sim::Json& j) { j["active"] = 2; },
      [](sim::Json& j) { j["list"][0]["policy"]["Idle"]["Action"] = 3; },
      [](sim::Json& j) { j["list"].erase(1); },
      [](sim::Json& j) {
        j["list"].push_back({{"index", 7}, {"name", "new"}});
      },
      [](sim::Json& j) { j["list"][1][1].push_back(5); },
      [](sim::Json& j) { j["list"].erase(0); },
      [](sim::Json& j) {
        j["none"].push_back({{"first", 1}});
      },
      [](sim::Json& j) { j.erase("tail"); },
      [](sim::Json& j) { j = sim::Json::object(); },
  };
  sim::Json expected = file_.Read();
  for (std::size_t k = 0; k < changes.size(); ++k) {
    SCOPED_TRACE("change " + std::to_string(k));
    file_.Update(changes[k]);
    changes[k](expected);
    EXPECT_EQ(file_.Read(), expected);
    EXPECT_EQ(OnDisk(), expected.dump(2) + "\n");
  }
}

TEST_F(SimCachedJsonFileTest, AChangeThatFailsLeavesTheFileAndWhatIsKeptAsTheyWere) {
  const std::string before = OnDisk();
  EXPECT_THROW(file_.Update([](sim::Json& j) {
    j["active"] = 5;
    throw sim::MachineError("cannot write");
  }),
               sim::MachineError);
  EXPECT_EQ(file_.Read()["active"], 1);
  EXPECT_EQ(OnDisk(), before);
}

// Kept in memory (a private machine): changes reach the disk only at Flush,
// all of them; a later change that fails may not quietly undo the earlier.
TEST_F(SimCachedJsonFileTest, KeptInMemoryWritesEveryChangeAtFlushAndNeverUndoesOne) {
  const std::string before = OnDisk();
  file_.KeepInMemory();
  file_.Update([](sim::Json& j) { j["active"] = 2; });
  file_.Update([](sim::Json& j) { j["list"].erase(0); });
  EXPECT_EQ(OnDisk(), before);
  sim::Json expected = file_.Read();
  file_.Flush();
  EXPECT_EQ(OnDisk(), expected.dump(2) + "\n");

  file_.Update([](sim::Json& j) { j["active"] = 3; });
  EXPECT_THROW(file_.Update([](sim::Json&) { throw sim::MachineError("no room"); }),
               sim::MachineError);
  EXPECT_THROW(file_.Read(), sim::MachineError);  // not the file's active 2
  EXPECT_EQ(OnDisk(), expected.dump(2) + "\n");
}

}  // namespace
}  // namespace zrt::test
