// The capture read on the simulated machine: a bundled machine captured gives
// back what its folder describes, a capture captured again is the same
// capture, and an anonymised one keeps no identifying value, not even from
// somebody who tries a large list of guesses without the fleet's key.
#include "capture/capture.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "capture/unpack.h"
#include "platform/sim/sim_platform.h"
#include "support/scratch_folder.h"

namespace zrt::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const fs::path kMachines = fs::path(__FILE__).parent_path() / "../../examples/machines";
constexpr const char* kFleetKey = "the fleet's secret key, made once";

capture::Sha256Digest Sha256(std::string_view message) {
  capture::Sha256Digest digest{};
  ::SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data());
  return digest;
}

capture::Anonymiser WithKey(const std::string& key) { return capture::Anonymiser(Sha256, key); }

std::string Hex(const capture::Sha256Digest& digest, std::size_t digits) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < digits / 2; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

Json ReadJson(const fs::path& file) {
  std::ifstream in(file);
  return in ? Json::parse(in) : Json::object();
}

bool IsZero(const Json& value) {
  if (value.is_object()) {
    for (const auto& [name, member] : value.items()) {
      if (!IsZero(member)) return false;
    }
    return true;
  }
  return value.is_null() || value == 0 || value == false;
}

// Every member `given` holds is in `captured` with the same value (true is
// 1); members the capture adds are zero.
void ExpectCovers(const Json& given, const Json& captured, const std::string& where) {
  if (given.is_object() && captured.is_object()) {
    for (const auto& [name, value] : given.items()) {
      ExpectCovers(value, captured.contains(name) ? captured[name] : Json(), where + "." + name);
    }
    for (const auto& [name, value] : captured.items()) {
      if (!given.contains(name)) {
        EXPECT_TRUE(IsZero(value)) << where << "." << name;
      }
    }
  } else if (given.is_array() && captured.is_array() && given.size() == captured.size()) {
    for (std::size_t i = 0; i < given.size(); ++i) {
      ExpectCovers(given[i], captured[i], where + "[" + std::to_string(i) + "]");
    }
  } else if (given.is_boolean() && captured.is_number()) {
    EXPECT_EQ(given.get<bool>() ? 1 : 0, captured) << where;
  } else {
    EXPECT_EQ(given, captured) << where;
  }
}

class CaptureTest : public ::testing::Test {
 protected:
  // Captures a copy of the machine folder `source`.
  capture::Capture CaptureOf(const fs::path& source, capture::Options options = {}) {
    const fs::path copy = scratch_.PathOf("machine-" + std::to_string(++copies_));
    fs::copy(source, copy, fs::copy_options::recursive);
    sim::SimPlatform platform(copy, "");
    return capture::CaptureMachine(platform.Platform(), options);
  }

  // xp-laptop installed in its user's profile, captured with the fleet's
  // key by a program on the computer WS-0142.
  capture::Capture AnonymisedLaptop(bool names) {
    const fs::path machine = scratch_.PathOf("in-profile-" + std::to_string(++copies_));
    fs::copy(kMachines / "xp-laptop", machine, fs::copy_options::recursive);
    const fs::path profile = machine / "drive_c/Documents and Settings/jsmith";
    fs::create_directories(profile);
    fs::rename(machine / "drive_c/Program Files/Merqel", profile / "Merqel");
    Json registry = ReadJson(machine / "registry.json");
    registry["keys"]["HKEY_LOCAL_MACHINE\\SOFTWARE\\MERQEL"]["values"]["InstallationPath"] =
        "C:\\Documents and Settings\\jsmith\\Merqel";
    std::ofstream(machine / "registry.json") << registry.dump();
    capture::Options options;
    options.anonymiser = WithKey(kFleetKey);
    options.anonymiseNames = names;
    options.computerName = "WS-0142";
    return CaptureOf(machine, options);
  }

