// The nine fields of the job argument, in argument order.
#pragma once

#include "platform/fixed_text.h"

namespace zrt::run {

struct JobArguments {
  FixedText<512> OD;
  FixedText<512> ScriptId;
  FixedText<2048> XmlFilePath;
  FixedText<512> JobId;
  FixedText<1024> UserLoggedIn;
  FixedText<512> ExecutionTime;
  FixedText<128> InstanceID;
  FixedText<512> IsRealTimeS;
  FixedText<32> ScriptJobId;
};

}  // namespace zrt::run
