#include "support/recording_system.h"

#include <algorithm>
#include <cctype>

namespace zrt::test {
namespace {

// The ANSI code page here is Latin-1; other characters become the code
// page's default character.
char ToByte(char16_t unit) { return unit <= 0xFF ? static_cast<char>(unit) : '?'; }

}  // namespace

std::string RecordingSystem::FormatMessageA(port::ErrorCode code, std::uint32_t) {
  const auto found = messages.find(code);
  return found == messages.end() ? std::string() : found->second;
}

bool RecordingSystem::MultiByteToWideChar(const std::string& source, port::WideText& destination,
                                          std::size_t capacity) {
  destination.clear();
  if (source.size() + 1 > capacity) return false;
  for (const char byte : source) destination += static_cast<unsigned char>(byte);
  return true;
}

bool RecordingSystem::WideCharToMultiByte(const port::WideText& source, std::string& destination,
                                          std::size_t capacity, bool* usedDefaultChar) {
  destination.clear();
  if (source.size() + 1 > capacity) return false;
  for (const char16_t unit : source) destination += ToByte(unit);
  if (usedDefaultChar) {
    *usedDefaultChar =
        std::any_of(source.begin(), source.end(), [](char16_t u) { return u > 0xFF; });
  }
  return true;
}

int RecordingSystem::lstrcmpiA(const char* left, const char* right) {
  for (;; ++left, ++right) {
    const int a = std::tolower(static_cast<unsigned char>(*left));
    const int b = std::tolower(static_cast<unsigned char>(*right));
    if (a != b || a == 0) return a < b ? -1 : (a > b ? 1 : 0);
  }
}

bool RecordingSystem::GetVersionExA(port::OsVersion& version, bool) {
  version = {5, 1, 2600};
  return true;
}

}  // namespace zrt::test
