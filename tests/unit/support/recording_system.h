// A port::System for unit tests: Latin-1 as the ANSI code page, a small
// message table, a settable last error, and debugger output kept in order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/port/system.h"

namespace zrt::test {

class RecordingSystem : public port::System {
 public:
  std::vector<std::string> debugOutput;
  std::map<port::ErrorCode, std::string> messages = {
      {0, "The operation completed successfully.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
  };

  port::ErrorCode GetLastError() override { return lastError_; }
  void SetLastError(port::ErrorCode code) override { lastError_ = code; }
  std::string FormatMessageA(port::ErrorCode code, std::uint32_t languageId) override;
  bool MultiByteToWideChar(const std::string& source, port::WideText& destination,
                           std::size_t capacity) override;
  bool WideCharToMultiByte(const port::WideText& source, std::string& destination,
                           std::size_t capacity, bool* usedDefaultChar) override;
  int lstrcmpiA(const char* left, const char* right) override;
  std::uint32_t GetACP() override { return 1252; }
  bool IsDBCSLeadByte(unsigned char) override { return false; }
  std::string GetCommandLineA() override { return {}; }
  bool GetVersionExA(port::OsVersion& version, bool) override;
  void OutputDebugStringA(const char* text) override { debugOutput.emplace_back(text); }
  port::SystemTime GetLocalTime() override { return {}; }
  std::string GetTimeFormatA(const port::SystemTime&, const char*) override { return {}; }
  void Sleep(std::uint32_t) override {}

 private:
  port::ErrorCode lastError_ = 0;
};

}  // namespace zrt::test
