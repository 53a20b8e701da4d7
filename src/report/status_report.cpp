#include "report/status_report.h"

#include <array>

#include "platform/system_facts.h"
#include "platform/text_conversion.h"
#include "report/status_document.h"
#include "report/text_mode.h"

#ifndef ZRT_DEFAULT_STATUS_URL
#define ZRT_DEFAULT_STATUS_URL "https://status.server.invalid"
#endif

namespace zrt::report {
namespace {
constexpr const char* kPostModule = "1.0";
constexpr const char* kPostType = "CreateWebPost";
constexpr std::size_t kIniValueCapacity = 260;
// How many later milliseconds are tried before a fallback file is given up.
constexpr int kMaxFallbackNames = 1000;

std::string NarrowResult(run::Run& run, const port::VariantResult& variant) {
  if (variant.kind != port::VariantResult::Kind::Text) return {};
  std::string text;
  ToNarrow(run.platform.system, variant.text, text);
  return text;
}

enum class FileResult { Created, NameTaken, Failed };

FileResult CreatePostFile(run::Run& run, const std::string& path, const std::string& document) {
  auto file = run.platform.files.CreateFileA(path.c_str(), port::OpenMode::CreateNew);
  if (!file) {
    return run.platform.system.GetLastError() == port::err::kFileExists ? FileResult::NameTaken
                                                                        : FileResult::Failed;
  }
  const std::string bytes = ToTextMode(document);
  if (file->WriteFile(bytes.data(), bytes.size())) return FileResult::Created;
  // A part of a status is no status: the file is closed and removed.
  file.reset();
  run.platform.files.DeleteFileA(path.c_str());
  return FileResult::Failed;
}
}  // namespace

const char* DefaultStatusServerAddress() { return ZRT_DEFAULT_STATUS_URL; }

void ReadStatusUrl(run::Run& run) {
  try {
    const std::string ini = run.context.InstallationPath.str() + "\\Configuration\\zLocator.ini";
    run.context.statusServerAddress.Assign(run.platform.files.GetPrivateProfileStringA(
        "wpdcmscriptjobinstancestatus", "URL", "", kIniValueCapacity, ini.c_str()));
    const auto& address = run.context.statusServerAddress;
    if (address.empty()) {
      run.log.Write("zLocatorINI", "Error", "URL Link not Found", address.view(), "");
    } else {
      run.log.Write("zLocatorINI", "Info", "URL Name is ", address.view(), "");
    }
  } catch (...) {
    // The run goes on without a configured address.
  }
}

bool PostStatus(run::Run& run, const std::string& url, const std::string& document) {
  run.log.Write(kPostModule, kPostType, "Trying To Send The Following status For WebPost", url,
                document);
  port::WebPostResults results;
  std::string errorText;
  if (run.context.hasWebPostData) {
    std::array<port::WideText, 7> texts;
    ToWide(run.platform.system, url, texts[0]);
    ToWide(run.platform.system, document, texts[1]);
    ToWide(run.platform.system, "N", texts[2]);
    if (run.platform.post.WebPostData(texts, results) == port::CallOutcome::Raised) {
      // A post library that raises has not delivered anything: the status
      // must go the failed-post way, never be counted as sent.
      errorText = "Exception raised by WebPostData";
    } else {
      std::string result = NarrowResult(run, results.result);
      if (results.result.kind != port::VariantResult::Kind::Text) result = "0";
      if (results.error.kind == port::VariantResult::Kind::Empty &&
          run.platform.system.lstrcmpiA(result.c_str(), "1") == 0) {
        run.log.Write(kPostModule, kPostType, "Info", "Success Webpost Return Status", result);
        return true;
      }
      errorText = NarrowResult(run, results.error);
    }
  }
  run.log.Write(kPostModule, kPostType, "ERROR Using WebPost Dll Failed", errorText,
                NarrowResult(run, results.further));
  return false;
}

bool WritePostFile(run::Run& run, port::SystemTime time, const std::string& document,
                   std::string& name) {
  const std::string folder = run.context.dataFolder.str() + "\\QTVPostLogs";
  CreateDirectoryPath(run.platform.files, folder);
  std::string path;
  for (int attempt = 0; attempt < kMaxFallbackNames; ++attempt) {
    name = FallbackFileName(run.context.REGID.view(), time);
    path = folder + "\\" + name + ".xml";
    switch (CreatePostFile(run, path, document)) {
      case FileResult::Created:
        run.log.Write("SendWebpost", "INFO", "Created File ", path, "");
        return true;
      case FileResult::NameTaken:
        time = NextMillisecond(time);
        continue;
      case FileResult::Failed:
        break;
    }
    break;
  }
  run.log.Write("SendWebpost", "Error", "Creating File Failed", path, "");
  return false;
}

bool SendStatus(run::Run& run, std::string_view outcome) {
  const port::SystemTime began = run.platform.system.GetLocalTime();
  const run::JobArguments& a = run.args;
  const run::JobContext& c = run.context;
  const std::string document =
      BuildStatusDocument({c.REGID.view(), a.ScriptJobId.view(), a.IsRealTimeS.view(),
                           a.ScriptId.view(), a.JobId.view(), a.InstanceID.view(), outcome,
                           run.buffers.failureMessage.view(), a.ExecutionTime.view()});

  for (const std::string_view base :
       {c.statusServerAddress.view(), std::string_view(DefaultStatusServerAddress())}) {
    const std::string url =
        BuildStatusUrl(base, c.MEMBERID.view(), c.SITEID.view(), c.REGID.view(), c.TYPE.view());
    if (PostStatus(run, url, document)) return true;
    run.log.Write(kPostModule, kPostType, "Info", "Failed To Send the Webpost", url);
  }
  std::string fileName;
  if (WritePostFile(run, began, document, fileName)) return true;
  run.log.Write(kPostModule, kPostType, "Info", "Failed To Send to the QTV Folder", fileName);
  return false;
}

}  // namespace zrt::report
