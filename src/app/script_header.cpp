#include "app/script_header.h"

namespace zrt::app {

void ReadScriptHeader(jobdoc::JobDocument& document, ScriptHeader& h) {
  jobdoc::DocText instanceId, templateId, error;
  document.InitScriptInstance(instanceId, h.scriptId, templateId, h.category, h.funcName, h.logOn);
  document.ReadScriptInstance(h.scriptId, h.scriptVer, h.category, h.funcName, h.logOn, error);
}

bool IsPowerManagement(port::System& system, const ScriptHeader& header) {
  return system.lstrcmpiA(header.funcName.c_str(), kFunctionName) == 0;
}

}  // namespace zrt::app
