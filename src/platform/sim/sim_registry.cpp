#include "platform/sim/sim_registry.h"

#include <cctype>
#include <cstring>
#include <iterator>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

const std::string kWhere = machine_file::kRegistry;

// Each hive's names; the short one, lower case, starts every stored key path.
struct HiveNames {
  port::Hive hive;
  const char* name;
  const char* shortName;
};
constexpr HiveNames kHives[] = {{port::Hive::ClassesRoot, "HKEY_CLASSES_ROOT", "hkcr"},
                                {port::Hive::CurrentUser, "HKEY_CURRENT_USER", "hkcu"},
                                {port::Hive::LocalMachine, "HKEY_LOCAL_MACHINE", "hklm"},
                                {port::Hive::Users, "HKEY_USERS", "hku"},
                                {port::Hive::CurrentConfig, "HKEY_CURRENT_CONFIG", "hkcc"}};

const char* HiveName(port::Hive hive) {
  for (const HiveNames& names : kHives) {
    if (names.hive == hive) return names.shortName;
  }
  return "hklm";
}

std::optional<std::string> HiveFromText(const std::string& text) {
  for (const HiveNames& names : kHives) {
    if (Windows1252().EqualNoCase(text, names.name) ||
        Windows1252().EqualNoCase(text, names.shortName)) {
      return std::string(names.shortName);
    }
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
  // By type number.
  static const char* const kTypes[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",  //
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",  //
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  for (std::uint32_t code = 0; type.is_string() && code < std::size(kTypes); ++code) {
    if (Windows1252().EqualNoCase(type.get<std::string>(), kTypes[code])) return code;
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

void AppendText(std::vector<std::uint8_t>& bytes, const Json& text, const std::string& where,
                const AnsiCodePage& ansi) {
  if (!text.is_string()) throw MachineError(where + ": \"data\" must be a text");
  for (char c : ansi.FromUtf8(text.get<std::string>()))
    bytes.push_back(static_cast<std::uint8_t>(c));
}

// A DWORD's four bytes, little-endian.
void AppendNumber(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Turns a value of registry.json into its type and bytes: a text is a
// REG_SZ, a number a REG_DWORD, an object names its "type" and gives "data"
// or the exact bytes as "hex". Throws MachineError when malformed.
RegistryValue EncodeRegistryValue(const Json& value, const std::string& where,
                                  const AnsiCodePage& ansi) {
  RegistryValue encoded;
  if (value.is_string()) {
    encoded.type = port::regtype::kSz;
    AppendText(encoded.bytes, value, where, ansi);
    encoded.bytes.push_back(0);
    return encoded;
  }
  if (value.is_number()) {
    encoded.type = port::regtype::kDword;
    AppendNumber(encoded.bytes, Uint32Value(value, where));
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
  if (encoded.type == port::regtype::kDword) {
    AppendNumber(encoded.bytes, Uint32Value(*data, where));
  } else if (encoded.type == port::regtype::kSz || encoded.type == port::regtype::kExpandSz) {
    AppendText(encoded.bytes, *data, where, ansi);
    if (BoolMember(value, "terminator", true, where)) encoded.bytes.push_back(0);
  } else {
    throw MachineError(where + ": give the bytes of this type as \"hex\"");
  }
  return encoded;
}

}  // namespace

SimRegistry::SimRegistry(SimMachine& machine) : ansi_(machine.Ansi()) {
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
            EncodeRegistryValue(value, where + ": " + valueName, ansi_);
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
  const std::u16string path = KeyPath(HiveName(hive), ansi_.ToUtf16(subKey ? subKey : ""));
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
      keyIt->second.values.find(FoldUtf16(ansi_.ToUtf16(valueName ? valueName : "")));
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
