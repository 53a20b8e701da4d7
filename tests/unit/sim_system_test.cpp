// The simulated system services: message texts, the Windows-1252 code page,
// comparison, the command line, version, clock, the log's time format and
// Sleep.
#include <chrono>
#include <string>
#include <tuple>
#include <utility>

#include "platform/sim/sim_clock.h"
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
  EXPECT_TRUE(Refused(!System().FormatMessageA(4242, 0).empty(), 317));
}

TEST_F(SimSystemTest, AnsiToWideUsesWindows1252AndChecksCapacity) {
  port::WideText wide;
  ASSERT_TRUE(System().MultiByteToWideChar("\xE9\x80\x81", wide, 4));
  EXPECT_EQ(wide, (port::WideText{0x00E9, 0x20AC, 0x0081}));
  EXPECT_TRUE(Refused(System().MultiByteToWideChar("abcd", wide, 4), 122));
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
  EXPECT_TRUE(Refused(System().WideCharToMultiByte(u"abcde", narrow, 5, nullptr), 122));
}

TEST_F(SimSystemTest, CaseInsensitiveComparisonCoversLatinLetters) {
  EXPECT_EQ(System().lstrcmpiA("Power Management", "POWER MANAGEMENT"), 0);
  EXPECT_EQ(System().lstrcmpiA("\xC9\x43OLE \x8A", "\xE9\x63ole \x9A"), 0);  // ÉCOLE Š / école š
  EXPECT_LT(System().lstrcmpiA("apple", "Banana"), 0);
  EXPECT_GT(System().lstrcmpiA("Power Management ", "power management"), 0);
  EXPECT_NE(System().lstrcmpiA("e", "\xE9"), 0);
}

TEST_F(SimSystemTest, VersionRecordsCanBeRefused) {
  port::OsVersion version;
  ASSERT_TRUE(System().GetVersionExA(version, true));
  EXPECT_EQ(version.major, 5u);
  EXPECT_EQ(version.minor, 1u);

  Reopen("machine.json", R"({"version": {"major": 6, "minor": 1,
      "extended_record_refused": true}})");
  EXPECT_FALSE(System().GetVersionExA(version, true));
  ASSERT_TRUE(System().GetVersionExA(version, false));
  EXPECT_EQ(version.major, 6u);
}

TEST_F(SimSystemTest, CommandLineAndFixedClockComeFromTheMachine) {
  EXPECT_EQ(System().GetCommandLineA(), "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\" a@#@b");
  const port::SystemTime now = System().GetLocalTime();
  EXPECT_EQ(now.year, 2026);
  EXPECT_EQ(now.month, 12);
  EXPECT_EQ(now.day, 7);
  EXPECT_EQ(now.dayOfWeek, 1) << "7 December 2026 is a Monday";
  EXPECT_EQ(now.hour, 14);
  EXPECT_EQ(now.milliseconds, 123);
}

TEST_F(SimSystemTest, TimesTakeTheActivityLogsPictureOnly) {
  constexpr const char* kPicture = "hh':'mm':'ss tt";
  port::SystemTime time = System().GetLocalTime();
  EXPECT_EQ(System().GetTimeFormatA(time, kPicture), "02:05:09 PM");
  time.hour = 0;
  EXPECT_EQ(System().GetTimeFormatA(time, kPicture), "12:05:09 AM");
  // An invalid time, another picture, no picture.
  const std::pair<int, const char*> refused[] = {{24, kPicture}, {1, "HH':'mm"}, {1, nullptr}};
  for (const auto& [hour, picture] : refused) {
    time.hour = static_cast<std::uint16_t>(hour);
    System().SetLastError(0);
    EXPECT_EQ(System().GetTimeFormatA(time, picture), "");
    EXPECT_EQ(System().GetLastError(), 87u);
  }
}

TEST_F(SimSystemTest, SleepIsRecordedWithoutWaitingAndDebuggerOutputAppendedAsUtf8) {
  const auto start = std::chrono::steady_clock::now();
  System().Sleep(5000);
  System().Sleep(1000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  const sim::Json record = sim::Json::parse(Read("sleep.json"));
  EXPECT_EQ(record["total_ms"], 6000);
  EXPECT_EQ(record["calls"].size(), 2u);

  System().OutputDebugStringA("Caf\xE9\n");
  System().OutputDebugStringA("two\n");
  EXPECT_EQ(Read("debug_output.txt"), "Caf\xC3\xA9\ntwo\n");
}

TEST_F(SimSystemTest, APrivateMachineAddsItsSleepsToTheRecordAtFlush) {
  System().Sleep(5000);
  sim_->Machine().KeepPrivate();
  System().Sleep(1000);
  System().Sleep(2000);
  EXPECT_EQ(sim::Json::parse(Read("sleep.json"))["total_ms"], 5000);
  sim_->Machine().Flush();
  const sim::Json record = sim::Json::parse(Read("sleep.json"));
  EXPECT_EQ(record["total_ms"], 8000);
  EXPECT_EQ(record["calls"], sim::Json({5000, 1000, 2000}));
}

TEST_F(SimSystemTest, SimulatedTimePassesEveryWaitAtOnceAndTheDateRollsOver) {
  sim_->Machine().KeepSimulatedTime();
  const auto start = std::chrono::steady_clock::now();
  System().Sleep(300000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(sim_->Machine().ElapsedMs(), 300000u);
  EXPECT_EQ(System().GetLocalTime().minute, 5) << "a fixed clock stands still";

  const port::SystemTime late = *sim::ParseLocalTime("2028-02-28 23:59:59.900");
  const port::SystemTime later = sim::Later(late, 86400000 + 200);  // a day and 200 ms
  EXPECT_EQ(std::make_tuple(later.year, later.month, later.day, later.hour, later.milliseconds),
            std::make_tuple(2028, 3, 1, 0, 100))
      << "2028 is a leap year";
  EXPECT_EQ(later.dayOfWeek, 3) << "1 March 2028 is a Wednesday";
}

}  // namespace
}  // namespace zrt::test