  fs::path WriteOut(const capture::Capture& capture) {
    const fs::path folder = scratch_.PathOf("capture-" + std::to_string(++copies_));
    for (const capture::File& file : capture.files) {
      fs::create_directories((folder / file.path).parent_path());
      std::ofstream(folder / file.path, std::ios::binary) << file.bytes;
    }
    return folder;
  }

  ScratchFolder scratch_;
  int copies_ = 0;
};

struct Example {
  const char* name;
  const char* user;
  bool complete;
};

TEST_F(CaptureTest, BundledMachinesComeBackAsTheyAreDescribed) {
  for (const Example example :
       {Example{"xp-laptop", "jsmith", true}, Example{"xp-x64-desktop", "akumar", true},
        Example{"win7", "lchen", false}}) {
    SCOPED_TRACE(example.name);
    const fs::path source = kMachines / example.name;
    const capture::Capture capture = CaptureOf(source);
    EXPECT_EQ(capture.problems.empty(), example.complete);
    const fs::path folder = WriteOut(capture);

    Json power = ReadJson(source / "power.json");
    power.erase("powercfg");
    power.erase("description");
    // A machine that refuses the active scheme keeps it from the capture too.
    if (power.contains("failures") && power["failures"].contains("GetActivePwrScheme")) {
      power.erase("active_scheme");
    }
    ExpectCovers(power, ReadJson(folder / "power.json"), "power");
    EXPECT_EQ(ReadJson(source / "registry.json"), ReadJson(folder / "registry.json"));

    const Json given = ReadJson(source / "machine.json");
    const Json machine = ReadJson(folder / "machine.json");
    for (const char* member : {"version", "windows_folder", "common_app_data", "program_path"}) {
      EXPECT_EQ(given[member], machine[member]) << member;
    }
    EXPECT_EQ(machine["capture"]["complete"], example.complete);
    bool shellSeen = false;
    const Json processes = ReadJson(folder / "processes.json");
    for (const Json& process : processes["processes"]) {
      if (process["name"] == "explorer.exe" && !shellSeen) {
        shellSeen = true;
        EXPECT_EQ(process["user"], example.user);
      }
    }
    EXPECT_TRUE(shellSeen);

    // The capture is a machine the capture reads back unchanged.
    const capture::Capture again = CaptureOf(folder);
    ASSERT_EQ(again.files.size(), capture.files.size());
    for (std::size_t i = 0; i < capture.files.size(); ++i) {
      EXPECT_EQ(again.files[i].path, capture.files[i].path);
      EXPECT_EQ(again.files[i].bytes, capture.files[i].bytes) << capture.files[i].path;
    }
  }
}

