// The simulated file system: Windows paths over the machine's drive
// folders, the error codes of each call, refused writes and INI files.
#include "platform/sim/sim_files.h"

#include <string>

#include "platform/system_facts.h"
#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

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
    Write("drive_c/Data/report.xml", "12345");
    Open();
  }

  port::FileSystem& Files() { return sim_->Platform().files; }

  std::string Ini(const char* section, const char* key, std::size_t capacity = 260,
                  const char* path = "C:\\program files\\MERQEL\\Configuration\\ZLOCATOR.INI") {
    return Files().GetPrivateProfileStringA(section, key, "none ", capacity, path);
  }
};

TEST_F(SimFilesTest, PathComponentsMatchHostNamesIgnoringCase) {
  EXPECT_EQ(sim_->Machine().HostPath("c:\\PROGRAM FILES\\merqel\\configuration\\zlocator.ini"),
            (root_ / "drive_c/Program Files/Merqel/Configuration/zLocator.ini").string());
  EXPECT_EQ(sim_->Machine().HostPath("C:/Data/../Data/./New.txt"),
            (root_ / "drive_c/Data/New.txt").string());
  EXPECT_EQ(sim_->Machine().HostPath("Q:\\nowhere"), "");
}

TEST_F(SimFilesTest, PathsFollowFilesChangedBehindTheMachinesBack) {
  const auto host = [this](const char* path) { return sim_->Machine().HostPath(path); };
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

TEST_F(SimFilesTest, FindFirstFileFindsFilesFoldersAndPatterns) {
  EXPECT_TRUE(Files().FindFirstFileA("C:\\data\\REPORT.XML"));
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Program Files"));
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data\\*.xml"));
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data\\rep?rt.*"));
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data\\*.*"));

  EXPECT_FALSE(Files().FindFirstFileA("C:\\Data\\*.txt"));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(Files().FindFirstFileA("C:\\Data\\missing.xml"));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(Files().FindFirstFileA("C:\\NoFolder\\missing.xml"));
  EXPECT_EQ(LastError(), 3u);
  EXPECT_FALSE(Files().FindFirstFileA("C:\\Data\\"));
  EXPECT_FALSE(Files().FindFirstFileA("C:\\Program Files (x86)"));
}

TEST_F(SimFilesTest, CreateDirectoryReportsExistingAndMissingParents) {
  EXPECT_TRUE(Files().CreateDirectoryA("C:\\data\\Logs"));
  EXPECT_TRUE(HostExists("drive_c/Data/Logs"));
  EXPECT_FALSE(Files().CreateDirectoryA("C:\\DATA\\LOGS\\"));
  EXPECT_EQ(LastError(), 183u);
  EXPECT_FALSE(Files().CreateDirectoryA("C:\\a\\b"));
  EXPECT_EQ(LastError(), 3u);
  EXPECT_FALSE(Files().CreateDirectoryA("Q:\\a"));
  EXPECT_EQ(LastError(), 3u);
}

TEST_F(SimFilesTest, CreateNewRefusesAnExistingFileAndDeleteRemovesFilesOnly) {
  EXPECT_EQ(Files().CreateFileA("C:\\Data\\Report.xml", port::OpenMode::CreateNew), nullptr);
  EXPECT_EQ(LastError(), 80u);
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "12345");

  auto file = Files().CreateFileA("C:\\Data\\fresh.txt", port::OpenMode::CreateNew);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(LastError(), 0u);
  EXPECT_TRUE(file->WriteFile("ab", 2));
  EXPECT_EQ(Read("drive_c/Data/fresh.txt"), "ab") << "written through at once";

  file.reset();
  EXPECT_TRUE(Files().DeleteFileA("C:\\Data\\FRESH.txt"));
  EXPECT_FALSE(HostExists("drive_c/Data/fresh.txt"));
  EXPECT_FALSE(Files().DeleteFileA("C:\\Data\\fresh.txt"));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(Files().DeleteFileA("C:\\Data"));
  EXPECT_EQ(LastError(), 5u);
}

