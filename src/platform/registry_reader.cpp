#include "platform/registry_reader.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ascii_case.h"
#include "platform/code_page_text.h"
#include "platform/user_context.h"

namespace zrt {
namespace {
constexpr std::size_t kMaxSystemText = 1000;
constexpr std::size_t kDwordTextWidth = 99;
}  // namespace

std::string_view RegistryValue::Text() const {
  std::size_t limit = kCapacity - 1;
  if (type == port::regtype::kBinary) limit = std::min<std::size_t>(size, kCapacity);
  return {data.data(), strnlen(data.data(), limit)};
}

port::Hive HiveFromName(std::string_view hiveName) {
  struct Entry {
    const char* name;
    port::Hive hive;
  };
  static constexpr Entry kHives[] = {
      {"HKEY_CLASSES_ROOT", port::Hive::ClassesRoot},
      {"HKEY_CURRENT_USER", port::Hive::CurrentUser},
      {"HKEY_LOCAL_MACHINE", port::Hive::LocalMachine},
      {"HKEY_USERS", port::Hive::Users},
      {"HKEY_CURRENT_CONFIG", port::Hive::CurrentConfig},
  };
  for (const auto& entry : kHives) {
    if (EqualsIgnoringAsciiCase(hiveName, entry.name)) return entry.hive;
  }
  return port::Hive::LocalMachine;
}

CRegistry::CRegistry(port::Registry& registry, port::System& system)
    : registry_(registry), system_(system) {}

void CRegistry::SetFailure(const char* call, long status) {
  std::string text = system_.FormatMessageA(static_cast<port::ErrorCode>(status), 0);
  const LeadByteTest isLeadByte = LeadBytesOf(system_);
  errorMessage_.Assign(std::string(call) + " [" + std::to_string(status) +
                           "]::" + CutToWholeCharacters(text, kMaxSystemText, isLeadByte),
                       isLeadByte);
}

void CRegistry::CloseKey() { openedKey_.reset(); }

bool CRegistry::OpenKey(std::string_view hiveName, const char* subKey) {
  CloseKey();
  const long status = registry_.RegOpenKeyExA(HiveFromName(hiveName), subKey, openedKey_);
  if (status != 0) {
    SetFailure("RegOpenKeyEx", status);
    CloseKey();
    return false;
  }
  return true;
}

bool CRegistry::QueryValue(std::string_view hiveName, std::string_view subKey,
                           const char* valueName, RegistryValue& output) {
  errorMessage_.Clear();
  const FixedText<1024> path(subKey);
  if (!OpenKey(hiveName, path.c_str())) return false;

  std::array<std::uint8_t, RegistryValue::kCapacity> data{};
  std::uint32_t type = port::regtype::kNone;
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  const long status = registry_.RegQueryValueExA(*openedKey_, valueName, type, data.data(), size);
  output.size = size;
  if (status != 0) {
    SetFailure("RegQueryValueEx", status);
    CloseKey();
    return false;
  }
  output.type = type;
  const std::size_t delivered = std::min<std::size_t>(size, data.size());
  switch (type) {
    case port::regtype::kSz: {
      // The text ends where the reported size ends; a value that fills the
      // whole buffer is cut by one byte to keep room for the terminator.
      const std::size_t length = std::min(delivered, RegistryValue::kCapacity - 1);
      std::memcpy(output.data.data(), data.data(), length);
      output.data[length] = '\0';
      break;
    }
    case port::regtype::kBinary:
      // Written to standard output although the program has no console:
      // where the agent captures it, that output is expected as it stands.
      std::fputs("Type= REG_BINARY\n", stdout);
      for (std::size_t i = 0; i < delivered; ++i) {
        if (i % 10 == 0) std::fputs("\n", stdout);
        output.data[i] = static_cast<char>(data[i]);
      }
      output.size = static_cast<std::uint32_t>(delivered);
      break;
    case port::regtype::kDword: {
      const std::uint32_t raw =
          static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
          static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
      const FixedText<kDwordTextWidth + 1> text(std::to_string(static_cast<std::int32_t>(raw)));
      output.data.fill('\0');
      std::memcpy(output.data.data(), text.c_str(), text.size());
      break;
    }
    default:
      break;  // other types leave the output as it was
  }
  CloseKey();
  return true;
}

}  // namespace zrt
