// The registry and file-system adapters against Wine's real registry and
// files.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_adapters.h"
#include "wine_test_support.h"

namespace zrt::win32 {
namespace {

using wine_test::DeleteKeyTree;
using wine_test::ReadFileBytes;
using wine_test::RegistryWriter;
using wine_test::ScratchFolder;
using wine_test::WriteFileBytes;

const wchar_t* const kTestKeyW = L"Software\\ZrtAdapterTest";
const char* const kTestKey = "Software\\ZrtAdapterTest";

class RegistryAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKeyTree(HKEY_CURRENT_USER, kTestKeyW);
    RegistryWriter writer(HKEY_CURRENT_USER, kTestKeyW);
    ASSERT_TRUE(writer.ok());
    writer.SetString(L"Text", L"abc");
    writer.SetDword(L"Number", 70000);
    writer.SetString(L"Long", std::wstring(1029, L'x'));  // 1030 bytes as ANSI
  }
  void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestKeyW); }

  std::unique_ptr<port::Registry> registry_ = MakeRegistry();
};

TEST_F(RegistryAdapterTest, ReadsTextAndNumberValuesWithTheirTypesAndSizes) {
  std::unique_ptr<port::RegistryKey> key;
  ASSERT_EQ(registry_->RegOpenKeyExA(port::Hive::CurrentUser, kTestKey, key), 0);
  ASSERT_NE(key, nullptr);

  std::uint8_t data[1024] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(data);
  EXPECT_EQ(registry_->RegQueryValueExA(*key, "Text", type, data, size), 0);
  EXPECT_EQ(type, port::regtype::kSz);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(data), "abc");

  size = sizeof(data);
  EXPECT_EQ(registry_->RegQueryValueExA(*key, "Number", type, data, size), 0);
  EXPECT_EQ(type, port::regtype::kDword);
  ASSERT_EQ(size, 4u);
  std::uint32_t number = 0;
  std::memcpy(&number, data, sizeof(number));
  EXPECT_EQ(number, 70000u);
}

TEST_F(RegistryAdapterTest, ReportsMoreDataWithTheSizeTheValueNeeds) {
  std::unique_ptr<port::RegistryKey> key;
  ASSERT_EQ(registry_->RegOpenKeyExA(port::Hive::CurrentUser, kTestKey, key), 0);
  std::uint8_t data[1024] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(data);
  EXPECT_EQ(registry_->RegQueryValueExA(*key, "Long", type, data, size), port::err::kMoreData);
  EXPECT_EQ(size, 1030u);
}

TEST_F(RegistryAdapterTest, MissingKeysAndValuesGiveFileNotFound) {
  std::unique_ptr<port::RegistryKey> key;
  EXPECT_EQ(registry_->RegOpenKeyExA(port::Hive::CurrentUser, "Software\\ZrtNoSuchKey", key),
            port::err::kFileNotFound);
  EXPECT_EQ(key, nullptr);

  // The test key lives in the current user's hive only.
  EXPECT_EQ(registry_->RegOpenKeyExA(port::Hive::LocalMachine, kTestKey, key),
            port::err::kFileNotFound);

  ASSERT_EQ(registry_->RegOpenKeyExA(port::Hive::CurrentUser, kTestKey, key), 0);
  std::uint8_t data[16] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(data);
  EXPECT_EQ(registry_->RegQueryValueExA(*key, "Missing", type, data, size),
            port::err::kFileNotFound);
}

class FileSystemAdapterTest : public ::testing::Test {
 protected:
  ScratchFolder folder_{"zrt-files"};
  std::unique_ptr<port::FileSystem> files_ = MakeFileSystem();
};

