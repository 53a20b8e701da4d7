// The simulated system services: message texts, the Windows-1252 code page,
// comparison, the command line, version, clock, time format and Sleep.
#include <chrono>
#include <string>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

class SimSystemTest : public SimMachineTest {
 protected:
  SimSystemTest() { Open("a@#@b"); }
  port::System& System() { return sim_->Platform().system; }
};

TEST_F(SimSystemTest, MessagesCarryTheSystemWordingAndLineEnd) {
  EXPECT_EQ(System().FormatMessageA(2, 0x400), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(System().FormatMessageA(5, 0), "Access is denied.\r\n");
  EXPECT_EQ(System().FormatMessageA(234, 0), "More data is available.\r\n");
  EXPECT_EQ(System().FormatMessageA(1314, 0),
            "A required privilege is not held by the client.\r\n");
  System().SetLastError(0);
  EXPECT_EQ(System().FormatMessageA(4242, 0), "");
  EXPECT_EQ(System().GetLastError(), 317u);
}

TEST_F(SimSystemTest, AnsiToWideUsesWindows1252AndChecksCapacity) {
  port::WideText wide;
  ASSERT_TRUE(System().MultiByteToWideChar("\xE9\x80\x81", wide, 4));
  EXPECT_EQ(wide, (port::WideText{0x00E9, 0x20AC, 0x0081}));
  EXPECT_FALSE(System().MultiByteToWideChar("abcd", wide, 4));
  EXPECT_EQ(System().GetLastError(), 122u);
  ASSERT_TRUE(System().MultiByteToWideChar(std::string("ab\0cd", 5), wide, 3));
  EXPECT_EQ(wide, u"ab") << "the source ends at its first zero byte";
}

TEST_F(SimSystemTest, WideToAnsiReplacesWhatTheCodePageLacksAndSaysSo) {
  std::string narrow;
  bool usedDefault = false;
  ASSERT_TRUE(System().WideCharToMultiByte(u"\u00e9\u20ac\u4e2d\u0160", narrow, 5, &usedDefault));
  EXPECT_EQ(narrow, "\xE9\x80?\x8A");
  EXPECT_TRUE(usedDefault);
  ASSERT_TRUE(System().WideCharToMultiByte(u"\u00e9\u20ac\u0081?", narrow, 5, &usedDefault));
  EXPECT_FALSE(usedDefault) << "an undefined byte's C1 control and a real '?' are exact";
  EXPECT_FALSE(System().WideCharToMultiByte(u"abcde", narrow, 5, nullptr));
  EXPECT_EQ(System().GetLastError(), 122u);
}

TEST_F(SimSystemTest, CaseInsensitiveComparisonCoversLatinLetters) {
  EXPECT_EQ(System().lstrcmpiA("Power Management", "POWER MANAGEMENT"), 0);
  EXPECT_EQ(System().lstrcmpiA("\xC9\x43OLE \x8A", "\xE9\x63ole \x9A"), 0);  // ÉCOLE Š / école š
  EXPECT_LT(System().lstrcmpiA("apple", "Banana"), 0);
  EXPECT_GT(System().lstrcmpiA("Power Management ", "power management"), 0);
  EXPECT_NE(System().lstrcmpiA("e", "\xE9"), 0);
}

TEST_F(SimSystemTest, CommandLineIsTheProgramPathAndTheJobArgument) {
  EXPECT_EQ(System().GetCommandLineA(), "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\" a@#@b");
}

TEST_F(SimSystemTest, VersionRecordsCanBeRefused) {
  port::OsVersion version;
  ASSERT_TRUE(System().GetVersionExA(version, true));
  EXPECT_EQ(version.major, 5u);
  EXPECT_EQ(version.minor, 1u);

  Write("machine.json", R"({"version": {"major": 6, "minor": 1,
      "extended_record_refused": true}})");
  Open();
  EXPECT_FALSE(System().GetVersionExA(version, true));
  ASSERT_TRUE(System().GetVersionExA(version, false));
  EXPECT_EQ(version.major, 6u);
}

TEST_F(SimSystemTest, FixedClockKnowsItsWeekday) {
  const port::SystemTime now = System().GetLocalTime();
  EXPECT_EQ(now.year, 2026);
  EXPECT_EQ(now.month, 12);
  EXPECT_EQ(now.day, 7);
  EXPECT_EQ(now.dayOfWeek, 1) << "7 December 2026 is a Monday";
  EXPECT_EQ(now.hour, 14);
  EXPECT_EQ(now.milliseconds, 123);
}

TEST_F(SimSystemTest, TimePicturesFollowTheSystemFormatter) {
  port::SystemTime time = System().GetLocalTime();
  EXPECT_EQ(System().GetTimeFormatA(time, "hh':'mm':'ss tt"), "02:05:09 PM");
  EXPECT_EQ(System().GetTimeFormatA(time, "h H HH m s t"), "2 14 14 5 9 P");
  EXPECT_EQ(System().GetTimeFormatA(time, "'o''clock' hh''"), "o'clock 02'");
  time.hour = 0;
  EXPECT_EQ(System().GetTimeFormatA(time, "hh tt"), "12 AM");
  time.hour = 24;
  EXPECT_EQ(System().GetTimeFormatA(time, "hh"), "");
  EXPECT_EQ(System().GetLastError(), 87u);
}

TEST_F(SimSystemTest, SleepIsRecordedWithoutWaiting) {
  const auto start = std::chrono::steady_clock::now();
  System().Sleep(5000);
  System().Sleep(1000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  const sim::Json record = sim::Json::parse(Read("sleep.json"));
  EXPECT_EQ(record["total_ms"], 6000);
  EXPECT_EQ(record["calls"].size(), 2u);
}

TEST_F(SimSystemTest, DebuggerOutputIsAppendedAsUtf8) {
  System().OutputDebugStringA("Caf\xE9\n");
  System().OutputDebugStringA("two\n");
  EXPECT_EQ(Read("debug_output.txt"), "Caf\xC3\xA9\ntwo\n");
}

}  // namespace
}  // namespace zrt::test
