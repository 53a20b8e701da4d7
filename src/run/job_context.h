// What the run sequence learns about the machine and the job before the
// steps run; read by the log, the power operations and the status report.
#pragma once

#include <memory>

#include "platform/fixed_text.h"
#include "platform/port/processes.h"

namespace zrt::run {

struct JobContext {
  FixedText<32> REGID;
  FixedText<1024> InstallationPath;
  FixedText<1024> dataFolder;
  FixedText<32> MEMBERID;
  FixedText<20> TYPE;
  FixedText<32> SITEID;
  bool is64BitMachine = false;
  bool vistaOrLater = false;
  bool hasWebPostData = false;  // the post library's entry point was found
  FixedText<260> statusServerAddress;
  std::unique_ptr<port::KernelHandle> userToken;
};

// Texts shared by the power operations and the status report.
struct SharedBuffers {
  FixedText<1024> failureMessage;
  FixedText<256> errorNumberText;
  FixedText<1024> errorText;
  FixedText<1024> commandBuffer;
};

}  // namespace zrt::run
