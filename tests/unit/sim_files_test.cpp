// The simulated file system: Windows paths over the machine's drive
// folders, the error codes of each call, refused writes and INI files.
#include "platform/sim/sim_files.h"

#include <string>

#include "platform/system_facts.h"
#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

using port::OpenMode;

class SimFilesTest : public SimMachineTest {
 protected:
  SimFilesTest() {
    Write("drive_c/Program Files/Merqel/Configuration/zLocator.ini",
          "; status server\r\n"
          "[Other]\r\nURL=http://wrong\r\n"
          "[ WPDCMScriptJobInstanceStatus ]\r\n"
          "  url =  \"http://status.example\"  \r\n"
          "Blank=\r\n"
          "[wpdcmscriptjobinstancestatus]\r\nURL=http://second-section\r\n");
    Reopen("drive_c/Data/report.xml", "12345");
  }

  port::FileSystem& Files() { return sim_->Platform().files; }
  bool Opens(const char* path, OpenMode mode) { return Files().CreateFileA(path, mode) != nullptr; }

  std::string Ini(const char* section, const char* key, std::size_t capacity = 260,
                  const char* path = "C:\\program files\\MERQEL\\Configuration\\ZLOCATOR.INI") {
    return Files().GetPrivateProfileStringA(section, key, "none ", capacity, path);
  }
};

TEST_F(SimFilesTest, PathsMatchHostNamesIgnoringCaseAndFollowChangesBehindTheMachinesBack) {
  const auto host = [this](const char* path) { return sim_->Machine().HostPath(path); };
  EXPECT_EQ(host("c:\\PROGRAM FILES\\merqel\\configuration\\zlocator.ini"),
            (root_ / "drive_c/Program Files/Merqel/Configuration/zLocator.ini").string());
  EXPECT_EQ(host("C:/Data/../Data/./New.txt"), (root_ / "drive_c/Data/New.txt").string());
  EXPECT_EQ(host("Q:\\nowhere"), "");
  EXPECT_EQ(host("C:\\DATA\\REPORT.XML"), (root_ / "drive_c/Data/report.xml").string());
  std::filesystem::rename(root_ / "drive_c/Data", root_ / "drive_c/DATA");
  EXPECT_EQ(host("C:\\data\\report.xml"), (root_ / "drive_c/DATA/report.xml").string());

  EXPECT_EQ(host("C:\\DATA\\new.log"), (root_ / "drive_c/DATA/new.log").string());
  Write("drive_c/DATA/NEW.LOG", "");
  EXPECT_EQ(host("C:\\DATA\\new.log"), (root_ / "drive_c/DATA/NEW.LOG").string());
  EXPECT_TRUE(Files().FindFirstFileA("C:\\data\\new.log"));
  std::filesystem::remove(root_ / "drive_c/DATA/NEW.LOG");
  EXPECT_FALSE(Files().FindFirstFileA("C:\\data\\new.log"));
}

TEST_F(SimFilesTest, FindFirstFileAndFileSizeFindFilesFoldersAndPatterns) {
  for (const char* path : {"C:\\data\\REPORT.XML", "C:\\Program Files", "C:\\Data\\*.xml",
                           "C:\\Data\\rep?rt.*", "C:\\Data\\*.*"}) {
    EXPECT_TRUE(Files().FindFirstFileA(path)) << path;
  }

  EXPECT_TRUE(Refused(Files().FindFirstFileA("C:\\Data\\*.txt"), 2));
  EXPECT_TRUE(Refused(Files().FindFirstFileA("C:\\Data\\missing.xml"), 2));
  EXPECT_TRUE(Refused(Files().FindFirstFileA("C:\\NoFolder\\missing.xml"), 3));
  EXPECT_FALSE(Files().FindFirstFileA("C:\\Data\\"));
  EXPECT_FALSE(Files().FindFirstFileA("C:\\Program Files (x86)"));

  std::uint64_t size = 0;
  EXPECT_TRUE(Files().GetFileSize("C:\\DATA\\REPORT.xml", size));
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(Refused(Files().GetFileSize("C:\\Data\\none.xml", size), 2));
}

TEST_F(SimFilesTest, CreateDirectoryAndCreateFileReportExistingAndMissingParents) {
  EXPECT_TRUE(Files().CreateDirectoryA("C:\\data\\Logs"));
  EXPECT_TRUE(HostExists("drive_c/Data/Logs"));
  EXPECT_TRUE(Refused(Files().CreateDirectoryA("C:\\DATA\\LOGS\\"), 183));
  EXPECT_TRUE(Refused(Files().CreateDirectoryA("C:\\a\\b"), 3));
  EXPECT_TRUE(Refused(Files().CreateDirectoryA("Q:\\a"), 3));
  EXPECT_TRUE(Refused(Opens("C:\\Nope\\x.txt", OpenMode::Replace), 3));
  EXPECT_TRUE(Refused(Opens("C:\\Data", OpenMode::AppendExisting), 5));
}

