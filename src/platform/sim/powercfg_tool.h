// The power configuration tool of a Windows XP machine (Powercfg.exe): what
// each of its command lines does to the machine's power state, and the exit
// code it ends with. Standard C++ only, without the simulated machine's
// classes, so that the simulated machine and the Windows test double of the
// tool share this very file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zrt::powercfg {

// Processor throttle policies as the scheme policy stores them
// (ThrottlePolicyAc and ThrottlePolicyDc).
constexpr int kThrottleNone = 0;
constexpr int kThrottleConstant = 1;
constexpr int kThrottleDegrade = 2;
constexpr int kThrottleAdaptive = 3;

struct Scheme {
  std::uint32_t index = 0;
  std::string name;  // in the machine's ANSI code page
  int throttleAc = kThrottleNone;
  int throttleDc = kThrottleNone;
};

// One battery alarm (low or critical), as "-BATTERYALARM" sets it.
struct BatteryAlarm {
  bool activate = false;
  int level = 0;  // percent, 0 to 100
  bool text = false;
  bool sound = false;
  std::string action = "none";  // none, standby, hibernate or shutdown
  bool forceAction = false;
  bool program = false;
};

// The global power flags, by their option names.
constexpr std::array<const char*, 5> kGlobalFlags = {"BATTERYICON", "MULTIBATTERY",
                                                     "RESUMEPASSWORD", "WAKEONRING", "VIDEODIM"};

// Everything the tool reads or changes.
struct State {
  bool hibernation = false;  // the hibernation file is on
  std::uint32_t activeScheme = 0;
  std::vector<Scheme> schemes;
  BatteryAlarm low;
  BatteryAlarm critical;
  std::array<bool, kGlobalFlags.size()> globalFlags = {};  // in the order of kGlobalFlags
};

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// Whether two scheme names are the same, as the platform compares them
// (ignoring case).
using SameName = std::function<bool(const std::string&, const std::string&)>;

// Runs the tool with its arguments (the program name left out), as the
// platform's command-line rules split them. Options start with "-" or "/"
// and, like their values, ignore case. The state changes only when the
// result is kExitSuccess; an unknown option, a missing, extra or
// out-of-range value and an unknown scheme give kExitFailure.
int Run(const std::vector<std::string>& arguments, State& state, const SameName& sameName);

}  // namespace zrt::powercfg
