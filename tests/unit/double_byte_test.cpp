// Byte rules and cuts in a double-byte code page: 932's lead bytes, where
// 予 is 97 5C, 表 is 95 5C and ア is 83 41, so 0x5C, 0x40 and 'a'..'z' may
// each be the second half of a character.
#include <gtest/gtest.h>

#include "app/parse_input.h"
#include "platform/code_page_text.h"
#include "power/powercfg_settings.h"
#include "power/settings_walk.h"
#include "report/activity_log.h"
#include "report/status_document.h"

namespace zrt {
namespace {

bool Lead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
const LeadByteTest kLead932 = Lead932;
const std::string kYotei = "\x97\x5C\x92\xE8\x95\x5C";  // 予定表

TEST(DoubleByte, CutsEndAtTheLastWholeCharacter) {
  const struct {
    std::string text;
    std::size_t limit, single, whole;
  } cuts[] = {{kYotei, 5, 5, 4}, {kYotei, 6, 6, 6}, {"A" + kYotei, 2, 2, 1}, {"AB", 1, 1, 1}};
  for (const auto& c : cuts) {
    EXPECT_EQ(WholeCharacterLength(c.text, c.limit, {}), c.single) << c.limit;
    EXPECT_EQ(WholeCharacterLength(c.text, c.limit, kLead932), c.whole) << c.limit;
  }
  FixedText<6> field;
  field.Assign(kYotei, kLead932);
  EXPECT_EQ(field.view(), kYotei.substr(0, 4));
  EXPECT_TRUE(field.WasCut());
  field.Assign("x");
  field.Append(kYotei, kLead932);
  EXPECT_EQ(field.view(), "x" + kYotei.substr(0, 4));
  EXPECT_EQ(CutToWholeCharacters(kYotei, 3, kLead932), kYotei.substr(0, 2));
}

TEST(DoubleByte, ATrailByteIsNeverTheSingleByteCharacterItLooksLike) {
  using power::BuildPowercfgCommand;
  const auto& setActive = power::SetActiveCommand();
  EXPECT_EQ(BuildPowercfgCommand(setActive, kYotei, kLead932).refusal, nullptr);
  EXPECT_NE(BuildPowercfgCommand(setActive, kYotei, {}).refusal, nullptr);
  EXPECT_NE(BuildPowercfgCommand(setActive, kYotei + "\\", kLead932).refusal, nullptr);
  EXPECT_NE(BuildPowercfgCommand(setActive, kYotei + "\"x", kLead932).refusal, nullptr);

  const auto fields = app::SplitJobArgument("a@\x83\x40@b", kLead932);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[1], "\x83\x40");

  EXPECT_EQ(report::NormaliseTypeWord("x\x83\x61y", kLead932), "X\x83\x61Y");
  EXPECT_EQ(report::NormaliseTypeWord(std::string(98, 'a') + "\x83\x61", kLead932),
            std::string(98, 'A'));
  EXPECT_EQ(report::FallbackFileName(kYotei + "|\x95|", {2026, 12, 1, 7, 9, 5, 3, 7}, kLead932),
            "wpdcmscriptjobinstancestatus.asp_N_" + kYotei + "_\x95|_PER_20261207090503007");
}

TEST(DoubleByte, StatusFilesDeclareTheCodePagesEncoding) {
  const std::pair<std::uint32_t, const char*> names[] = {
      {1252, "windows-1252"}, {1251, "windows-1251"},  {874, "windows-874"}, {932, "shift_jis"},
      {936, "gbk"},           {949, "ks_c_5601-1987"}, {950, "big5"}};
  for (const auto& [codePage, name] : names) EXPECT_EQ(report::XmlEncodingName(codePage), name);
  EXPECT_EQ(report::StatusFileText("<a/>", 1251),
            "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<a/>");
}

}  // namespace
}  // namespace zrt