TEST_F(SimFilesTest, CreateNewRefusesAnExistingFileAndDeleteRemovesFilesOnly) {
  EXPECT_TRUE(Refused(Opens("C:\\Data\\Report.xml", OpenMode::CreateNew), 80));
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "12345");

  auto file = Files().CreateFileA("C:\\Data\\fresh.txt", OpenMode::CreateNew);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(LastError(), 0u);
  EXPECT_TRUE(file->WriteFile("ab", 2));
  EXPECT_EQ(Read("drive_c/Data/fresh.txt"), "ab") << "written through at once";

  file.reset();
  EXPECT_TRUE(Files().DeleteFileA("C:\\Data\\FRESH.txt"));
  EXPECT_FALSE(HostExists("drive_c/Data/fresh.txt"));
  EXPECT_TRUE(Refused(Files().DeleteFileA("C:\\Data\\fresh.txt"), 2));
  EXPECT_TRUE(Refused(Files().DeleteFileA("C:\\Data"), 5));
}

TEST_F(SimFilesTest, AppendAddsAtTheEndAndReplaceStartsAfresh) {
  auto appended = Files().CreateFileA("c:\\data\\report.XML", OpenMode::AppendExisting);
  ASSERT_NE(appended, nullptr);
  appended->WriteFile("67", 2);
  appended.reset();
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "1234567");
  EXPECT_TRUE(Refused(Opens("C:\\Data\\new.log", OpenMode::AppendExisting), 2));
  EXPECT_FALSE(HostExists("drive_c/Data/new.log"));

  auto replaced = Files().CreateFileA("C:\\Data\\report.xml", OpenMode::Replace);
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(LastError(), 183u) << "an existing file is reported as such";
  replaced->WriteFile("x", 1);
  replaced.reset();
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "x");
  ASSERT_NE(Files().CreateFileA("C:\\Data\\new.log", OpenMode::Replace), nullptr);
  EXPECT_EQ(LastError(), 0u);
}

// The same rules hold on a private machine (a rehearsal's own copy), whose
// files opened to append stay open between handles.
class SimFilesSharingTest : public SimFilesTest, public ::testing::WithParamInterface<bool> {
 protected:
  SimFilesSharingTest() {
    if (GetParam()) sim_->Machine().KeepPrivate();
  }
};
std::uint64_t SizeOf(port::OutputFile& file) {
  std::uint64_t size = 0;
  return file.GetFileSize(size) ? size : ~std::uint64_t{0};
}

INSTANTIATE_TEST_SUITE_P(PlainAndPrivate, SimFilesSharingTest, ::testing::Bool());

TEST_P(SimFilesSharingTest, FilesMadeAloneOrClaimedKeepEveryOtherWriterOutUntilClosed) {
  auto alone = Files().CreateFileA("C:\\Data\\day.log", OpenMode::CreateNewAlone);
  ASSERT_NE(alone, nullptr);
  for (const auto mode : {OpenMode::AppendExisting, OpenMode::Replace}) {
    EXPECT_TRUE(Refused(Opens("C:\\DATA\\DAY.LOG", mode), 32));
  }
  alone->WriteFile("head", 4);
  alone.reset();

  // Appenders share the file, and each write lands at its end.
  auto first = Files().CreateFileA("C:\\Data\\day.log", OpenMode::AppendExisting);
  auto second = Files().CreateFileA("C:\\Data\\day.log", OpenMode::AppendExisting);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first->WriteFile("+a", 2);
  second->WriteFile("+b", 2);
  first->WriteFile("+c", 2);
  EXPECT_EQ(Read("drive_c/Data/day.log"), "head+a+b+c");
  EXPECT_EQ(SizeOf(*second), 10u);

  // A claim waits for every other handle to go, then keeps them all out, yet
  // reads the file and keeps it across a rename, which never replaces.
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.log", OpenMode::ClaimExisting), 32));
  first.reset();
  second.reset();
  auto claim = Files().CreateFileA("C:\\Data\\day.log", OpenMode::ClaimExisting);
  ASSERT_NE(claim, nullptr);
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.log", OpenMode::AppendExisting), 32));
  EXPECT_TRUE(Refused(Files().MoveFileA("C:\\Data\\day.log", "C:\\Data\\report.xml"), 183));
  EXPECT_TRUE(Files().MoveFileA("C:\\Data\\day.log", "C:\\Data\\day.old"));
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.old", OpenMode::AppendExisting), 32));
  std::string bytes;
  EXPECT_TRUE(claim->ReadFile(bytes, 6));
  EXPECT_EQ(bytes, "head+a");
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.log", OpenMode::ClaimExisting), 2));

  // Nothing held before a move or a deletion writes into the file after it.
  claim.reset();
  ASSERT_TRUE(Opens("C:\\Data\\day.old", OpenMode::AppendExisting));
  ASSERT_TRUE(Files().MoveFileA("C:\\Data\\day.old", "C:\\Data\\day.log"));
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.old", OpenMode::AppendExisting), 2));
  ASSERT_TRUE(Opens("C:\\Data\\day.log", OpenMode::AppendExisting));
  ASSERT_TRUE(Files().DeleteFileA("C:\\Data\\day.log"));
  EXPECT_TRUE(Refused(Opens("C:\\Data\\day.log", OpenMode::AppendExisting), 2));
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data"));

  // An appender learns its file's size anew after another handle's open or
  // write.
  ASSERT_NE(Files().CreateFileA("C:\\Data\\day.log", OpenMode::CreateNew), nullptr);
  auto kept = Files().CreateFileA("C:\\Data\\day.log", OpenMode::AppendExisting);
  kept->WriteFile("1234", 4);
  auto replaced = Files().CreateFileA("C:\\Data\\day.log", OpenMode::Replace);
  EXPECT_EQ(SizeOf(*kept), 0u);
  auto again = Files().CreateFileA("C:\\Data\\day.log", OpenMode::AppendExisting);
  replaced->WriteFile("56789", 5);
  EXPECT_EQ(SizeOf(*again), 5u);
}

