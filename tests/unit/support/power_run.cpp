#include "support/power_run.h"

#include <sstream>

#include "report/activity_log.h"

namespace zrt::test {

PowerRunTest::PowerRunTest() { WritePower(); }

void PowerRunTest::WritePower(const std::string& extra) {
  sim::Json power = sim::Json::parse(R"({
    "active_scheme": 1,
    "hibernation_allowed": true,
    "standby_allowed": true,
    "capabilities": {"PowerButtonPresent": 1, "SleepButtonPresent": 1, "LidPresent": 1,
                     "ProcessorThrottle": 1, "SystemBatteriesPresent": 1},
    "global_policy": {"LidCloseAc": {"Action": 2, "Flags": 3}, "LidCloseDc": {"Action": 2}},
    "schemes": [
      {"index": 0, "name": "Home/Office Desk"},
      {"index": 1, "name": "Portable/Laptop",
       "policy": {"IdleAc": {"Action": 0, "Flags": 0, "EventCode": 7}, "IdleTimeoutAc": 60,
                  "VideoTimeoutAc": 900, "ThrottlePolicyAc": 3}},
      {"index": 2, "name": "Presentation"},
      {"index": 6, "name": "Night Shift"}
    ]
  })");
  power.update(sim::Json::parse(extra));
  Write("power.json", power.dump(2));
}

run::Run& PowerRunTest::StartRun(bool vista) {
  run_ = std::make_unique<run::Run>(Open(), report::MakeActivityLog);
  run_->context.vistaOrLater = vista;
  run_->context.dataFolder.Assign(
      "C:\\Documents and Settings\\All Users\\Application Data\\Merqel");
  auto& processes = run_->platform.processes;
  run_->context.userToken = processes.OpenProcessToken(processes.OpenProcess(1480).get());
  return *run_;
}

jobdoc::PowerRequest MakeRequest(const RequestFields& fields) {
  jobdoc::PowerRequest request;
  for (const auto& [name, value] : fields)
    request.Fill(*jobdoc::FindElementField(name), value, false);
  return request;
}

std::vector<std::string> PowerRunTest::LinesOf(const std::string& module) const {
  std::vector<std::string> lines;
  for (const auto& r : LogRecords()) {
    if (r.module == module) lines.push_back(r.type + "|" + r.val1 + "|" + r.val2 + "|" + r.val3);
  }
  return lines;
}

sim::Json PowerRunTest::Power() const { return sim::Json::parse(Read("power.json")); }

std::vector<sim::Json> PowerRunTest::Commands() const {
  std::vector<sim::Json> commands;
  std::istringstream in(Read("commands.jsonl"));
  for (std::string line; std::getline(in, line);) commands.push_back(sim::Json::parse(line));
  return commands;
}

}  // namespace zrt::test
