#include "platform/sim/sim_registry.h"

#include <cctype>
#include <cstring>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kRegistry;

constexpr std::uint32_t kRegLink = 6;
constexpr std::uint32_t kRegResourceList = 8;
constexpr std::uint32_t kRegFullResourceDescriptor = 9;
constexpr std::uint32_t kRegResourceRequirementsList = 10;

// The short hive name that starts every stored key path.
const char* HiveName(port::Hive hive) {
  switch (hive) {
    case port::Hive::ClassesRoot:
      return "hkcr";
    case port::Hive::CurrentUser:
      return "hkcu";
    case port::Hive::LocalMachine:
      return "hklm";
    case port::Hive::Users:
      return "hku";
    case port::Hive::CurrentConfig:
      return "hkcc";
  }
  return "hklm";
}

std::optional<std::string> HiveFromText(const std::string& text) {
  static const std::pair<const char*, const char*> kNames[] = {
      {"HKEY_CLASSES_ROOT", "hkcr"},   {"HKCR", "hkcr"},
      {"HKEY_CURRENT_USER", "hkcu"},   {"HKCU", "hkcu"},
      {"HKEY_LOCAL_MACHINE", "hklm"},  {"HKLM", "hklm"},
      {"HKEY_USERS", "hku"},           {"HKU", "hku"},
      {"HKEY_CURRENT_CONFIG", "hkcc"}, {"HKCC", "hkcc"}};
  for (const auto& [name, shortName] : kNames) {
    if (EqualAnsiNoCase(text, name)) return std::string(shortName);
  }
  return std::nullopt;
}

// "hklm\software\merqel": the hive, then the folded key names.
std::u16string KeyPath(const std::string& hive, const std::u16string& subKey) {
  std::u16string path = Utf8ToUtf16(hive);
  std::u16string part;
  const auto flush = [&] {
    if (!part.empty()) path += u'\\' + FoldUtf16(part);
    part.clear();
  };
  for (char16_t unit : subKey) {
    if (unit == u'\\') {
      flush();
    } else {
      part += unit;
    }
  }
  flush();
  return path;
}

std::uint32_t TypeFromJson(const Json& type, const std::string& where) {
  if (type.is_number()) return Uint32Value(type, where);
  static const std::pair<const char*, std::uint32_t> kTypes[] = {
      {"REG_NONE", port::regtype::kNone},
      {"REG_SZ", port::regtype::kSz},
      {"REG_EXPAND_SZ", port::regtype::kExpandSz},
      {"REG_BINARY", port::regtype::kBinary},
      {"REG_DWORD", port::regtype::kDword},
      {"REG_DWORD_LITTLE_ENDIAN", port::regtype::kDword},
      {"REG_DWORD_BIG_ENDIAN", port::regtype::kDwordBigEndian},
      {"REG_LINK", kRegLink},
      {"REG_MULTI_SZ", port::regtype::kMultiSz},
      {"REG_RESOURCE_LIST", kRegResourceList},
      {"REG_FULL_RESOURCE_DESCRIPTOR", kRegFullResourceDescriptor},
      {"REG_RESOURCE_REQUIREMENTS_LIST", kRegResourceRequirementsList},
      {"REG_QWORD", port::regtype::kQword},
      {"REG_QWORD_LITTLE_ENDIAN", port::regtype::kQword}};
  if (type.is_string()) {
    for (const auto& [name, code] : kTypes) {
      if (EqualAnsiNoCase(type.get<std::string>(), name)) return code;
    }
  }
  throw MachineError(where + ": unknown value type " + type.dump());
}

std::vector<std::uint8_t> HexBytes(const std::string& hex, const std::string& where) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ',' || c == ':' || c == '\n' || c == '\t') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      throw MachineError(where + ": \"hex\" holds a character that is not a hex digit");
    }
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) throw MachineError(where + ": \"hex\" has an odd number of digits");
  return bytes;
}

void AppendText(std::vector<std::uint8_t>& bytes, const Json& text, const std::string& where) {
  if (!text.is_string()) throw MachineError(where + ": \"data\" must be a text");
  for (char c : Utf8ToAnsi(text.get<std::string>())) bytes.push_back(static_cast<std::uint8_t>(c));
}

void AppendNumber(std::vector<std::uint8_t>& bytes, std::uint64_t value, int size, bool bigEndian) {
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (bigEndian ? size - 1 - i : i);
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint64_t QwordFromJson(const Json& data, const std::string& where) {
  if (data.is_number_unsigned()) return data.get<std::uint64_t>();
  if (data.is_number_integer()) return static_cast<std::uint64_t>(data.get<std::int64_t>());
  throw MachineError(where + ": \"data\" must be a whole number");
}

}  // namespace

