// Shared set-up for the tests of the simulated machine: a machine folder in
// a scratch directory, filled by the test, and the platform opened on it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/sim/sim_platform.h"
#include "support/scratch_folder.h"

namespace zrt::test {

class SimMachineTest : public ::testing::Test {
 protected:
  SimMachineTest() : root_(scratch_.PathOf("machine")) {
    Write("machine.json", R"({
      "version": {"major": 5, "minor": 1, "build": 2600},
      "windows_folder": "C:\\WINDOWS",
      "drives": {"C": "drive_c"},
      "folders": ["C:\\WINDOWS"],
      "local_time": "2026-12-07 14:05:09.123",
      "program_path": "\"C:\\Program Files\\Merqel\\zReTessalyXP.exe\""
    })");
  }

  // Writes a file of the machine folder, creating its folders.
  void Write(const std::string& relative, std::string_view bytes) {
    const std::filesystem::path file = root_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string Read(const std::string& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  bool HostExists(const std::string& relative) const {
    return std::filesystem::exists(root_ / relative);
  }

  // Opens the platform on the machine as written so far.
  port::Platform& Open(const std::string& jobArgument = "") {
    sim_ = std::make_unique<sim::SimPlatform>(root_, jobArgument);
    return sim_->Platform();
  }

  // Rewrites one file of the machine folder and opens the platform afresh.
  port::Platform& Reopen(const std::string& relative, std::string_view bytes) {
    Write(relative, bytes);
    return Open();
  }

  port::ErrorCode LastError() { return sim_->Platform().system.GetLastError(); }

  // Whether a call failed and left `error` as the last error.
  ::testing::AssertionResult Refused(bool succeeded, port::ErrorCode error) {
    if (succeeded) return ::testing::AssertionFailure() << "the call succeeded";
    if (LastError() != error) {
      return ::testing::AssertionFailure() << "last error " << LastError() << ", not " << error;
    }
    return ::testing::AssertionSuccess();
  }

  ScratchFolder scratch_;
  std::filesystem::path root_;
  std::unique_ptr<sim::SimPlatform> sim_;
};

}  // namespace zrt::test
