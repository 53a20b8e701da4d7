// The capture read on the simulated machine: a bundled machine captured gives
// back what its folder describes, a capture captured again is the same
// capture, and an anonymised one keeps no identifying value.
#include "capture/capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "capture/unpack.h"
#include "platform/sim/sim_platform.h"
#include "support/scratch_folder.h"

namespace zrt::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const fs::path kMachines = fs::path(__FILE__).parent_path() / "../../examples/machines";

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
  capture::Capture CaptureOf(const fs::path& source, bool anonymise = false) {
    const fs::path copy = scratch_.PathOf("machine-" + std::to_string(++copies_));
    fs::copy(source, copy, fs::copy_options::recursive);
    sim::SimPlatform platform(copy, "");
    capture::Options options;
    options.anonymise = anonymise;
    return capture::CaptureMachine(platform.Platform(), options);
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

TEST_F(CaptureTest, AnonymisedCaptureKeepsNoIdentifyingValue) {
  const capture::Capture capture = CaptureOf(kMachines / "xp-laptop", true);
  std::string all = capture::BundleText(capture);
  for (const char* value : {"RG-20451", "M-1187", "S-0042", "jsmith", "status.merqel.example"}) {
    EXPECT_EQ(all.find(value), std::string::npos) << value;
  }
  // The same value gives the same placeholder, so captures can be compared.
  EXPECT_NE(all.find(capture::Placeholder("REGID", "RG-20451")), std::string::npos);
  EXPECT_EQ(capture::Placeholder("user", "jsmith"), capture::Placeholder("user", "jsmith"));
  EXPECT_NE(capture::Placeholder("user", "jsmith"), capture::Placeholder("user", "akumar"));
  // What runs a job is still there.
  EXPECT_NE(all.find("Night Shift"), std::string::npos);
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