RegistryValue EncodeRegistryValue(const Json& value, const std::string& where) {
  RegistryValue encoded;
  if (value.is_string()) {
    encoded.type = port::regtype::kSz;
    AppendText(encoded.bytes, value, where);
    encoded.bytes.push_back(0);
    return encoded;
  }
  if (value.is_number()) {
    encoded.type = port::regtype::kDword;
    AppendNumber(encoded.bytes, Uint32Value(value, where), 4, false);
    return encoded;
  }
  if (!value.is_object()) throw MachineError(where + ": a value must be a text, number or object");

  const Json* type = Member(value, "type");
  if (type == nullptr) throw MachineError(where + ": the value has no \"type\"");
  encoded.type = TypeFromJson(*type, where);
  if (const Json* hex = Member(value, "hex")) {
    if (!hex->is_string()) throw MachineError(where + ": \"hex\" must be a text");
    encoded.bytes = HexBytes(hex->get<std::string>(), where);
    return encoded;
  }
  const Json* data = Member(value, "data");
  if (data == nullptr) return encoded;  // a value without data
  const bool terminator = BoolMember(value, "terminator", true, where);
  switch (encoded.type) {
    case port::regtype::kSz:
    case port::regtype::kExpandSz:
    case kRegLink:
      AppendText(encoded.bytes, *data, where);
      if (terminator) encoded.bytes.push_back(0);
      break;
    case port::regtype::kMultiSz:
      if (!data->is_array()) throw MachineError(where + ": REG_MULTI_SZ \"data\" must be a list");
      for (const Json& text : *data) {
        AppendText(encoded.bytes, text, where);
        encoded.bytes.push_back(0);
      }
      if (terminator) encoded.bytes.push_back(0);
      break;
    case port::regtype::kDword:
    case port::regtype::kDwordBigEndian:
      AppendNumber(encoded.bytes, Uint32Value(*data, where), 4,
                   encoded.type == port::regtype::kDwordBigEndian);
      break;
    case port::regtype::kQword:
      AppendNumber(encoded.bytes, QwordFromJson(*data, where), 8, false);
      break;
    default:
      throw MachineError(where + ": give the bytes of this type as \"hex\"");
  }
  return encoded;
}

SimRegistry::SimRegistry(SimMachine& machine) {
  Load(ReadJsonFile(machine.File(machine_file::kRegistry), Json::object()));
}

void SimRegistry::Load(const Json& registry) {
  if (!registry.is_object()) throw MachineError(kWhere + " must hold a JSON object");
  const Json* keys = Member(registry, "keys");
  if (keys == nullptr) return;
  if (!keys->is_object()) throw MachineError(kWhere + ": \"keys\" must be an object");
  for (const auto& [name, content] : keys->items()) {
    const std::string where = kWhere + ": " + name;
    const std::size_t slash = name.find('\\');
    const auto hive = HiveFromText(name.substr(0, slash));
    if (!hive)
      throw MachineError(where + ": a key path starts with a hive such as HKEY_LOCAL_MACHINE");
    const std::u16string subKey =
        slash == std::string::npos ? u"" : Utf8ToUtf16(name.substr(slash + 1));
    Key& key = keys_[KeyPath(*hive, subKey)];
    if (!content.is_object()) throw MachineError(where + ": a key must be an object");
    if (const Json* error = Member(content, "open_error"))
      key.openError = Uint32Value(*error, where);
    if (const Json* values = Member(content, "values")) {
      if (!values->is_object()) throw MachineError(where + ": \"values\" must be an object");
      for (const auto& [valueName, value] : values->items()) {
        key.values[FoldUtf16(Utf8ToUtf16(valueName))] =
            EncodeRegistryValue(value, where + ": " + valueName);
      }
    }
  }
}

bool SimRegistry::KeyExists(const std::u16string& path) const {
  if (path.find(u'\\') == std::u16string::npos) return true;  // a hive
  if (keys_.count(path) > 0) return true;
  // A key above a listed key exists too: look for the first descendant.
  const std::u16string prefix = path + u'\\';
  const auto it = keys_.lower_bound(prefix);
  return it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

namespace {

class SimRegistryKey : public port::RegistryKey {
 public:
  explicit SimRegistryKey(std::u16string path) : path_(std::move(path)) {}
  const std::u16string& Path() const { return path_; }

 private:
  std::u16string path_;
};

}  // namespace

long SimRegistry::RegOpenKeyExA(port::Hive hive, const char* subKey,
                                std::unique_ptr<port::RegistryKey>& opened) {
  const std::u16string path = KeyPath(HiveName(hive), AnsiToUtf16(subKey ? subKey : ""));
  if (!KeyExists(path)) return static_cast<long>(port::err::kFileNotFound);
  const auto it = keys_.find(path);
  if (it != keys_.end() && it->second.openError) return static_cast<long>(*it->second.openError);
  opened = std::make_unique<SimRegistryKey>(path);
  return 0;
}

long SimRegistry::RegQueryValueExA(port::RegistryKey& key, const char* valueName,
                                   std::uint32_t& type, std::uint8_t* data, std::uint32_t& size) {
  const auto* simKey = dynamic_cast<const SimRegistryKey*>(&key);
  if (simKey == nullptr) return static_cast<long>(port::err::kInvalidHandle);
  const auto keyIt = keys_.find(simKey->Path());
  if (keyIt == keys_.end()) return static_cast<long>(port::err::kFileNotFound);
  const auto valueIt =
      keyIt->second.values.find(FoldUtf16(AnsiToUtf16(valueName ? valueName : "")));
  if (valueIt == keyIt->second.values.end()) return static_cast<long>(port::err::kFileNotFound);

  const RegistryValue& value = valueIt->second;
  const auto needed = static_cast<std::uint32_t>(value.bytes.size());
  type = value.type;
  if (data == nullptr) {
    size = needed;
    return 0;
  }
  if (needed > size) {
    size = needed;
    return static_cast<long>(port::err::kMoreData);
  }
  if (needed > 0) std::memcpy(data, value.bytes.data(), needed);
  size = needed;
  return 0;
}

}  // namespace zrt::sim