TEST_F(FileSystemAdapterTest, OpenModesCreateAppendAndReplaceAndFilesCanBeDeleted) {
  const std::string path = folder_.File("log.txt");
  {
    auto file = files_->CreateFileA(path.c_str(), port::OpenMode::CreateNew);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteFile("one\r\n", 5));
  }
  EXPECT_EQ(files_->CreateFileA(path.c_str(), port::OpenMode::CreateNew), nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kFileExists);

  {
    auto file = files_->CreateFileA(path.c_str(), port::OpenMode::AppendExisting);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteFile("two\r\n", 5));
  }
  EXPECT_EQ(ReadFileBytes(path), "one\r\ntwo\r\n");
  EXPECT_EQ(files_->CreateFileA(folder_.File("none.txt").c_str(), port::OpenMode::AppendExisting),
            nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);

  {
    auto file = files_->CreateFileA(path.c_str(), port::OpenMode::Replace);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteFile("x", 1));
  }
  EXPECT_EQ(ReadFileBytes(path), "x");

  EXPECT_EQ(
      files_->CreateFileA(folder_.File("no\\such\\folder.txt").c_str(), port::OpenMode::Replace),
      nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kPathNotFound);

  EXPECT_TRUE(files_->DeleteFileA(path.c_str()));
  EXPECT_FALSE(files_->DeleteFileA(path.c_str()));
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);
}

TEST_F(FileSystemAdapterTest, AFileMadeAloneKeepsOtherWritersOutAndAppendsShare) {
  const std::string path = folder_.File("day.log");
  auto alone = files_->CreateFileA(path.c_str(), port::OpenMode::CreateNewAlone);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(files_->CreateFileA(path.c_str(), port::OpenMode::AppendExisting), nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kSharingViolation);
  EXPECT_TRUE(alone->WriteFile("head\r\n", 6));
  alone.reset();

  // Two append-only handles: each write lands at the end, never over the other's.
  auto first = files_->CreateFileA(path.c_str(), port::OpenMode::AppendExisting);
  auto second = files_->CreateFileA(path.c_str(), port::OpenMode::AppendExisting);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(first->WriteFile("a\r\n", 3));
  EXPECT_TRUE(second->WriteFile("b\r\n", 3));
  EXPECT_TRUE(first->WriteFile("c\r\n", 3));
  first.reset();
  second.reset();
  EXPECT_EQ(ReadFileBytes(path), "head\r\na\r\nb\r\nc\r\n");
}

// What a status written ahead rests on: while its writer holds it, no one
// else may write it, yet its name can be changed or removed; a name in use is
// never replaced; "*.xml" never finds it.
TEST_F(FileSystemAdapterTest, AHeldFileKeepsWritersOutButMayBeRenamedOrDeleted) {
  const std::string pending = folder_.File("status.pending");
  auto held = files_->CreateFileA(pending.c_str(), port::OpenMode::CreateNewHeld);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(held->WriteFile("doc\r\n", 5));
  EXPECT_EQ(files_->CreateFileA(pending.c_str(), port::OpenMode::AppendExisting), nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kSharingViolation);
  std::vector<std::string> names;
  EXPECT_TRUE(files_->FindFileNames(folder_.File("*.pending").c_str(), names));
  EXPECT_EQ(names, std::vector<std::string>{"status.pending"});
  EXPECT_FALSE(files_->FindFileNames(folder_.File("*.xml").c_str(), names));

  WriteFileBytes(folder_.File("taken.xml"), "older");
  EXPECT_FALSE(files_->MoveFileA(pending.c_str(), folder_.File("taken.xml").c_str()));
  EXPECT_EQ(::GetLastError(), port::err::kAlreadyExists);
  EXPECT_TRUE(files_->MoveFileA(pending.c_str(), folder_.File("status.xml").c_str()));
  held.reset();
  EXPECT_EQ(ReadFileBytes(folder_.File("status.xml")), "doc\r\n");
  EXPECT_EQ(ReadFileBytes(folder_.File("taken.xml")), "older");

  held = files_->CreateFileA(pending.c_str(), port::OpenMode::CreateNewHeld);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(files_->DeleteFileA(pending.c_str()));
  held.reset();
  EXPECT_FALSE(files_->FindFirstFileA(pending.c_str()));

  // A claim: refused while the writer holds the file; once taken, it keeps
  // every other open out, reads the file and renames it.
  held = files_->CreateFileA(pending.c_str(), port::OpenMode::CreateNewHeld);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(held->WriteFile("left\r\n", 6));
  EXPECT_EQ(files_->CreateFileA(pending.c_str(), port::OpenMode::ClaimExisting), nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kSharingViolation);
  held.reset();
  auto claim = files_->CreateFileA(pending.c_str(), port::OpenMode::ClaimExisting);
  ASSERT_NE(claim, nullptr);
  EXPECT_EQ(files_->CreateFileA(pending.c_str(), port::OpenMode::ClaimExisting), nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kSharingViolation);
  std::string bytes;
  EXPECT_TRUE(claim->ReadFile(bytes, 100));
  EXPECT_EQ(bytes, "left\r\n");
  EXPECT_TRUE(files_->MoveFileA(pending.c_str(), folder_.File("left.xml").c_str()));
  claim.reset();
  EXPECT_EQ(ReadFileBytes(folder_.File("left.xml")), "left\r\n");
}

