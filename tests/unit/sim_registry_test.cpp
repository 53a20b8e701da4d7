// The simulated registry: key lookup, refusals, and the statuses and sizes
// of RegQueryValueExA.
#include <array>
#include <string>
#include <vector>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

using port::Hive;

class SimRegistryTest : public SimMachineTest {
 protected:
  SimRegistryTest() {
    Write("registry.json", R"({
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
    Open();
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

  std::vector<std::uint8_t> Bytes() const {
    return std::vector<std::uint8_t>(data_.begin(), data_.begin() + size_);
  }

  std::unique_ptr<port::RegistryKey> key_;
  std::vector<std::uint8_t> data_;
  std::uint32_t size_ = 0;
  std::uint32_t type_ = 0;
};

TEST_F(SimRegistryTest, OpensListedKeysAndTheirParentsIgnoringCase) {
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "software\\merqel"), 0);
  EXPECT_NE(key_, nullptr);
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE"), 0);
  // A parent of a listed key exists even when a sibling sorts between them.
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\MERQEL\\Sub"), 0);
  EXPECT_EQ(OpenKey(Hive::LocalMachine, ""), 0);
}

TEST_F(SimRegistryTest, MissingKeysAndRefusedKeysFailWithTheirCodes) {
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\MERQ"), 2);
  EXPECT_EQ(key_, nullptr);
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\MERQEL\\Sub\\Deep\\Deeper"), 2);
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\Locked"), 5);
  EXPECT_EQ(key_, nullptr);
  // Hives are separate trees.
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "Software\\Only"), 2);
  EXPECT_EQ(OpenKey(Hive::CurrentUser, "Software\\Only"), 0);
}

TEST_F(SimRegistryTest, MissingValueFailsWithSizeLeftAsPassed) {
  EXPECT_EQ(Query("NoSuchValue", 1024), 2);
  EXPECT_EQ(size_, 1024u);
  EXPECT_EQ(type_, 0xFFFFu);
}

TEST_F(SimRegistryTest, ValueLargerThanBufferGivesMoreDataAndItsSize) {
  EXPECT_EQ(Query("REGID", 6), 234);  // "R-1001" needs 7 bytes with its terminator
  EXPECT_EQ(size_, 7u);
  EXPECT_EQ(data_[0], 0xCC) << "nothing is copied";

  EXPECT_EQ(Query("REGID", 7), 0);
  EXPECT_EQ(type_, port::regtype::kSz);
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{'R', '-', '1', '0', '0', '1', 0}));
}

TEST_F(SimRegistryTest, NullDataAsksForTypeAndSize) {
  EXPECT_EQ(OpenKey(Hive::LocalMachine, "SOFTWARE\\MERQEL"), 0);
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(sim_->Platform().registry.RegQueryValueExA(*key_, "List", type, nullptr, size), 0);
  EXPECT_EQ(type, port::regtype::kMultiSz);
  EXPECT_EQ(size, 6u);
}

TEST_F(SimRegistryTest, ValuesAreEncodedAsTheAnsiApiDeliversThem) {
  ASSERT_EQ(Query("name", 64), 0) << "value names ignore case";
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{'c', 'a', 'f', 0xE9, ' ', 0x80, 0}));

  ASSERT_EQ(Query("Count", 64), 0);
  EXPECT_EQ(type_, port::regtype::kDword);
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{0x70, 0x11, 0x01, 0x00}));

  ASSERT_EQ(Query("AllBits", 64), 0);
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

  ASSERT_EQ(Query("Path", 64), 0);
  EXPECT_EQ(type_, port::regtype::kExpandSz);
  EXPECT_EQ(size_, 13u);

  ASSERT_EQ(Query("Blob", 64), 0);
  EXPECT_EQ(type_, port::regtype::kBinary);
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{0x00, 0x01, 0xFE, 0xFF}));

  ASSERT_EQ(Query("Odd", 64), 0);
  EXPECT_EQ(type_, 8u);
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{1, 2}));

  ASSERT_EQ(Query("Bare", 2), 0) << "a text without terminator fills the buffer exactly";
  EXPECT_EQ(Bytes(), (std::vector<std::uint8_t>{'A', 'B'}));
  EXPECT_EQ(Query("Bare", 1), 234);
  EXPECT_EQ(size_, 2u);

  ASSERT_EQ(Query("", 64), 0);
  EXPECT_EQ(size_, 14u);
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
