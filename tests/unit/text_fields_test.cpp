// Fixed-width text fields, job-argument splitting and log type words.
#include <gtest/gtest.h>

#include "app/parse_input.h"
#include "platform/fixed_text.h"
#include "report/activity_log.h"

namespace zrt {
namespace {

TEST(FixedText, CutsToItsWidthAndStopsAtAnEmbeddedZero) {
  FixedText<5> field("abcdefgh");
  EXPECT_EQ(field.view(), "abcd");
  EXPECT_EQ(field.c_str()[4], '\0');
  field.Append("zz");
  EXPECT_EQ(field.view(), "abcd");
  field.Assign(std::string_view("ab\0cd", 5));
  EXPECT_EQ(field.view(), "ab");
  field.Clear();
  EXPECT_TRUE(field.empty());
  field.Append("xy");
  field.Append("zwv");
  EXPECT_EQ(field.view(), "xyzw");
}

using app::SplitJobArgument;

TEST(SplitJobArgument, RunsOfSeparatorsSplitAndMakeNoEmptyFields) {
  const auto fields = SplitJobArgument(
      "C:\\prog.exe OD@#@5012@#@C:\\j.xml@#@J1@#@u@#@12/07/2026 10:30:00@#@"
      "I@#@0@#@SJ");
  ASSERT_EQ(fields.size(), 9u);
  EXPECT_EQ(fields[0], "C:\\prog.exe OD");
  EXPECT_EQ(fields[5], "12/07/2026 10:30:00");
  EXPECT_EQ(fields[8], "SJ");

  EXPECT_EQ(SplitJobArgument("@#@a@@##b#@").size(), 2u);
  EXPECT_EQ(SplitJobArgument("a@#@@#@b").size(), 2u);
  EXPECT_TRUE(SplitJobArgument("@#@#").empty());
  EXPECT_EQ(SplitJobArgument("C:\\a#b\\j.xml")[1], "b\\j.xml");
}

TEST(LogTypeWord, InformationBecomesInfoAndOthersAreUpperCased) {
  using report::NormaliseTypeWord;
  EXPECT_EQ(NormaliseTypeWord("Information"), "INFO");
  EXPECT_EQ(NormaliseTypeWord("iNFORMATION"), "INFO");
  EXPECT_EQ(NormaliseTypeWord("Info"), "INFO");
  EXPECT_EQ(NormaliseTypeWord("Failed"), "FAILED");
  EXPECT_EQ(NormaliseTypeWord("Info444"), "INFO444");
  EXPECT_EQ(NormaliseTypeWord(""), "");
  EXPECT_EQ(NormaliseTypeWord("caf\xe9"), "CAF\xe9");
  EXPECT_EQ(NormaliseTypeWord(std::string(300, 'x')), std::string(99, 'X'));
}

}  // namespace
}  // namespace zrt
