// The simulated registry: key lookup, refusals, and the statuses and sizes
// of RegQueryValueExA.
#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

using port::Hive;

class SimRegistryTest : public SimMachineTest {
 protected:
  SimRegistryTest() {
    Reopen("registry.json", R"({
      "keys": {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\MERQEL": {
          "values": {
            "REGID": "R-1001",
            "Name": "caf\u00e9 \u20ac",
            "Count": 70000,
            "AllBits": {"type": "REG_DWORD", "data": -1},
            "Path": {"type": "REG_EXPAND_SZ", "data": "%SystemRoot%"},
            "List": {"type": "REG_MULTI_SZ", "hex": "61 00 62 63 00 00"},
            "Blob": {"type": "REG_BINARY", "hex": "00 01 fe FF"},
            "Odd": {"type": 8, "hex": "0102"},
            "Bare": {"type": "REG_SZ", "data": "AB", "terminator": false},
            "": "default value"
          }
        },
        "HKLM\\SOFTWARE\\MERQEL\\Sub-Old": {},
        "HKLM\\SOFTWARE\\MERQEL\\Sub\\Deep": {},
        "HKLM\\SOFTWARE\\Locked": {"open_error": 5},
        "HKCU\\Software\\Only": {"values": {"x": "y"}}
      }
    })");
  }

  long OpenKey(Hive hive, const char* path) {
    key_.reset();
    return sim_->Platform().registry.RegOpenKeyExA(hive, path, key_);
  }

  // Queries a value of HKLM\SOFTWARE\MERQEL into a buffer of `capacity`.
  long Query(const char* name, std::uint32_t capacity) {
    EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\MERQEL"), 0);
    data_.assign(capacity, 0xCC);
    size_ = capacity;
    type_ = 0xFFFF;
    return sim_->Platform().registry.RegQueryValueExA(*key_, name, type_, data_.data(), size_);
  }

  std::unique_ptr<port::RegistryKey> key_;
  std::vector<std::uint8_t> data_;
  std::uint32_t size_ = 0;
  std::uint32_t type_ = 0;
};

TEST_F(SimRegistryTest, KeysOpenIgnoringCaseWithTheirParentsOrFailWithTheirCodes) {
  const std::tuple<Hive, const char*, long> rows[] = {
      {Hive::LocalMachine, "software\\merqel", 0},
      {Hive::LocalMachine, "SOFTWARE", 0},
      // A parent of a listed key exists even when a sibling sorts between them.
      {Hive::LocalMachine, "SOFTWARE\\MERQEL\\Sub", 0},
      {Hive::LocalMachine, "", 0},
      {Hive::LocalMachine, "SOFTWARE\\MERQ", 2},
      {Hive::LocalMachine, "SOFTWARE\\MERQEL\\Sub\\Deep\\Deeper", 2},
      {Hive::LocalMachine, "SOFTWARE\\Locked", 5},
      // Hives are separate trees.
      {Hive::LocalMachine, "Software\\Only", 2},
      {Hive::CurrentUser, "Software\\Only", 0},
  };
  for (const auto& [hive, path, status] : rows) {
    SCOPED_TRACE(path);
    EXPECT_EQ(OpenKey(hive, path), status);
    EXPECT_EQ(key_ != nullptr, status == 0);
  }
}

// Each value read into a buffer of a given capacity: the status, the type
// and size reported, and the bytes delivered (none when the read fails; an
// empty row leaves them unchecked).
TEST_F(SimRegistryTest, ValuesAreDeliveredAsTheAnsiApiDoesWithTheirStatusesAndSizes) {
  using Bytes = std::vector<std::uint8_t>;
  // Name, capacity; status, type, size, bytes.
  const std::tuple<const char*, std::uint32_t, long, std::uint32_t, std::uint32_t, Bytes> rows[] = {
      {"NoSuchValue", 1024, 2, 0xFFFF, 1024, {}},  // the size is left as passed
      // "R-1001" needs 7 bytes with its terminator; nothing is copied.
      {"REGID", 6, 234, port::regtype::kSz, 7, {}},
      {"REGID", 7, 0, port::regtype::kSz, 7, {'R', '-', '1', '0', '0', '1', 0}},
      {"name", 64, 0, port::regtype::kSz, 7, {'c', 'a', 'f', 0xE9, ' ', 0x80, 0}},  // any case
      {"Count", 64, 0, port::regtype::kDword, 4, {0x70, 0x11, 0x01, 0x00}},
      {"AllBits", 64, 0, port::regtype::kDword, 4, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"Path", 64, 0, port::regtype::kExpandSz, 13, {}},
      {"Blob", 64, 0, port::regtype::kBinary, 4, {0x00, 0x01, 0xFE, 0xFF}},
      {"Odd", 64, 0, 8, 2, {1, 2}},
      // A text without terminator fills the buffer exactly.
      {"Bare", 2, 0, port::regtype::kSz, 2, {'A', 'B'}},
      {"Bare", 1, 234, port::regtype::kSz, 2, {}},
      {"", 64, 0, port::regtype::kSz, 14, {}},
  };
  for (const auto& [name, capacity, status, type, size, bytes] : rows) {
    SCOPED_TRACE(std::string(name) + " in " + std::to_string(capacity) + " bytes");
    EXPECT_EQ(Query(name, capacity), status);
    EXPECT_EQ(type_, type);
    EXPECT_EQ(size_, size);
    if (status != 0) {
      EXPECT_EQ(data_[0], 0xCC) << "nothing is copied";
    } else if (!bytes.empty()) {
      EXPECT_EQ(Bytes(data_.data(), data_.data() + size_), bytes);
    }
  }

  std::uint32_t type = 0, size = 0;  // no buffer: the type and size only
  EXPECT_EQ(sim_->Platform().registry.RegQueryValueExA(*key_, "List", type, nullptr, size), 0);
  EXPECT_EQ(type, port::regtype::kMultiSz);
  EXPECT_EQ(size, 6u);
}

TEST(SimRegistryFileTest, MalformedValuesAreReportedWhenTheMachineOpens) {
  const std::array<const char*, 5> broken = {
      R"({"keys": {"HKLM\\A": {"values": {"v": {"type": "REG_TEXT", "data": "x"}}}}})",
      R"({"keys": {"HKLM\\A": {"values": {"v": {"type": "REG_QWORD", "data": 1}}}}})",
      R"({"keys": {"HKLM\\A": {"values": {"v": {"type": "REG_BINARY", "hex": "0"}}}}})",
      R"({"keys": {"HKLM\\A": {"values": {"v": {"type": "REG_DWORD", "data": 4294967296}}}}})",
      R"({"keys": {"NOHIVE\\A": {}}})"};
  for (const char* registry : broken) {
    ScratchFolder scratch;
    scratch.Write("machine.json", "{}");
    scratch.Write("registry.json", registry);
    EXPECT_THROW(sim::SimPlatform(scratch.PathOf(""), ""), sim::MachineError) << registry;
  }
}

}  // namespace
}  // namespace zrt::test