TEST_F(FileSystemAdapterTest, FindsFilesFoldersAndPatternsAndTellsSizes) {
  WriteFileBytes(folder_.File("job.xml"), "<job/>");
  EXPECT_TRUE(files_->FindFirstFileA(folder_.File("job.xml").c_str()));
  EXPECT_TRUE(files_->FindFirstFileA(folder_.path().c_str()));
  EXPECT_TRUE(files_->FindFirstFileA(folder_.File("*.xml").c_str()));
  EXPECT_FALSE(files_->FindFirstFileA(folder_.File("*.txt").c_str()));
  EXPECT_FALSE(files_->FindFirstFileA(folder_.File("missing.xml").c_str()));

  std::uint64_t size = 0;
  EXPECT_TRUE(files_->GetFileSize(folder_.File("job.xml").c_str(), size));
  EXPECT_EQ(size, 6u);
  EXPECT_FALSE(files_->GetFileSize(folder_.File("missing.xml").c_str(), size));
}

TEST_F(FileSystemAdapterTest, CreatesAFolderOnceOnly) {
  const std::string path = folder_.File("Merqel");
  EXPECT_TRUE(files_->CreateDirectoryA(path.c_str()));
  EXPECT_FALSE(files_->CreateDirectoryA(path.c_str()));
  EXPECT_EQ(::GetLastError(), port::err::kAlreadyExists);
}

TEST_F(FileSystemAdapterTest, SystemFoldersRespectTheBufferCapacity) {
  std::string windows;
  ASSERT_TRUE(files_->GetWindowsDirectoryA(windows, 512));
  EXPECT_EQ(windows.size(), std::strlen("C:\\windows"));
  EXPECT_EQ(CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, windows.c_str(), -1,
                           "C:\\windows", -1),
            CSTR_EQUAL);
  std::string cut;
  EXPECT_FALSE(files_->GetWindowsDirectoryA(cut, windows.size()));  // no room for the terminator

  std::string appData;
  EXPECT_EQ(files_->SHGetFolderPathA(port::kCsidlCommonAppData, appData), port::kS_OK);
  EXPECT_FALSE(appData.empty());
  EXPECT_TRUE(files_->FindFirstFileA(appData.c_str()));
}

TEST_F(FileSystemAdapterTest, ReadsIniValuesCutToTheBuffer) {
  const std::string ini = folder_.File("zLocator.ini");
  WriteFileBytes(ini, "[wpdcmscriptjobinstancestatus]\r\nURL=https://status.example\r\n");
  EXPECT_EQ(
      files_->GetPrivateProfileStringA("wpdcmscriptjobinstancestatus", "URL", "", 260, ini.c_str()),
      "https://status.example");
  EXPECT_EQ(
      files_->GetPrivateProfileStringA("wpdcmscriptjobinstancestatus", "URL", "", 6, ini.c_str()),
      "https");
  EXPECT_EQ(files_->GetPrivateProfileStringA("wpdcmscriptjobinstancestatus", "Missing", "dflt", 260,
                                             ini.c_str()),
            "dflt");
}

}  // namespace
}  // namespace zrt::win32
