// The registry reader: hive names, failure texts, and how each value type is
// delivered, bounded by the 1024-byte output.
#include "platform/registry_reader.h"

#include <gtest/gtest.h>

#include "sim_machine_fixture.h"

namespace zrt::test {
namespace {

class RegistryReaderTest : public SimMachineTest {
 protected:
  RegistryReaderTest() {
    Write("registry.json", R"({
      "keys": {
        "HKLM\\SOFTWARE\\MERQEL": {"values": {
          "REGID": "R-1001",
          "Count": 70000,
          "AllBits": {"type": "REG_DWORD", "data": -1},
          "Path": {"type": "REG_EXPAND_SZ", "data": "%SystemRoot%"},
          "Blob": {"type": "REG_BINARY", "hex": "41 42 43"},
          "Full": {"type": "REG_BINARY", "hex": ")" +
                               FullHex() + R"("},
          "Long": ")" + std::string(1029, 'x') +
                               R"(",
          "Exact": {"type": "REG_SZ", "data": ")" +
                               std::string(1024, 'y') + R"(", "terminator": false}
        }},
        "HKLM\\SOFTWARE\\Locked": {"open_error": 5},
        "HKCU\\Software\\Only": {"values": {"x": "from the user hive"}}
      }
    })");
    auto& platform = Open();
    reader_ = std::make_unique<CRegistry>(platform.registry, platform.system);
  }
  static std::string FullHex() {
    std::string hex;
    for (int i = 0; i < 1024; ++i) hex += "5a ";
    return hex;
  }
  bool Read(const char* hive, const char* key, const char* name) {
    value_ = RegistryValue{};
    value_.size = 0xdead;
    return reader_->QueryValue(hive, key, name, value_);
  }

  std::unique_ptr<CRegistry> reader_;
  RegistryValue value_;
};

TEST_F(RegistryReaderTest, HiveNamesIgnoreCaseAndUnknownNamesMeanLocalMachine) {
  EXPECT_TRUE(Read("hkey_local_machine", "SOFTWARE\\MERQEL", "REGID"));
  EXPECT_EQ(value_.Text(), "R-1001");
  EXPECT_TRUE(Read("", "SOFTWARE\\MERQEL", "REGID"));
  EXPECT_TRUE(Read("HKLM-ish", "SOFTWARE\\MERQEL", "REGID"));
  EXPECT_TRUE(Read("HKEY_CURRENT_USER", "Software\\Only", "x"));
  EXPECT_EQ(value_.Text(), "from the user hive");
  EXPECT_FALSE(Read("HKEY_LOCAL_MACHINE", "Software\\Only", "x"));
}

TEST_F(RegistryReaderTest, FailureTextsCarryTheCodeAndTheSystemText) {
  EXPECT_FALSE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\Absent", "REGID"));
  EXPECT_STREQ(reader_->ErrorText(),
               "RegOpenKeyEx [2]::The system cannot find the file specified.\r\n");
  EXPECT_EQ(value_.size, 0xdeadu);  // not set when the key cannot be opened

  EXPECT_FALSE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\Locked", "REGID"));
  EXPECT_STREQ(reader_->ErrorText(), "RegOpenKeyEx [5]::Access is denied.\r\n");

  EXPECT_FALSE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Absent"));
  EXPECT_STREQ(reader_->ErrorText(),
               "RegQueryValueEx [2]::The system cannot find the file specified.\r\n");
  EXPECT_NE(value_.size, 0xdeadu);

  EXPECT_FALSE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Long"));
  EXPECT_STREQ(reader_->ErrorText(), "RegQueryValueEx [234]::More data is available.\r\n");
  EXPECT_EQ(value_.size, 1030u);

  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "REGID"));
  EXPECT_STREQ(reader_->ErrorText(), "");
}

TEST_F(RegistryReaderTest, DwordsAreSignedDecimalText) {
  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Count"));
  EXPECT_EQ(value_.Text(), "70000");
  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "AllBits"));
  EXPECT_EQ(value_.Text(), "-1");
}

TEST_F(RegistryReaderTest, OtherTypesLeaveTheOutputAsItWas) {
  value_ = RegistryValue{};
  value_.data[0] = 'k';
  EXPECT_TRUE(reader_->QueryValue("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Path", value_));
  EXPECT_EQ(value_.Text(), "k");
  EXPECT_EQ(value_.size, 13u);
}

TEST_F(RegistryReaderTest, BinaryValuesNeverReadPastTheDeliveredBytes) {
  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Blob"));
  EXPECT_EQ(value_.size, 3u);
  EXPECT_EQ(value_.Text(), "ABC");
  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Full"));
  EXPECT_EQ(value_.size, 1024u);
  EXPECT_EQ(value_.Text(), std::string(1024, 'Z'));
}

TEST_F(RegistryReaderTest, TextFillingTheWholeBufferIsCutToKeepItsTerminator) {
  EXPECT_TRUE(Read("HKEY_LOCAL_MACHINE", "SOFTWARE\\MERQEL", "Exact"));
  EXPECT_EQ(value_.size, 1024u);
  EXPECT_EQ(value_.Text(), std::string(1023, 'y'));
}

}  // namespace
}  // namespace zrt::test
