// A simulated laptop ready for the power operations in-process: the default
// schemes with standby and hibernation allowed, every button, the lid,
// processor throttling and batteries, and a run with the logged-on user's
// token.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jobdoc/power_request.h"
#include "platform/sim/sim_json_file.h"
#include "run/run.h"
#include "support/job_machine.h"

namespace zrt::test {

using RequestFields = std::vector<std::pair<const char*, const char*>>;

// A request with these fields set, every other one empty.
jobdoc::PowerRequest MakeRequest(const RequestFields& fields);

class PowerRunTest : public JobMachineTest {
 protected:
  PowerRunTest();

  // The laptop's power.json with the members of `extra` (a JSON object)
  // added or replaced.
  void WritePower(const std::string& extra = "{}");

  // A fresh run on the machine as written so far.
  run::Run& StartRun(bool vista = false);

  // The log lines of `module` as "TYPE|val1|val2|val3".
  std::vector<std::string> LinesOf(const std::string& module) const;
  sim::Json Power() const;
  // The recorded commands (commands.jsonl).
  std::vector<sim::Json> Commands() const;
  std::string Failure() const { return run_->buffers.failureMessage.str(); }

  std::unique_ptr<run::Run> run_;
};

}  // namespace zrt::test
