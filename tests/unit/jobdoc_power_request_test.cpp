#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "jobdoc/power_request.h"

namespace zrt::jobdoc {
namespace {

// Every field in record order with its capacity, as the job documents and
// the power operations know them.
const std::vector<std::pair<std::string, std::size_t>> kExpectedFields = {
    {"value", 50},          {"ostype", 50},          {"actpowesch", 50},
    {"action", 50},         {"schemename", 50},      {"schemeDesc", 2048},
    {"modifyoption", 124},  {"overwriteifexst", 21}, {"turnoffpi", 21},
    {"turnoffrb", 21},      {"tohdpi", 21},          {"tohdrb", 21},
    {"sysstandpi", 21},     {"sysstandrb", 21},      {"hibsupp", 21},
    {"syshibpi", 21},       {"syshibrb", 21},        {"dimvideo", 21},
    {"ring", 21},           {"promptasstandby", 21}, {"multib", 21},
    {"taskb", 21},          {"powerbtn", 50},        {"sleepbtn", 50},
    {"closelid", 50},       {"procthrotac", 50},     {"procthrotdc", 50},
    {"lowbatactivate", 50}, {"lowbatlev", 50},       {"lowbatsound", 50},
    {"lowbatmsg", 50},      {"lowbataction", 50},    {"lowbatforce", 50},
    {"lowbatrunprog", 50},  {"critbatactivate", 50}, {"critbatlevel", 50},
    {"critbatsound", 50},   {"critbatmsg", 50},      {"critbataction", 50},
    {"critbatforce", 50},   {"critbatrunprog", 50},
};

TEST(PowerRequestTest, EveryFieldIsReachableByItsIdentifierAndDistinct) {
  PowerRequest request;
  ASSERT_EQ(PowerRequestFields().size(), kExpectedFields.size());
  for (std::size_t i = 0; i < kExpectedFields.size(); ++i) {
    const auto& [name, capacity] = kExpectedFields[i];
    const PowerRequestField& field = FieldOf(static_cast<Field>(i));
    EXPECT_EQ(&field, &PowerRequestFields()[i]);
    EXPECT_EQ(field.name, name);
    EXPECT_EQ(field.capacity, capacity) << name;
    field.assign(request, name + std::string(capacity, '+'), {});  // over-long on purpose
  }
  std::set<std::string> seen;
  for (std::size_t i = 0; i < kExpectedFields.size(); ++i) {
    const auto& [name, capacity] = kExpectedFields[i];
    const std::string stored(request.Read(static_cast<Field>(i)));
    EXPECT_EQ(stored, (name + std::string(capacity, '+')).substr(0, capacity - 1));
    seen.insert(stored);
  }
  EXPECT_EQ(seen.size(), kExpectedFields.size());  // no two names share a field
  EXPECT_EQ(request.schemeDesc.size(), 2047u);
  EXPECT_EQ(request.critbatrunprog.view().substr(0, 14), "critbatrunprog");

  request.Clear();
  for (const PowerRequestField& field : PowerRequestFields()) {
    EXPECT_TRUE(field.read(request).empty()) << field.name;
  }
}

TEST(PowerRequestTest, ElementNamesMatchIgnoringCase) {
  EXPECT_EQ(FindElementField("SCHEMEDESC"), &FieldOf(Field::schemeDesc));
  EXPECT_EQ(FindElementField("ProcThrotAC"), &FieldOf(Field::procthrotac));
  EXPECT_EQ(FindElementField("value"), nullptr);  // filled from the attribute only
  EXPECT_EQ(FindElementField("schemename "), nullptr);
  EXPECT_EQ(FindElementField(""), nullptr);
  for (const auto& [name, capacity] : kExpectedFields) {
    if (name != "value") {
      EXPECT_EQ(FindElementField(name), &FieldOf(FindElementField(name)->id)) << name;
    }
  }
}

}  // namespace
}  // namespace zrt::jobdoc