TEST_F(SimFilesTest, WriteDeniedFoldersRefuseEverythingBelowThem) {
  Reopen("machine.json", R"({"drives": {"C": "drive_c"},
      "write_denied": ["C:\\Data", {"path": "C:\\Full", "error": 112}]})");
  EXPECT_TRUE(Refused(Opens("C:\\DATA\\report.xml", OpenMode::AppendExisting), 5));
  EXPECT_TRUE(Refused(Files().CreateDirectoryA("C:\\Data\\Sub"), 5));
  EXPECT_TRUE(Refused(Files().CreateDirectoryA("C:\\Full"), 112));
  EXPECT_TRUE(Files().CreateDirectoryA("C:\\Database")) << "only the folder and what it holds";
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data\\report.xml")) << "reading stays allowed";
}

TEST_F(SimFilesTest, ProfileStringsIgnoreCaseTrimAndUnquote) {
  EXPECT_EQ(Ini("wpdcmscriptjobinstancestatus", "URL"), "http://status.example");
  EXPECT_EQ(Ini("wpdcmscriptjobinstancestatus", "blank"), "");
  EXPECT_EQ(Ini("wpdcmscriptjobinstancestatus", "URL", 8), "http://");
  EXPECT_EQ(Ini("wpdcmscriptjobinstancestatus", "Missing"), "none");
  EXPECT_EQ(LastError(), 2u);
  EXPECT_EQ(Ini("NoSection", "URL"), "none");
  EXPECT_EQ(Ini("Other", "URL", 260, "C:\\Program Files\\Merqel\\missing.ini"), "none");
  EXPECT_EQ(LastError(), 2u);
}

TEST_F(SimFilesTest, WindowsFolderAndCommonApplicationData) {
  std::string folder;
  EXPECT_FALSE(Files().GetWindowsDirectoryA(folder, 10));  // "C:\WINDOWS" needs 11
  EXPECT_TRUE(Files().GetWindowsDirectoryA(folder, 11));
  EXPECT_EQ(folder, "C:\\WINDOWS");

  std::string data;
  EXPECT_EQ(Files().SHGetFolderPathA(port::kCsidlCommonAppData, data), port::kS_OK);
  EXPECT_EQ(data, "C:\\Documents and Settings\\All Users\\Application Data");

  Reopen("machine.json", R"({"common_app_data": {"path": "C:\\X", "error": "0x80004005"}})");
  EXPECT_EQ(Files().SHGetFolderPathA(port::kCsidlCommonAppData, data), port::kE_FAIL);
  EXPECT_EQ(data, "");
}

TEST_F(SimFilesTest, SixtyFourBitMarkerIsLookedForOnlyBesideTheWindowsFolder) {
  Write("drive_c/Program Files (x86)/.keep", "");
  EXPECT_TRUE(IsSixtyFourBitMachine(Files()));
  // A Windows folder too long for its buffer: no probe of the current folder.
  Reopen("machine.json", R"({"windows_folder": "C:\\)" + std::string(600, 'W') +
                             R"(", "current_directory": "C:\\"})");
  EXPECT_FALSE(IsSixtyFourBitMachine(Files()));
}

TEST(SimFilePatternTest, WildcardsFollowWindowsRules) {
  EXPECT_TRUE(sim::MatchesPattern("Report.XML", "*.xml"));
  EXPECT_TRUE(sim::MatchesPattern("noext", "*.*"));
  EXPECT_TRUE(sim::MatchesPattern("a.b.c", "a*c"));
  EXPECT_TRUE(sim::MatchesPattern("\xC3\x89t\xC3\xA9", "\xC3\xA9T?"));  // Été / éT?
  EXPECT_FALSE(sim::MatchesPattern("abc", "a?"));
  EXPECT_FALSE(sim::MatchesPattern("abc", "*d*"));
}

}  // namespace
}  // namespace zrt::test