// RFC 4231's test cases 1 to 4, 6 and 7 (6 and 7 with a key longer than a
// block, which HMAC hashes first).
TEST(HmacSha256Test, GivesTheStandardsTestVectors) {
  struct Vector {
    std::string key;
    std::string data;
    const char* mac;
  };
  const std::string longKey(131, '\xaa');
  for (const Vector& v : {
           Vector{std::string(20, '\x0b'), "Hi There",
                  "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
           Vector{"Jefe", "what do ya want for nothing?",
                  "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
           Vector{std::string(20, '\xaa'), std::string(50, '\xdd'),
                  "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
           Vector{std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"
                              "\x11\x12\x13\x14\x15\x16\x17\x18\x19",
                              25),
                  std::string(50, '\xcd'),
                  "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
           Vector{longKey, "Test Using Larger Than Block-Size Key - Hash Key First",
                  "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
           Vector{longKey,
                  "This is a test using a larger than block-size key and a larger than "
                  "block-size data. The key needs to be hashed before being used by the HMAC "
                  "algorithm.",
                  "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
       }) {
    EXPECT_EQ(Hex(capture::HmacSha256(Sha256, v.key, v.data), 64), v.mac) << v.data;
  }
}

TEST_F(CaptureTest, AnonymisedCaptureKeepsNoIdentifyingValue) {
  const capture::Anonymiser fleet = WithKey(kFleetKey);
  for (const bool names : {false, true}) {
    SCOPED_TRACE(names ? "names replaced" : "names kept");
    const capture::Capture capture = AnonymisedLaptop(names);
    const std::string all = capture::BundleText(capture);
    for (const char* value : {"RG-20451", "M-1187", "S-0042", "\"WKS\"", "jsmith", "JSMITH",
                              "WS-0142", "status.merqel.example"}) {
      EXPECT_EQ(all.find(value), std::string::npos) << value;
    }
    // The same value gives the same placeholder on every machine of the
    // fleet, and the user's folder the user's own placeholder.
    const std::string user = fleet.Placeholder("user", "jsmith");
    EXPECT_EQ(user, fleet.Placeholder("user", "JSmith"));
    EXPECT_NE(user, fleet.Placeholder("user", "akumar"));
    EXPECT_NE(user, WithKey("another fleet's secret key, too").Placeholder("user", "jsmith"));
    const fs::path folder = WriteOut(capture);
    const Json values = ReadJson(
        folder / "registry.json")["keys"]["HKEY_LOCAL_MACHINE\\SOFTWARE\\MERQEL"]["values"];
    EXPECT_EQ(values["REGID"], fleet.Placeholder("REGID", "RG-20451"));
    EXPECT_EQ(values["TYPE"], fleet.Placeholder("TYPE", "WKS"));
    EXPECT_LE(values["TYPE"].get<std::string>().size(), 19u) << "TYPE's width";
    EXPECT_EQ(values["InstallationPath"], "C:\\Documents and Settings\\" + user + "\\Merqel");
    // The capture is still a machine the program runs on: the status
    // address and the post library are where the path says.
    const fs::path installed = folder / "drive_c/Documents and Settings" / user / "Merqel";
    EXPECT_TRUE(fs::exists(installed / "zCourier.dll"));
    std::ifstream ini(installed / "Configuration/zLocator.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(
        text.find("URL=https://" + fleet.Placeholder("status", "https://status.merqel.example")),
        std::string::npos);
    // Scheme names only on request: a job that names schemes then names
    // their placeholders.
    EXPECT_EQ(all.find("Night Shift") != std::string::npos, !names);
    EXPECT_EQ(all.find(fleet.Placeholder("scheme", "Night Shift")) != std::string::npos, names);
  }
}

// Somebody without the key tries ~150,000 guesses of every identifying value
// against the placeholders: the unkeyed hash the placeholders once were, a
// plain SHA-256, HMAC under an empty key and under another fleet's key all
// recover nothing. The same guesses under the fleet's key recover every value,
// so the list does hold them.
TEST_F(CaptureTest, GuessesWithoutTheKeyRecoverNothing) {
  const std::string all = capture::BundleText(AnonymisedLaptop(false));
  std::set<std::string> tokens;  // the hex digits after every dash
  for (std::size_t at = all.find('-'); at != std::string::npos; at = all.find('-', at + 1)) {
    std::size_t end = at + 1;
    while (end < all.size() && std::isxdigit(static_cast<unsigned char>(all[end]))) ++end;
    if (end - at - 1 >= 8) {
      tokens.insert(all.substr(at + 1, 8));
      tokens.insert(all.substr(at + 1, end - at - 1));
    }
  }

  std::vector<std::pair<std::string, std::string>> guesses;  // kind, value
  char text[32];
  const auto numbered = [&](const char* kind, const char* format, int count) {
    for (int i = 0; i < count; ++i) {
      std::snprintf(text, sizeof text, format, i);
      guesses.emplace_back(kind, text);
    }
  };
  numbered("REGID", "RG-%05d", 110000);
  numbered("MEMBERID", "M-%04d", 10000);
  numbered("SITEID", "S-%04d", 10000);
  numbered("pc", "WS-%04d", 10000);
  numbered("pc", "PC-%04d", 10000);
  for (const char* type : {"WKS", "SRV", "LAP", "DSK", "KIOSK"}) guesses.emplace_back("TYPE", type);
  for (const char* surname : {"smith", "kumar", "chen", "jones", "brown", "garcia", "miller",
                              "davis", "wilson", "taylor", "moore", "martin", "lee", "clark"}) {
    for (char initial = 'a'; initial <= 'z'; ++initial) {
      guesses.emplace_back("user", initial + std::string(surname));
      for (const char* host : {"status", "post", "www"}) {
        for (const char* company : {"merqel", "example", "acme", "contoso"}) {
          guesses.emplace_back("status", std::string("https://") + host + "." + company + "." +
                                             std::string(1, initial) + surname + ".example");
        }
      }
    }
  }
  guesses.emplace_back("status", "https://status.merqel.example");
  ASSERT_GT(guesses.size(), 150000u);

  const auto fnv = [](const std::string& value) {
    std::uint32_t hash = 2166136261u;
    for (const char c : value) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(hash));
    return std::string(digits);
  };
  const capture::Anonymiser fleet = WithKey(kFleetKey);
  const capture::Anonymiser emptyKey = WithKey("");
  const capture::Anonymiser otherFleet = WithKey("another fleet's secret key, too");
  const auto digits = [](const std::string& placeholder) {
    return placeholder.substr(placeholder.rfind('-') + 1);
  };
  std::set<std::string> recovered;
  std::set<std::string> recoveredWithKey;
  for (const auto& [kind, value] : guesses) {
    for (const std::string& guess :
         {fnv(value), Hex(Sha256(kind + ":" + value), 12), Hex(Sha256(value), 12),
          digits(emptyKey.Placeholder(kind, value)), digits(otherFleet.Placeholder(kind, value))}) {
      if (tokens.count(guess) != 0) recovered.insert(kind + " " + value);
    }
    if (tokens.count(digits(fleet.Placeholder(kind, value))) != 0) {
      recoveredWithKey.insert(kind + " " + value);
    }
  }
  EXPECT_TRUE(recovered.empty()) << recovered.size() << " recovered, such as "
                                 << (recovered.empty() ? "" : *recovered.begin());
  EXPECT_EQ(
      recoveredWithKey,
      (std::set<std::string>{"REGID RG-20451", "MEMBERID M-1187", "SITEID S-0042", "TYPE WKS",
                             "user jsmith", "pc WS-0142", "status https://status.merqel.example"}));
}

TEST_F(CaptureTest, BundleUnpacksIntoTheSameFiles) {
  capture::Capture capture = CaptureOf(kMachines / "xp-laptop");
  capture.files.push_back({"drive_c/bytes.bin", std::string("\0\xff\xe9 ok\r\n", 7)});
  capture.problems.push_back("EnumPwrSchemes: error 2");
  const std::string bundle = capture::BundleText(capture);
  EXPECT_TRUE(capture::IsBundle(bundle));
  const fs::path folder = scratch_.PathOf("unpacked");
  EXPECT_EQ(capture::UnpackBundle(bundle, folder), capture.problems);
  for (const capture::File& file : capture.files) {
    std::ifstream in(folder / file.path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), file.bytes) << file.path;
  }
}

TEST_F(CaptureTest, WhatIsNoBundleIsRefused) {
  const std::string machine = R"("machine.json": {"text": "{}"})";
  for (const std::string& text :
       {std::string("{\"format\": \"zrt-capture\", \"version\": 2, \"files\": {" + machine + "}}"),
        std::string("{\"format\": \"other\", \"version\": 1, \"files\": {" + machine + "}}"),
        std::string("{\"format\": \"zrt-capture\", \"version\": 1, \"files\": {}}"),
        std::string("{\"format\": \"zrt-capture\", \"version\": 1, \"files\": {" + machine +
                    R"(, "../escape.txt": {"text": "x"}}})"),
        std::string("{\"format\": \"zrt-capture\", \"version\": 1, \"files\": {" + machine +
                    R"(, "odd.bin": {"hex": "abc"}}})"),
        std::string("not json")}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(capture::UnpackBundle(text, scratch_.PathOf("refused")), capture::BundleError);
    EXPECT_FALSE(fs::exists(scratch_.PathOf("escape.txt")));
  }
}

}  // namespace
}  // namespace zrt::test
