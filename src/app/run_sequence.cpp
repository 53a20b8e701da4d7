#include "app/run_sequence.h"

#include <optional>
#include <string>

#include "app/parse_input.h"
#include "app/script_header.h"
#include "app/step_dispatch.h"
#include "jobdoc/job_document.h"
#include "platform/code_page_text.h"
#include "platform/registry_reader.h"
#include "platform/system_facts.h"
#include "platform/user_context.h"
#include "report/activity_log.h"
#include "report/status_report.h"
#include "run/run.h"

namespace zrt::app {
namespace {
constexpr const char* kModule = "WinMain";
constexpr std::size_t kMaxLibraryPath = 259;
constexpr std::uint32_t kPause = 1000;

using Text512 = FixedText<512>;

class RunSequence {
 public:
  RunSequence(run::Run& run, const char* commandLineTail)
      : run_(run),
        tail_(commandLineTail ? commandLineTail : ""),
        registry_(run.platform.registry, run.platform.system) {}

  void Execute() {
    if (!Start()) return;
    if (!ParseArguments()) return End("ParseInput");
    if (PrepareDocument()) {
      LoadPostLibrary();
      run_.context.vistaOrLater = IsVistaOrLater(run_.platform.system);
      request_.Clear();
      if (TakeUserContext() && CheckIdentity() && !RunSteps()) {
        // A failed step was reported; this path keeps the user's identity.
        End("");
        document_.reset();
        return;
      }
    }
    document_.reset();
    End("");
  }

 private:
  void Log(std::string_view type, std::string_view val1, std::string_view val2,
           std::string_view val3) {
    run_.log.Write(kModule, type, val1, val2, val3);
  }
  void End(std::string_view reason) { Log("Info", "Application", "End", reason); }

  template <std::size_t N>
  bool ReadProductValue(const char* name, FixedText<N>& field) {
    RegistryValue value;
    if (!registry_.QueryValue("HKEY_LOCAL_MACHINE", productKey_, name, value)) {
      Log("ERROR", name, "Not Found", registry_.ErrorText());
      return false;
    }
    field.Assign(value.Text(), LeadBytesOf(run_.platform.system));
    return true;
  }

  // Bitness, the product key values, the data folder, the first log lines
  // and the status server address.
  bool Start() {
    run::JobContext& c = run_.context;
    c.REGID.Clear();
    c.InstallationPath.Clear();
    c.dataFolder.Clear();
    run_.lookup.highestIndex = 0;

    c.is64BitMachine = IsSixtyFourBitMachine(run_.platform.files);
    productKey_ = c.is64BitMachine ? "SOFTWARE\\Wow6432Node\\MERQEL" : "SOFTWARE\\MERQEL";
    if (!ReadProductValue("REGID", c.REGID)) return false;
    if (!ReadProductValue("InstallationPath", c.InstallationPath)) return false;

    std::string appData;
    if (!port::Succeeded(
            run_.platform.files.SHGetFolderPathA(port::kCsidlCommonAppData, appData))) {
      appData.clear();
    }
    c.dataFolder.Assign(appData + "\\Merqel");

    run_.log.Write("CommandLine", "ARGUMENT", tail_, "", "");
    Log("Info", "Application", "Start", std::string(36, '='));
    report::RecoverPendingStatus(run_);
    if (!ReadProductValue("MEMBERID", c.MEMBERID)) return false;
    if (!ReadProductValue("TYPE", c.TYPE)) return false;
    if (!ReadProductValue("SITEID", c.SITEID)) return false;
    report::ReadStatusUrl(run_);
    return true;
  }

  // The whole command line goes to the parser, which refuses one that is too
  // long; it is never cut first.
  bool ParseArguments() {
    const std::string commandLine = run_.platform.system.GetCommandLineA();
    Log("Info", "Input", "", commandLine);
    return ParseInput(run_, commandLine);
  }

  // Creates the parser, checks that the job document exists and loads it.
  bool PrepareDocument() {
    document_.emplace(run_.platform);
    Text512 error;
    if (!document_->CreateParser(error)) {
      Log("Failed", "Initialization Xml", "", error.view());
      return false;
    }
    Log("Success", "Xml", "", "Initialize");

    run_.platform.system.Sleep(kPause);
    const std::string path = run_.args.XmlFilePath.str();
    if (!FileExists(run_.platform.files, path)) {
      Log("Failed", "Input xml not found", "", path);
      return false;
    }
    Text512 rootName;
    if (!document_->Load(path.c_str(), rootName, error)) {
      Log("Failed", "load Xml", "", error.view());
      return false;
    }
    Log("Success", "load Xml", "", path);
    Log("Info", "load Xml", "", rootName.view());
    return true;
  }

  void LoadPostLibrary() {
    auto& post = run_.platform.post;
    const std::string path = run_.context.InstallationPath.str() + "\\zCourier.dll";
    // A cut path would name another file: a path that does not fit is not
    // loaded at all.
    if (path.size() > kMaxLibraryPath || !post.LoadLibraryA(path.c_str())) {
      run_.log.Write("1.0", "CreateWebPost", "INFO", "ZCourier DLL Loading Failed", "");
    }
    run_.context.hasWebPostData = post.GetProcAddress("WebPostData");
    if (!run_.context.hasWebPostData) {
      run_.log.Write("1.0", "CreateWebPost", "ERR:", "WebPostApi Loading Failed", "");
    }
  }

