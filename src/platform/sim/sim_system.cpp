#include "platform/sim/sim_system.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_code_page.h"
#include "platform/sim/sim_messages.h"

namespace zrt::sim {
namespace {

constexpr port::ErrorCode kInsufficientBuffer = 122;
constexpr port::ErrorCode kMessageNotFound = 317;
constexpr port::ErrorCode kLanguageNotFound = 1815;

}  // namespace

std::string SimSystem::FormatMessageA(port::ErrorCode code, std::uint32_t languageId) {
  constexpr std::uint32_t kNeutral = 0, kUserDefault = 0x400, kEnglishUs = 0x409;
  if (languageId != kNeutral && languageId != kUserDefault && languageId != kEnglishUs) {
    machine_.SetLastError(kLanguageNotFound);
    return {};
  }
  if (auto text = SystemMessage(code)) return *text;
  machine_.SetLastError(kMessageNotFound);
  return {};
}

bool SimSystem::MultiByteToWideChar(const std::string& source, port::WideText& destination,
                                    std::size_t capacity) {
  const std::string_view text(source.c_str());  // up to the first zero byte
  if (text.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  destination = AnsiToUtf16(text);
  return true;
}

bool SimSystem::WideCharToMultiByte(const port::WideText& source, std::string& destination,
                                    std::size_t capacity, bool* usedDefaultChar) {
  const std::u16string_view text(source.c_str());
  if (text.size() + 1 > capacity) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  destination = Utf16ToAnsi(text, usedDefaultChar);
  return true;
}

int SimSystem::lstrcmpiA(const char* left, const char* right) {
  if (left == nullptr || right == nullptr) {
    if (left == right) return 0;
    return left == nullptr ? -1 : 1;
  }
  return CompareAnsiNoCase(left, right);
}

std::string SimSystem::GetCommandLineA() {
  return Utf8ToAnsi(machine_.Settings().programPath) + " " + jobArgument_;
}

bool SimSystem::GetVersionExA(port::OsVersion& version, bool extended) {
  const MachineSettings& settings = machine_.Settings();
  if (extended ? settings.extendedVersionRefused : settings.basicVersionRefused) {
    machine_.SetLastError(kInsufficientBuffer);
    return false;
  }
  version = settings.version;
  return true;
}

void SimSystem::OutputDebugStringA(const char* text) {
  machine_.RaiseIfDue("OutputDebugStringA");
  if (text == nullptr) return;
  machine_.AppendRecord(machine_file::kDebugOutput, AnsiToUtf8(text));
}

port::SystemTime SimSystem::GetLocalTime() {
  machine_.RaiseIfDue("GetLocalTime");
  const auto& fixed = machine_.Settings().fixedLocalTime;
  return fixed ? *fixed : HostLocalTime();
}

std::string SimSystem::GetTimeFormatA(const port::SystemTime& time, const char* picture) {
  machine_.RaiseIfDue("GetTimeFormatA");
  auto text = FormatTime(time, picture ? picture : "h:mm:ss tt");
  if (!text) {
    machine_.SetLastError(port::err::kInvalidParameter);
    return {};
  }
  return *text;
}

void SimSystem::Sleep(std::uint32_t milliseconds) {
  machine_.RaiseIfDue("Sleep");
  if (machine_.Settings().sleepWaits) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  // sleep.json: {"total_ms": sum of all sleeps, "calls": [each sleep]}; jobs
  // running at once on the machine each add theirs.
  const auto lock = machine_.LockMachine();
  const auto file = machine_.File(machine_file::kSleep);
  const Json before = ReadJsonFile(file, Json::object());
  const Json* total = Member(before, "total_ms");
  const Json* calls = Member(before, "calls");
  Json record = Json::object();
  record["total_ms"] =
      (total != nullptr && total->is_number_unsigned() ? total->get<std::uint64_t>() : 0) +
      milliseconds;
  record["calls"] = calls != nullptr && calls->is_array() ? *calls : Json::array();
  record["calls"].push_back(milliseconds);
  WriteJsonFile(file, record);
}

}  // namespace zrt::sim