TEST_F(SimFilesTest, AppendAddsAtTheEndAndReplaceStartsAfresh) {
  auto appended = Files().CreateFileA("c:\\data\\report.XML", port::OpenMode::AppendExisting);
  ASSERT_NE(appended, nullptr);
  appended->WriteFile("67", 2);
  appended.reset();
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "1234567");
  EXPECT_EQ(Files().CreateFileA("C:\\Data\\new.log", port::OpenMode::AppendExisting), nullptr);
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(HostExists("drive_c/Data/new.log"));

  auto replaced = Files().CreateFileA("C:\\Data\\report.xml", port::OpenMode::Replace);
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(LastError(), 183u) << "an existing file is reported as such";
  replaced->WriteFile("x", 1);
  replaced.reset();
  EXPECT_EQ(Read("drive_c/Data/report.xml"), "x");
  ASSERT_NE(Files().CreateFileA("C:\\Data\\new.log", port::OpenMode::Replace), nullptr);
  EXPECT_EQ(LastError(), 0u);
}

TEST_F(SimFilesTest, AFileMadeAloneKeepsEveryOtherWriterOutUntilClosed) {
  auto alone = Files().CreateFileA("C:\\Data\\day.log", port::OpenMode::CreateNewAlone);
  ASSERT_NE(alone, nullptr);
  for (const auto mode : {port::OpenMode::AppendExisting, port::OpenMode::Replace}) {
    EXPECT_EQ(Files().CreateFileA("C:\\DATA\\DAY.LOG", mode), nullptr);
    EXPECT_EQ(LastError(), 32u);
  }
  alone->WriteFile("head", 4);
  alone.reset();

  // Appenders share the file, and each write lands at its end.
  auto first = Files().CreateFileA("C:\\Data\\day.log", port::OpenMode::AppendExisting);
  auto second = Files().CreateFileA("C:\\Data\\day.log", port::OpenMode::AppendExisting);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first->WriteFile("+a", 2);
  second->WriteFile("+b", 2);
  first->WriteFile("+c", 2);
  EXPECT_EQ(Read("drive_c/Data/day.log"), "head+a+b+c");
}

TEST_F(SimFilesTest, CreateFileFailsForMissingFoldersAndFolders) {
  EXPECT_EQ(Files().CreateFileA("C:\\Nope\\x.txt", port::OpenMode::Replace), nullptr);
  EXPECT_EQ(LastError(), 3u);
  EXPECT_EQ(Files().CreateFileA("C:\\Data", port::OpenMode::AppendExisting), nullptr);
  EXPECT_EQ(LastError(), 5u);
}

TEST_F(SimFilesTest, WriteDeniedFoldersRefuseEverythingBelowThem) {
  Write("machine.json", R"({"drives": {"C": "drive_c"},
      "write_denied": ["C:\\Data", {"path": "C:\\Full", "error": 112}]})");
  Open();
  EXPECT_EQ(Files().CreateFileA("C:\\DATA\\report.xml", port::OpenMode::AppendExisting), nullptr);
  EXPECT_EQ(LastError(), 5u);
  EXPECT_FALSE(Files().CreateDirectoryA("C:\\Data\\Sub"));
  EXPECT_EQ(LastError(), 5u);
  EXPECT_FALSE(Files().CreateDirectoryA("C:\\Full"));
  EXPECT_EQ(LastError(), 112u);
  EXPECT_TRUE(Files().CreateDirectoryA("C:\\Database")) << "only the folder and what it holds";
  EXPECT_TRUE(Files().FindFirstFileA("C:\\Data\\report.xml")) << "reading stays allowed";
}

TEST_F(SimFilesTest, FileSizeOfFilesAndMissingPaths) {
  std::uint64_t size = 0;
  EXPECT_TRUE(Files().GetFileSize("C:\\DATA\\REPORT.xml", size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(Files().GetFileSize("C:\\Data\\none.xml", size));
  EXPECT_EQ(LastError(), 2u);
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

  Write("machine.json", R"({"common_app_data": {"path": "C:\\X", "error": "0x80004005"}})");
  Open();
  EXPECT_EQ(Files().SHGetFolderPathA(port::kCsidlCommonAppData, data), port::kE_FAIL);
  EXPECT_EQ(data, "");
}

TEST_F(SimFilesTest, SixtyFourBitMarkerIsLookedForOnlyBesideTheWindowsFolder) {
  Write("drive_c/Program Files (x86)/.keep", "");
  EXPECT_TRUE(IsSixtyFourBitMachine(Files()));
  // A Windows folder too long for its buffer: no probe of the current folder.
  Write("machine.json", R"({"windows_folder": "C:\\)" + std::string(600, 'W') +
                            R"(", "current_directory": "C:\\"})");
  Open();
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