  // Finds the logged-on user's shell, takes its token and impersonates it.
  bool TakeUserContext() {
    auto& processes = run_.platform.processes;
    auto& system = run_.platform.system;
    const std::optional<std::uint32_t> shell = FindSessionShell(processes);
    if (!shell) return false;

    const auto process = OpenShellProcess(processes, *shell);
    // Logged on every run, success or not, with whatever error the open left:
    // the server and stored logs count on this line. It reports no failure.
    Log("ERROR", "OpenProcessToken", "", std::to_string(system.GetLastError()));
    if (!OpenSessionUserToken(processes, process.get(), run_.context.userToken)) {
      const port::ErrorCode code = system.GetLastError();
      processes.RevertToSelf();
      Log("ERROR", "OpenProcessToken", std::to_string(code), "");
      return false;
    }
    Log("Success", "OpenProcessToken", "", "");

    if (!processes.ImpersonateLoggedOnUser(*run_.context.userToken)) {
      const port::ErrorCode code = system.GetLastError();
      processes.RevertToSelf();
      Log("ERROR", "ImpersonateLoggedOnUser", std::to_string(code), "");
      run_.context.userToken.reset();
      return false;
    }
    Log("Success", "ImpersonateLoggedOnUser", "", "");
    return true;
  }

  void RevertAndCloseToken() {
    run_.platform.processes.RevertToSelf();
    run_.context.userToken.reset();
  }

  // Reads the script header and checks the function name and script id.
  bool CheckIdentity() {
    ScriptHeader h;
    ReadScriptHeader(*document_, h);
    Log("Info", "Xml Data", "ScriptID", h.scriptId.view());
    Log("Info", "Xml Data", "ScriptVer", h.scriptVer.view());
    Log("Info", "Xml Data", "Category", h.category.view());
    Log("Info", "Xml Data", "FuncName", h.funcName.view());
    Log("Info", "Xml Data", "LogOn", h.logOn.view());

    auto& system = run_.platform.system;
    if (!IsPowerManagement(system, h)) {
      Log("Failed", "", "", "Function Name Not Matched");
      RevertAndCloseToken();
      return false;
    }
    // A script id that was cut to its field is another id: it matches none.
    if (h.scriptId.WasCut() || run_.args.ScriptId.WasCut() ||
        system.lstrcmpiA(h.scriptId.c_str(), run_.args.ScriptId.c_str()) != 0) {
      // "comapare" as the server and stored logs know it: never correct it.
      Log("Failed", "Data comapare", "", "");
      RevertAndCloseToken();
      return false;
    }
    Log("Success", "Data comapare", "", "");
    return true;
  }

  // The step loop. False when a step failed or could not be read (its
  // status was sent).
  bool RunSteps() {
    Text512 error;
    while (document_->ReadNextStep(request_, error)) {
      if (DispatchStep(run_, request_) == StepResult::Failed) {
        report::SendStatus(run_, "0");
        return false;
      }
    }
    if (!EveryStepRead(error)) {
      report::SendStatus(run_, "0");
      return false;
    }
    run_.platform.system.Sleep(kPause);
    report::SendStatus(run_, "1");
    RevertAndCloseToken();
    return true;
  }

  // Whether the walk ended because every step was read. A step the reader
  // could not read, or steps left beyond the cursor's bound, mean the job was
  // not done: that is logged and left as the failure message.
  bool EveryStepRead(const Text512& readerError) {
    const std::int32_t read = document_->StepsRead();
    const std::int32_t count = document_->StepCount();
    if (read >= count) return true;
    auto& message = run_.buffers.failureMessage;
    if (document_->StepBoundReached()) {
      message.Assign("Only " + std::to_string(read) + " of " + std::to_string(count) +
                     " steps ran: the script instance bounds the step list.");
      Log("Failed", "ReadNextStep", "", message.view());
    } else {
      const std::string position = std::to_string(read + 1);
      message.Assign("Step " + position + " of " + std::to_string(count) + " could not be read.");
      Log("Failed", "ReadNextStep", position, readerError.view());
    }
    return false;
  }

  run::Run& run_;
  std::string tail_;
  CRegistry registry_;
  const char* productKey_ = "SOFTWARE\\MERQEL";
  std::optional<jobdoc::JobDocument> document_;
  jobdoc::PowerRequest request_;
};

}  // namespace

int RunJob(port::Platform& platform, const char* commandLineTail, std::uint32_t postBoundMs) {
  run::Run run(platform, report::MakeActivityLog);
  run.postBoundMs = postBoundMs;
  try {
    RunSequence(run, commandLineTail).Execute();
  } catch (const run::JobAborted&) {
    // Already logged where it arose.
  } catch (...) {
    run::CapturedError(run).Log(kModule, "ERROR", "Exception Occured");
  }
  return 0;
}

}  // namespace zrt::app
