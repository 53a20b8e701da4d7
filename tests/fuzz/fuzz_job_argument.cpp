// Fuzzes the job-argument parser with any command line: it accepts exactly
// the lines of nine fields, stores each field whole or marks it as cut to
// its width, and leaves the arguments empty when it refuses a line.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "app/parse_input.h"
#include "fuzz_support.h"
#include "platform/sim/sim_platform.h"
#include "support/recording_system.h"

namespace {

zrt::port::Platform& FuzzPlatform() {
  static zrt::sim::SimPlatform* const sim = [] {
    const auto dir = zrt::fuzz::ScratchFolder() / "machine";
    std::filesystem::create_directories(dir / "drive_c");
    std::ofstream(dir / "machine.json") << R"({"drives": {"C": "drive_c"}})";
    return new zrt::sim::SimPlatform(dir, "");
  }();
  static zrt::test::RecordingSystem system;  // debugger output kept in memory
  static zrt::port::Platform platform{sim->Platform().registry,
                                      sim->Platform().files,
                                      sim->Platform().processes,
                                      sim->Platform().power,
                                      sim->Platform().xml,
                                      sim->Platform().post,
                                      system};
  system.debugOutput.clear();
  return platform;
}

template <std::size_t N>
bool StoredWhole(const zrt::FixedText<N>& stored, std::string_view field) {
  return stored.WasCut() ? field.size() > N - 1 && field.substr(0, N - 1) == stored.view()
                         : stored.view() == field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The platform hands the command line over as a zero-terminated text.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
  zrt::run::Run run(FuzzPlatform(), zrt::fuzz::MakeDiscardLog);
  const bool ok = zrt::app::ParseInput(run, text);
  const auto fields = zrt::app::SplitJobArgument(text);
  // A text longer than the limit is refused whole, however many fields it has.
  if (ok != (text.size() <= zrt::app::kMaxCommandLine && fields.size() == 9)) std::abort();
  const zrt::run::JobArguments& a = run.args;
  if (!ok) {
    if (!a.OD.empty() || !a.ScriptJobId.empty()) std::abort();
    return 0;
  }
  if (!StoredWhole(a.OD, fields[0]) || !StoredWhole(a.ScriptId, fields[1]) ||
      !StoredWhole(a.XmlFilePath, fields[2]) || !StoredWhole(a.JobId, fields[3]) ||
      !StoredWhole(a.UserLoggedIn, fields[4]) || !StoredWhole(a.ExecutionTime, fields[5]) ||
      !StoredWhole(a.InstanceID, fields[6]) || !StoredWhole(a.IsRealTimeS, fields[7]) ||
      !StoredWhole(a.ScriptJobId, fields[8])) {
    std::abort();
  }
  return 0;
}
