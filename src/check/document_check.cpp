#include "check/document_check.h"

#include <cstdint>

#include "app/script_header.h"
#include "check/step_check.h"
#include "jobdoc/job_document.h"
#include "platform/code_page_text.h"
#include "platform/system_facts.h"

namespace zrt::check {
namespace {

constexpr const char* kEndsBeforeSteps = ": the job ends before its first step";

void Add(Report& report, Severity severity, const char* subject, std::string text) {
  report.findings.push_back({severity, subject, std::move(text)});
}

bool Load(port::Platform& platform, jobdoc::JobDocument& document, const std::string& path,
          Report& report) {
  jobdoc::DocText error, root;
  if (!document.CreateParser(error)) {
    Add(report, Severity::Error, "document", error.str());
    return false;
  }
  if (!FileExists(platform.files, path)) {
    Add(report, Severity::Error, "document", "not found");
    return false;
  }
  if (!document.Load(path, root, error)) {
    std::uint64_t size = 0;
    const bool tooLarge = platform.files.GetFileSize(path.c_str(), size) &&
                          size > jobdoc::JobDocument::kMaxDocumentSize;
    Add(report, Severity::Error, "document",
        error.str() + (tooLarge ? ": larger than 4 MiB"
                                : ": missing, not well-formed XML, carrying a DTD, or with "
                                  "elements nested deeper than 256 levels"));
    return false;
  }
  report.root = root.str();
  return true;
}

void CheckHeader(port::System& system, jobdoc::JobDocument& document, Report& report) {
  app::ScriptHeader header;
  app::ReadScriptHeader(document, header);
  report.scriptId = header.scriptId.str();
  if (app::IsPowerManagement(system, header)) {
    Add(report, Severity::Info, "function name", "'" + header.funcName.str() + "'");
  } else {
    Add(report, Severity::Error, "function name",
        (header.funcName.empty()
             ? std::string("not given")
             : "'" + header.funcName.str() + "' is not '" + app::kFunctionName + "'") +
            kEndsBeforeSteps);
  }
  if (header.scriptId.empty() || header.scriptId.WasCut()) {
    Add(report, Severity::Error, "script id",
        std::string(header.scriptId.empty() ? "not given" : LongerThanBytes(511)) +
            ": it matches no job's ScriptId" + kEndsBeforeSteps);
  } else {
    Add(report, Severity::Info, "script id",
        "'" + header.scriptId.str() + "': the job's ScriptId must be the same");
  }
}

// The steps the reader visits; a step it cannot read, or steps beyond the
// bound the script instance sets, fail the job as they fail the run.
void CheckSteps(port::System& system, jobdoc::JobDocument& document, Report& report) {
  jobdoc::PowerRequest request;
  jobdoc::DocText error;
  std::vector<jobdoc::StepElement> elements;
  while (document.ReadNextStep(request, error, &elements)) {
    report.steps.push_back(
        CheckStep(system, static_cast<int>(report.steps.size()) + 1, request, elements));
  }
  const std::int32_t read = document.StepsRead();
  const std::int32_t count = document.StepCount();
  if (count == 0) {
    Add(report, Severity::Warning, "steps", "no step elements: the job changes nothing");
  } else if (read >= count) {
    Add(report, Severity::Info, "steps", std::to_string(count) + " read");
  } else if (document.StepBoundReached()) {
    Add(report, Severity::Error, "steps",
        "the script instance has " + std::to_string(document.StepBound()) +
            (document.StepBound() == 1 ? " child node" : " child nodes") + ", so only " +
            std::to_string(read) + " of the " + std::to_string(count) +
            " steps are read: the job fails after them (put every step inside the script "
            "instance)");
  } else {
    Add(report, Severity::Error, "steps",
        "step " + std::to_string(read + 1) + " of " + std::to_string(count) + " cannot be read (" +
            (error.empty() ? "a step needs an attribute" : error.str()) + "): the job fails there");
  }
}

}  // namespace

Report CheckDocument(port::Platform& platform, const std::string& path, const std::string& shown) {
  Report report;
  report.document = shown;
  jobdoc::JobDocument document(platform);
  if (!Load(platform, document, path, report)) return report;
  report.readable = true;
  CheckHeader(platform.system, document, report);
  CheckSteps(platform.system, document, report);
  return report;
}

}  // namespace zrt::check
