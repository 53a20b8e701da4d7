// The simulated machine's ANSI code pages: conversions both ways, case
// folding, lead bytes (checked against iconv) and a machine's own code page.
#include "platform/sim/sim_code_page.h"

#include <iconv.h>

#include <cerrno>
#include <string>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

using sim::AnsiCodePage;

struct Sample {
  std::uint32_t codePage;
  std::string bytes;    // a text in the code page
  std::u16string wide;  // ... as Windows reads it
  std::string upper;    // the same letters in upper case, for lstrcmpiA
};

const Sample kSamples[] = {
    {874, "\xA1\xD2", u"\u0E01\u0E32", "\xA1\xD2"},
    {932, "\x97\x5C\x92\xE8\x95\x5C", u"\u4E88\u5B9A\u8868", "\x97\x5C\x92\xE8\x95\x5C"},
    {932, "\x82\x81", u"\uFF41", "\x82\x60"},  // full-width a / A
    {936, "\xB1\xED\\", u"\u8868\\", "\xB1\xED\\"},
    {949, "\xB0\xA1", u"\uAC00", "\xB0\xA1"},
    {950, "\xAA\xED", u"\u8868", "\xAA\xED"},
    {1250,
     "\xA3\xF3"
     "d\x9F",
     u"\u0141\u00F3d\u017A",
     "\xA3\xD3"
     "D\x8F"},
    {1251, "\xEF\xF0\xE8\xE2\xE5\xF2", u"\u043F\u0440\u0438\u0432\u0435\u0442",
     "\xCF\xD0\xC8\xC2\xC5\xD2"},
    {1252, "\xE9\x80\x81\x9A", u"\u00E9\u20AC\u0081\u0161", "\xC9\x80\x81\x8A"},
    {1253, "\xE1\xE2", u"\u03B1\u03B2", "\xC1\xC2"},
    {1254, "\xF0", u"\u011F", "\xD0"},
    {1255, "\xE0", u"\u05D0", "\xE0"},
    {1256, "\xC7", u"\u0627", "\xC7"},
    {1257, "\xE0", u"\u0105", "\xC0"},
    {1258,
     "\xE3"
     "a\xEC",
     u"\u0103a\u0301",
     "\xC3"
     "A\xEC"},  // accents stay apart
};

TEST(SimCodePageTest, ConvertsBothWaysAndFoldsCaseAsWindows) {
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.codePage);
    const AnsiCodePage page(s.codePage);
    EXPECT_EQ(page.ToUtf16(s.bytes), s.wide);
    bool usedDefault = true;
    EXPECT_EQ(page.FromUtf16(s.wide, &usedDefault), s.bytes);
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(page.ToUtf8(s.bytes), sim::Utf16ToUtf8(s.wide));
    EXPECT_TRUE(page.EqualNoCase(s.upper, s.bytes));
    EXPECT_GT(page.CompareNoCase(s.bytes + "b", s.upper + "A"), 0);
  }
}

TEST(SimCodePageTest, WhatACodePageLacksBecomesTheDefaultCharacter) {
  bool usedDefault = false;
  EXPECT_EQ(AnsiCodePage(1251).FromUtf16(u"\u4E2D\u00E9x", &usedDefault), "??x");
  EXPECT_TRUE(usedDefault);
  // No best fit: the yen sign is not 0x5C, nor a precomposed letter two bytes.
  EXPECT_EQ(AnsiCodePage(932).FromUtf16(u"\u00A5"), "?");
  EXPECT_EQ(AnsiCodePage(1258).FromUtf16(u"\u1EA5"), "?");
  EXPECT_EQ(AnsiCodePage(932).ToUtf16("\x97"), u"\uFFFD") << "a lone lead byte";
  EXPECT_EQ(AnsiCodePage(932).ToUtf16("\x97<"), u"\uFFFD<") << "... and one before '<'";
}

TEST(SimCodePageTest, DoubleByteCharactersCompareWhole) {
  const AnsiCodePage japanese(932);
  // ア and ャ differ in a trail byte that is an ASCII letter's.
  EXPECT_FALSE(japanese.EqualNoCase("\x83\x41", "\x83\x61"));
  EXPECT_TRUE(
      japanese.EqualNoCase("\x97\x5C\x92\xE8\x95\x5C"
                           "a",
                           "\x97\x5C\x92\xE8\x95\x5C"
                           "A"));
}

// A byte is a lead byte exactly when iconv finds it alone an incomplete
// character, but for the rows Windows keeps for user-defined characters,
// which iconv does not decode.
TEST(SimCodePageTest, LeadBytesAreThoseIconvFindsIncomplete) {
  const auto userDefined = [](std::uint32_t page, unsigned byte) {
    return (page == 949 && (byte == 0xC9 || byte == 0xFE)) ||
           (page == 950 && ((byte >= 0x81 && byte <= 0xA0) || byte >= 0xFA));
  };
  const std::pair<std::uint32_t, const char*> pages[] = {
      {932, "CP932"}, {936, "CP936"}, {949, "CP949"}, {950, "CP950"}, {1251, "CP1251"}};
  for (const auto& [number, name] : pages) {
    const AnsiCodePage page(number);
    iconv_t cd = iconv_open("UTF-16LE", name);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (unsigned byte = 0; byte < 256; ++byte) {
      char in = static_cast<char>(byte), out[8];
      char *inPtr = &in, *outPtr = out;
      std::size_t inLeft = 1, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      const bool incomplete =
          iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) &&
          errno == EINVAL;
      EXPECT_EQ(page.IsLeadByte(static_cast<unsigned char>(byte)),
                incomplete || (byte < 0xFF && userDefined(number, byte)))
          << number << " byte " << byte;
    }
    iconv_close(cd);
  }
}

class SimMachineCodePageTest : public SimMachineTest {};

TEST_F(SimMachineCodePageTest, TheMachineSpeaksItsOwnCodePage) {
  Reopen("machine.json", R"({"code_pages": {"ansi": 932, "oem": 932}})");
  port::System& system = sim_->Platform().system;
  EXPECT_EQ(system.GetACP(), 932u);
  EXPECT_TRUE(system.IsDBCSLeadByte(0x97));
  EXPECT_FALSE(system.IsDBCSLeadByte(0x5C));
  port::WideText wide;
  ASSERT_TRUE(system.MultiByteToWideChar("\x97\x5C\x92\xE8\x95\x5C", wide, 4));
  EXPECT_EQ(wide, u"\u4E88\u5B9A\u8868");
  EXPECT_THROW(Reopen("machine.json", R"({"code_pages": {"ansi": 65001}})"), sim::MachineError);
}

}  // namespace
}  // namespace zrt::test
