// The script header of a job document: what the run reads from the first
// script instance before its steps, and the function name it must carry.
#pragma once

#include <string_view>

#include "jobdoc/job_document.h"
#include "platform/port/system.h"

namespace zrt::app {

struct ScriptHeader {
  jobdoc::DocText scriptId, scriptVer, category, funcName, logOn;
};

// Reads the header as the run does: the script instance's child elements
// first, then its attributes, which replace them where present (the two
// reads share their buffers). The reads' results are not examined.
void ReadScriptHeader(jobdoc::JobDocument& document, ScriptHeader& header);

// The function name every job must carry, compared as the platform compares
// (lstrcmpiA, ignoring case).
inline constexpr const char* kFunctionName = "Power Management";
bool IsPowerManagement(port::System& system, const ScriptHeader& header);

}  // namespace zrt::app
