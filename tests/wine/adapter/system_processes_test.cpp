// The system-services and process adapters under Wine, in a prefix set to
// Windows XP with a shell (explorer.exe) running.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"
#include "wine_test_support.h"

namespace zrt::win32 {
namespace {

class SystemAdapterTest : public ::testing::Test {
 protected:
  std::unique_ptr<port::System> system_ = MakeSystem();
};

TEST_F(SystemAdapterTest, ConversionsHonourTheCapacityIncludingTheTerminator) {
  port::WideText wide;
  EXPECT_TRUE(system_->MultiByteToWideChar("abc", wide, 4));
  EXPECT_EQ(wide, u"abc");
  EXPECT_FALSE(system_->MultiByteToWideChar("abc", wide, 3));
  EXPECT_EQ(system_->GetLastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
  EXPECT_FALSE(system_->MultiByteToWideChar("abc", wide, 0));

  std::string narrow;
  EXPECT_TRUE(system_->WideCharToMultiByte(u"Power Management", narrow, 17, nullptr));
  EXPECT_EQ(narrow, "Power Management");
  EXPECT_FALSE(system_->WideCharToMultiByte(u"Power Management", narrow, 16, nullptr));
  EXPECT_TRUE(narrow.empty());

  // The whole zero-terminated text is converted, and no further.
  EXPECT_TRUE(system_->MultiByteToWideChar(std::string("ab\0cd", 5), wide, 10));
  EXPECT_EQ(wide, u"ab");
}

TEST_F(SystemAdapterTest, ConversionsUseTheAnsiCodePage) {
  // U+00E4 is byte 0xE4 in the Western code page; Wine takes the code page
  // from the Linux locale (C and English locales give 1252).
  if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << ::GetACP() << ", not 1252";
  std::string narrow;
  bool usedDefault = true;
  EXPECT_TRUE(system_->WideCharToMultiByte(u"Pr\u00e4sentation", narrow, 26, &usedDefault));
  EXPECT_EQ(narrow, "Pr\xe4sentation");
  EXPECT_FALSE(usedDefault);
  // Without a best fit, a letter the code page lacks becomes the default
  // character, and the platform says so.
  std::string lossy;
  EXPECT_TRUE(system_->WideCharToMultiByte(u"\u0100\u7bc0", lossy, 6, &usedDefault));
  EXPECT_EQ(lossy, "??");
  EXPECT_TRUE(usedDefault);
  port::WideText wide;
  EXPECT_TRUE(system_->MultiByteToWideChar(narrow, wide, 26));
  EXPECT_EQ(wide, u"Pr\u00e4sentation");
}

TEST_F(SystemAdapterTest, MessageTextsKeepTheirLineEnd) {
  const std::string text = system_->FormatMessageA(port::err::kFileNotFound, 0x400);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(system_->FormatMessageA(port::err::kFileNotFound, 0), text);
  EXPECT_EQ(system_->FormatMessageA(0x2fffffffu, 0x400), "");
}

TEST_F(SystemAdapterTest, ReportsWindowsXpInBothVersionRecords) {
  port::OsVersion extended;
  ASSERT_TRUE(system_->GetVersionExA(extended, true));
  EXPECT_EQ(extended.major, 5u);
  EXPECT_EQ(extended.minor, 1u);
  port::OsVersion basic;
  ASSERT_TRUE(system_->GetVersionExA(basic, false));
  EXPECT_EQ(basic.major, 5u);
  EXPECT_EQ(basic.build, extended.build);
}

TEST_F(SystemAdapterTest, FormatsTimesWithThePicture) {
  port::SystemTime time;
  time.year = 2024;
  time.month = 3;
  time.day = 9;
  time.hour = 13;
  time.minute = 5;
  time.second = 9;
  EXPECT_EQ(system_->GetTimeFormatA(time, "HH':'mm':'ss"), "13:05:09");
  time.hour = 25;  // not a time: no text
  EXPECT_EQ(system_->GetTimeFormatA(time, "HH':'mm':'ss"), "");
}

class ProcessesAdapterTest : public ::testing::Test {
 protected:
  std::unique_ptr<port::Processes> processes_ = MakeProcesses();
};

TEST_F(ProcessesAdapterTest, TheSnapshotHoldsThisProgramAndTheShell) {
  std::vector<port::ProcessEntry> entries;
  ASSERT_TRUE(processes_->SnapshotProcesses(entries));
  const auto self = std::find_if(entries.begin(), entries.end(), [](const port::ProcessEntry& e) {
    return e.processId == ::GetCurrentProcessId();
  });
  ASSERT_NE(self, entries.end());
  EXPECT_EQ(self->exeFile, "zrt_win32_adapter_tests.exe");
  const auto shell = std::find_if(entries.begin(), entries.end(), [](const port::ProcessEntry& e) {
    return ::lstrcmpiA(e.exeFile.c_str(), "explorer.exe") == 0;
  });
  EXPECT_NE(shell, entries.end()) << "no explorer.exe: is the prefix started?";
}

TEST_F(ProcessesAdapterTest, AGlobalMutexIsWaitedForBoundedAndTakenOverWhenAbandoned) {
  const char* name = "Global\\zrt-adapter-test";
  auto mine = processes_->CreateMutexA(name);
  auto other = processes_->CreateMutexA(name);  // the handle another job would have
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(other, nullptr);
  std::promise<void> taken, mayEnd;
  // A holder that ends without releasing the mutex.
  std::thread holder([&] {
    EXPECT_EQ(processes_->WaitForSingleObject(*other, 0), port::kWaitObject0);
    taken.set_value();
    mayEnd.get_future().wait();
  });
  taken.get_future().wait();
  EXPECT_EQ(processes_->WaitForSingleObject(*mine, 50), port::kWaitTimeout);
  EXPECT_FALSE(processes_->ReleaseMutex(*mine));  // not held by this thread
  mayEnd.set_value();
  holder.join();
  EXPECT_EQ(processes_->WaitForSingleObject(*mine, 1000), port::kWaitAbandoned);
  EXPECT_TRUE(processes_->ReleaseMutex(*mine));
  EXPECT_EQ(processes_->WaitForSingleObject(*other, 0), port::kWaitObject0);
  EXPECT_TRUE(processes_->ReleaseMutex(*other));
}

// The lock must serve every user's job: its DACL, read back, holds exactly
// one entry, allowing Everyone to wait on it and release it.
TEST_F(ProcessesAdapterTest, TheSchemeLockIsOpenToEveryUsersJob) {
  const char* name = "Global\\zrt-adapter-test-dacl";
  auto mutex = processes_->CreateMutexA(name);
  ASSERT_NE(mutex, nullptr);
  UniqueHandle reader(::OpenMutexA(READ_CONTROL, FALSE, name));
  ASSERT_TRUE(reader) << ::GetLastError();
  DWORD size = 0;
  ::GetKernelObjectSecurity(reader.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<DWORD> descriptor((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  ASSERT_TRUE(::GetKernelObjectSecurity(reader.get(), DACL_SECURITY_INFORMATION, descriptor.data(),
                                        size, &size));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);  // a null DACL would allow anything
  ASSERT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Mask, static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  ASSERT_TRUE(::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                         everyone.put()));
  EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone.get()));
  // What a job of another user may ask for is enough to take and release it.
  UniqueHandle other(::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
  ASSERT_TRUE(other);
  EXPECT_EQ(::WaitForSingleObject(other.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(::ReleaseMutex(other.get()));
}

TEST_F(ProcessesAdapterTest, ImpersonatesTheUserOfTheShellsToken) {
  std::vector<port::ProcessEntry> entries;
  ASSERT_TRUE(processes_->SnapshotProcesses(entries));
  const auto shell = std::find_if(entries.begin(), entries.end(), [](const port::ProcessEntry& e) {
    return ::lstrcmpiA(e.exeFile.c_str(), "explorer.exe") == 0;
  });
  ASSERT_NE(shell, entries.end());

  std::string before;
  ASSERT_TRUE(processes_->GetUserNameA(before, 257));
  EXPECT_FALSE(before.empty());

  auto process = processes_->OpenProcess(shell->processId);
  ASSERT_NE(process, nullptr);
  auto token = processes_->OpenProcessToken(process.get());
  ASSERT_NE(token, nullptr);
  ASSERT_TRUE(processes_->ImpersonateLoggedOnUser(*token));
  std::string during;
  EXPECT_TRUE(processes_->GetUserNameA(during, 257));
  EXPECT_EQ(during, before);  // one user in a Wine prefix
  EXPECT_TRUE(processes_->RevertToSelf());
}

// Commands started as the program starts them, on the Powercfg.exe double
// beside the test program (found first by the search order).
class CommandAdapterTest : public ProcessesAdapterTest {
 protected:
  void SetUp() override {
    wine_test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kDoubles);
    wine_test::RegistryWriter(HKEY_LOCAL_MACHINE, kPowercfg)
        .SetString(L"RecordFile", std::wstring(record_.begin(), record_.end()));
    ::DeleteFileA(record_.c_str());
    std::vector<port::ProcessEntry> entries;
    ASSERT_TRUE(processes_->SnapshotProcesses(entries));
    for (const auto& entry : entries) {
      if (::lstrcmpiA(entry.exeFile.c_str(), "explorer.exe") != 0) continue;
      shell_ = processes_->OpenProcess(entry.processId);
      token_ = processes_->OpenProcessToken(shell_.get());
      break;
    }
    ASSERT_NE(token_, nullptr) << "no shell's token: is the prefix started?";
  }
  void TearDown() override {
    wine_test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kDoubles);
    ::DeleteFileA(record_.c_str());
  }

  bool Start(std::string commandLine, port::ProcessInformation& started) {
    port::StartupInfo startup;
    startup.dwFlags = port::kStartfUseShowWindow | port::kStartfUseStdHandles;
    startup.wShowWindow = port::kSwHide;
    startup.desktop = "winsta0\\default";
    return processes_->CreateProcessAsUserA(*token_, commandLine.data(), true,
                                            port::kCreateNewConsole, startup, started);
  }

  static constexpr const wchar_t* kDoubles = L"Software\\ZrtTestDoubles";
  static constexpr const wchar_t* kPowercfg = L"Software\\ZrtTestDoubles\\Powercfg";
  const std::string record_ = wine_test::ProgramFolder() + "commands-test.jsonl";
  std::unique_ptr<port::KernelHandle> shell_;
  std::unique_ptr<port::KernelHandle> token_;
};

TEST_F(CommandAdapterTest, StartsAHiddenCommandOnTheUsersDesktopAndReadsItsExitCode) {
  port::ProcessInformation started;
  ASSERT_TRUE(Start("POWERCFG -HIBERNATE on", started));
  EXPECT_NE(started.processId, 0u);
  EXPECT_EQ(processes_->WaitForSingleObject(*started.process, port::kInfinite), port::kWaitObject0);
  std::uint32_t exitCode = 99;
  ASSERT_TRUE(processes_->GetExitCodeProcess(*started.process, exitCode));
  EXPECT_EQ(exitCode, 0u);

  port::ProcessInformation refused;
  ASSERT_TRUE(Start("Powercfg.exe -HIBERNATE maybe", refused));
  processes_->WaitForSingleObject(*refused.process, port::kInfinite);
  ASSERT_TRUE(processes_->GetExitCodeProcess(*refused.process, exitCode));
  EXPECT_EQ(exitCode, 1u);

  // What the started command saw of itself.
  std::string user;
  ASSERT_TRUE(processes_->GetUserNameA(user, 257));
  const std::string record = wine_test::ReadFileBytes(record_);
  EXPECT_NE(record.find("\"command_line\":\"POWERCFG -HIBERNATE on\""), std::string::npos)
      << record;
  EXPECT_NE(record.find("\"account\":\"" + user + "\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"desktop\":\"winsta0\\\\default\""), std::string::npos) << record;
  EXPECT_NE(record.find("\"flags\":257,\"show_window\":0"), std::string::npos) << record;
}

TEST_F(CommandAdapterTest, ATimedOutWaitLeavesTheCommandRunningUntilItIsEnded) {
  wine_test::RegistryWriter(HKEY_LOCAL_MACHINE, kPowercfg)
      .SetString(L"Commands", L"{\"Powercfg.exe -LIST\": {\"never_ends\": true}}");
  port::ProcessInformation started;
  ASSERT_TRUE(Start("Powercfg.exe -LIST", started));
  EXPECT_EQ(processes_->WaitForSingleObject(*started.process, 200), port::kWaitTimeout);
  std::uint32_t exitCode = 0;
  ASSERT_TRUE(processes_->GetExitCodeProcess(*started.process, exitCode));
  EXPECT_EQ(exitCode, 259u);  // STILL_ACTIVE
  ASSERT_TRUE(processes_->TerminateProcess(*started.process, 1460));
  EXPECT_EQ(processes_->WaitForSingleObject(*started.process, 10000), port::kWaitObject0);
  ASSERT_TRUE(processes_->GetExitCodeProcess(*started.process, exitCode));
  EXPECT_EQ(exitCode, 1460u);
}

TEST_F(CommandAdapterTest, RunningOutOfMemoryNeverLeavesAStartedCommandBehind) {
  wine_test::RegistryWriter(HKEY_LOCAL_MACHINE, kPowercfg)
      .SetString(L"Commands", L"{\"Powercfg.exe -LIST\": {\"never_ends\": true}}");
  // Ends every running command double; how many there were.
  const auto endRunning = [this] {
    std::vector<port::ProcessEntry> entries;
    EXPECT_TRUE(processes_->SnapshotProcesses(entries));
    int running = 0;
    for (const auto& entry : entries) {
      if (::lstrcmpiA(entry.exeFile.c_str(), "Powercfg.exe") != 0) continue;
      ++running;
      UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.processId));
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 10000);
    }
    return running;
  };
  ASSERT_EQ(endRunning(), 0);
  port::StartupInfo startup;
  startup.desktop = "winsta0\\default";
  // Each allocation of a start fails in turn, until a start needs no more.
  int allowed = 0;
  for (;; ++allowed) {
    std::string commandLine = "Powercfg.exe -LIST";
    port::ProcessInformation started;
    bool outOfMemory = false;
    wine_test::FailAllocationAfter(allowed);
    try {
      processes_->CreateProcessAsUserA(*token_, commandLine.data(), true, port::kCreateNewConsole,
                                       startup, started);
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
    wine_test::FailAllocationAfter(-1);
    if (!outOfMemory) {  // the caller holds the one command that started
      ASSERT_NE(started.process, nullptr);
      processes_->TerminateProcess(*started.process, 1);
      processes_->WaitForSingleObject(*started.process, 10000);
      break;
    }
    EXPECT_EQ(endRunning(), 0) << "allocation " << allowed << " failed after the start";
  }
  EXPECT_GT(allowed, 0);
}

TEST_F(CommandAdapterTest, AProgramThatDoesNotExistIsNotStarted) {
  port::ProcessInformation started;
  EXPECT_FALSE(Start("NoSuchTool.exe -LIST", started));
  EXPECT_EQ(::GetLastError(), port::err::kFileNotFound);
  EXPECT_EQ(started.process, nullptr);
}

TEST_F(ProcessesAdapterTest, AHandleOfAnotherAdapterIsRefusedNotTakenForNull) {
  struct ForeignHandle final : port::KernelHandle {
  } foreign;
  EXPECT_THROW(processes_->OpenProcessToken(&foreign), std::invalid_argument);
  EXPECT_THROW(processes_->ImpersonateLoggedOnUser(foreign), std::invalid_argument);
  EXPECT_THROW(processes_->WaitForSingleObject(foreign, 0), std::invalid_argument);
}

TEST_F(ProcessesAdapterTest, RefusalsCarryTheSystemsErrors) {
  auto token = processes_->OpenProcessToken(nullptr);
  EXPECT_EQ(token, nullptr);
  EXPECT_EQ(::GetLastError(), port::err::kInvalidHandle);

  std::string name;
  EXPECT_FALSE(processes_->GetUserNameA(name, 1));
  EXPECT_EQ(::GetLastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER
  EXPECT_TRUE(name.empty());
}

}  // namespace
}  // namespace zrt::win32
