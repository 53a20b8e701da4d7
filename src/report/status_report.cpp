#include "report/status_report.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/code_page_text.h"
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
// Status documents written ahead of their posts. The server's collector takes
// "*.xml" for status files, which matches a long name and its 8.3 short name
// alike: this extension is not ".xml" and its first three letters are not
// "xml" either.
constexpr const char* kPendingExtension = ".pending";
// Where a file of that extension that is no whole status is kept aside.
constexpr const char* kIncompleteExtension = ".incomplete";
// The last bytes of every whole status document: a file that does not end
// with them was cut short, or never written, and is no status.
constexpr std::string_view kDocumentEnd = "</wpdcmscriptjobinstancestatus>";
// More than any status document takes.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

// "300 seconds", or "1500 ms" for a bound that is no whole number of seconds.
std::string BoundText(std::uint32_t ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds" : std::to_string(ms) + " ms";
}

std::string NarrowResult(run::Run& run, const port::VariantResult& variant) {
  if (variant.kind != port::VariantResult::Kind::Text) return {};
  std::string text;
  ToNarrow(run.platform.system, variant.text, text);
  return text;
}

std::string PostLogFolder(const run::Run& run) {
  return run.context.dataFolder.str() + "\\QTVPostLogs";
}

// A status written ahead of its posts: the document under the name of its
// fallback file with kPendingExtension, held open for as long as this process
// may still post it. A file of that extension that nobody holds was left by a
// process that ended before its status was posted or filed.
struct PendingStatus {
  std::unique_ptr<port::OutputFile> file;  // held: no other process may write it
  std::string path;
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  const std::string_view tail = text.substr(text.size() - end.size());
  return std::equal(tail.begin(), tail.end(), end.begin(),
                    [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

// The name after `stem` for a fallback file: the same with its 17-digit time
// stamp one millisecond later, or none for a name without a stamp.
std::optional<std::string> NextStem(const std::string& stem) {
  constexpr std::size_t kStampDigits = 17;
  if (stem.size() < kStampDigits) return std::nullopt;
  const std::string stamp = stem.substr(stem.size() - kStampDigits);
  if (!std::all_of(stamp.begin(), stamp.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const auto number = [&stamp](std::size_t at, std::size_t digits) {
    std::uint16_t value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
      value = static_cast<std::uint16_t>(value * 10 + (stamp[i] - '0'));
    }
    return value;
  };
  port::SystemTime time;
  time.year = number(0, 4);
  time.month = number(4, 2);
  time.day = number(6, 2);
  time.hour = number(8, 2);
  time.minute = number(10, 2);
  time.second = number(12, 2);
  time.milliseconds = number(14, 3);
  const std::string next = FallbackFileName("", NextMillisecond(time));
  return stem.substr(0, stem.size() - kStampDigits) + next.substr(next.size() - kStampDigits);
}

// Renames the file at `from` to the fallback file `stem`.xml of the post-log
// folder, the next millisecond's name while the name is taken. True when
// renamed; `target` is the last name tried.
bool FileUnderFallbackName(run::Run& run, const std::string& from, std::string stem,
                           std::string& target) {
  for (int attempt = 0; attempt < kMaxFallbackNames; ++attempt) {
    target = PostLogFolder(run) + "\\" + stem + ".xml";
    if (run.platform.files.MoveFileA(from.c_str(), target.c_str())) return true;
    if (run.platform.system.GetLastError() != port::err::kAlreadyExists) return false;
    const auto next = NextStem(stem);
    if (!next) return false;
    stem = *next;
  }
  return false;
}

// Writes the document as a pending file of `time` (the next millisecond's
// name while the name is taken). An empty result when it cannot be; `path`
// is then the last name tried and the thread's last error says why.
PendingStatus CreatePendingStatus(run::Run& run, port::SystemTime time, const std::string& document,
                                  std::string& path) {
  const std::string folder = PostLogFolder(run);
  CreateDirectoryPath(run.platform.files, folder, LeadBytesOf(run.platform.system));
  const std::string bytes = ToTextMode(StatusFileText(document, run.platform.system.GetACP()));
  for (int attempt = 0; attempt < kMaxFallbackNames; ++attempt) {
    path = folder + "\\" +
           FallbackFileName(run.context.REGID.view(), time, LeadBytesOf(run.platform.system)) +
           kPendingExtension;
    auto file = run.platform.files.CreateFileA(path.c_str(), port::OpenMode::CreateNewHeld);
    if (!file && run.platform.system.GetLastError() == port::err::kFileExists) {
      time = NextMillisecond(time);
      continue;
    }
    if (file && file->WriteFile(bytes.data(), bytes.size())) return {std::move(file), path};
    if (file) {
      const port::ErrorCode error = run.platform.system.GetLastError();
      file.reset();
      run.platform.files.DeleteFileA(path.c_str());  // a part of a status is no status
      run.platform.system.SetLastError(error);
    }
    break;
  }
  return {};
}

// Writes the document ahead of the posts; an empty result when it cannot be
// (the posts go on without it, and the status is kept in memory until then).
PendingStatus WritePendingStatus(run::Run& run, port::SystemTime time,
                                 const std::string& document) {
  std::string path;
  PendingStatus pending = CreatePendingStatus(run, time, document, path);
  if (!pending.file) {
    const port::ErrorCode error = run.platform.system.GetLastError();
    run.log.Write("SendWebpost", "Error", "Creating Pending File Failed", path,
                  std::to_string(error));
  }
  return pending;
}

// The status was posted: its pending file goes.
void RemovePendingStatus(run::Run& run, PendingStatus& pending) {
  if (!pending.file) return;
  if (!run.platform.files.DeleteFileA(pending.path.c_str())) {
    pending.file.reset();  // a platform that will not delete a held file
    run.platform.files.DeleteFileA(pending.path.c_str());
  }
  pending.file.reset();
}

enum class Filing { Filed, Vanished, LeftPending };

// Both posts failed: the pending file becomes the fallback file of `time`.
// LeftPending leaves it for a later run to file; Vanished tells that the
// file is no longer there.
Filing FilePendingStatus(run::Run& run, PendingStatus& pending, port::SystemTime time,
                         std::string& name) {
  std::string target;
  const std::string stem =
      FallbackFileName(run.context.REGID.view(), time, LeadBytesOf(run.platform.system));
  bool filed = FileUnderFallbackName(run, pending.path, stem, target);
  if (!filed && run.platform.system.GetLastError() == port::err::kSharingViolation) {
    // A platform that will not rename a held file: let go of it first.
    pending.file.reset();
    filed = FileUnderFallbackName(run, pending.path, stem, target);
  }
  const bool vanished = !filed && run.platform.system.GetLastError() == port::err::kFileNotFound;
  pending.file.reset();
  // The name after the folder: a trail byte 0x5C in it is no separator.
  name = target.substr(PostLogFolder(run).size() + 1);
  name.resize(name.size() - 4);  // without ".xml"
  if (filed) {
    run.log.Write("SendWebpost", "INFO", "Created File ", target, "");
    return Filing::Filed;
  }
  if (!vanished) return Filing::LeftPending;
  run.log.Write("SendWebpost", "Error", "Pending File Missing", pending.path, "");
  return Filing::Vanished;
}

bool IsWholeStatus(std::string_view bytes) {
  return bytes.size() >= kDocumentEnd.size() &&
         bytes.substr(bytes.size() - kDocumentEnd.size()) == kDocumentEnd;
}

// Gives a pending file that holds no whole status a name that is no status,
// `stem`.incomplete (or `stem`_N.incomplete while that is taken).
void KeepAside(run::Run& run, const std::string& path, const std::string& stem) {
  std::string target;
  for (int n = 0; n < kMaxFallbackNames; ++n) {
    target = PostLogFolder(run) + "\\" + stem + (n == 0 ? "" : "_" + std::to_string(n)) +
             kIncompleteExtension;
    if (run.platform.files.MoveFileA(path.c_str(), target.c_str())) {
      run.log.Write("SendWebpost", "Error", "Incomplete Status Kept Aside", target, path);
      return;
    }
    if (run.platform.system.GetLastError() != port::err::kAlreadyExists) break;
  }
  run.log.Write("SendWebpost", "Error", "Recovering File Failed", path, target);
}

// One post; `accepted` runs as soon as the post library has accepted it,
// before anything else is done.
PostOutcome Post(run::Run& run, const std::string& url, const std::string& document,
                 const std::function<void()>& accepted);

}  // namespace

const char* DefaultStatusServerAddress() { return ZRT_DEFAULT_STATUS_URL; }

void RecoverPendingStatus(run::Run& run) {
  try {
    const std::string folder = PostLogFolder(run);
    std::vector<std::string> names;
    const std::string pattern = folder + "\\*" + kPendingExtension;
    if (!run.platform.files.FindFileNames(pattern.c_str(), names)) return;
    for (const std::string& name : names) {
      if (!EndsWithNoCase(name, kPendingExtension)) continue;
      const std::string path = folder + "\\" + name;
      // Its writer holds it until its status is posted or filed. A file
      // nobody holds is taken alone and held until it has its new name, so
      // that no other run files it too and no file made meanwhile under the
      // same name is taken in its place.
      const auto claimed =
          run.platform.files.CreateFileA(path.c_str(), port::OpenMode::ClaimExisting);
      if (!claimed) continue;
      std::string target;
      const std::string stem = name.substr(0, name.size() - std::strlen(kPendingExtension));
      std::string bytes;
      if (!claimed->ReadFile(bytes, kMaxStatusBytes)) {
        run.log.Write("SendWebpost", "Error", "Recovering File Failed", path, "");
      } else if (!IsWholeStatus(bytes)) {
        KeepAside(run, path, stem);
      } else if (FileUnderFallbackName(run, path, stem, target)) {
        run.log.Write("SendWebpost", "INFO", "Recovered File ", target, path);
      } else if (run.platform.system.GetLastError() != port::err::kFileNotFound) {
        // Another run filed it meanwhile, or it stays for the next run.
        run.log.Write("SendWebpost", "Error", "Recovering File Failed", path, target);
      }
    }
  } catch (...) {
    // The run goes on; the files stay for the next run.
  }
}

void ReadStatusUrl(run::Run& run) {
  try {
    const std::string ini = run.context.InstallationPath.str() + "\\Configuration\\zLocator.ini";
    run.context.statusServerAddress.Assign(
        run.platform.files.GetPrivateProfileStringA("wpdcmscriptjobinstancestatus", "URL", "",
                                                    kIniValueCapacity, ini.c_str()),
        LeadBytesOf(run.platform.system));
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

PostOutcome PostStatus(run::Run& run, const std::string& url, const std::string& document) {
  return Post(run, url, document, {});
}

namespace {
PostOutcome Post(run::Run& run, const std::string& url, const std::string& document,
                 const std::function<void()>& accepted) {
  run.log.Write(kPostModule, kPostType, "Trying To Send The Following status For WebPost", url,
                document);
  port::WebPostResults results;
  std::string errorText;
  auto& system = run.platform.system;
  if (run.context.hasWebPostData) {
    std::array<port::WideText, 7> texts;
    if (!ToWide(system, url, texts[0]) || !ToWide(system, document, texts[1]) ||
        !ToWide(system, "N", texts[2])) {
      // An empty or partial document is no status: nothing is posted.
      errorText = "The status could not be converted for WebPostData";
    } else {
      switch (run.platform.post.WebPostData(texts, results, run.postBoundMs)) {
        case port::CallOutcome::TimedOut:
          // The call may still be running inside the library, which need not
          // be re-entrant: it is never called again in this run.
          run.context.hasWebPostData = false;
          run.log.Write(kPostModule, kPostType, "ERROR Using WebPost Dll Failed",
                        "WebPostData did not return within " + BoundText(run.postBoundMs) +
                            "; the post was abandoned",
                        "");
          return PostOutcome::Abandoned;
        case port::CallOutcome::Raised:
          // A post library that raises has not delivered anything: the
          // status must go the failed-post way, never be counted as sent.
          errorText = "Exception raised by WebPostData";
          break;
        case port::CallOutcome::Returned: {
          std::string result = NarrowResult(run, results.result);
          if (results.result.kind != port::VariantResult::Kind::Text) result = "0";
          if (results.error.kind == port::VariantResult::Kind::Empty &&
              system.lstrcmpiA(result.c_str(), "1") == 0) {
            if (accepted) accepted();
            run.log.Write(kPostModule, kPostType, "Info", "Success Webpost Return Status", result);
            return PostOutcome::Accepted;
          }
          errorText = NarrowResult(run, results.error);
          break;
        }
      }
    }
  }
  run.log.Write(kPostModule, kPostType, "ERROR Using WebPost Dll Failed", errorText,
                NarrowResult(run, results.further));
  return PostOutcome::Failed;
}
}  // namespace

bool WritePostFile(run::Run& run, port::SystemTime time, const std::string& document,
                   std::string& name) {
  // Written whole under the pending name first, so that no cut file is ever
  // filed: a run that dies meanwhile leaves it for the next run.
  std::string path;
  PendingStatus pending = CreatePendingStatus(run, time, document, path);
  if (!pending.file) {
    // The name after the folder: a trail byte 0x5C in it is no separator.
    name = path.substr(PostLogFolder(run).size() + 1);
    name.resize(name.size() - std::strlen(kPendingExtension));
    path.replace(path.size() - std::strlen(kPendingExtension), std::string::npos, ".xml");
    run.log.Write("SendWebpost", "Error", "Creating File Failed", path, "");
    return false;
  }
  return FilePendingStatus(run, pending, time, name) == Filing::Filed;
}

bool SendStatus(run::Run& run, std::string_view outcome) {
  const port::SystemTime began = run.platform.system.GetLocalTime();
  const run::JobArguments& a = run.args;
  const run::JobContext& c = run.context;
  const std::string document =
      BuildStatusDocument({c.REGID.view(), a.ScriptJobId.view(), a.IsRealTimeS.view(),
                           a.ScriptId.view(), a.JobId.view(), a.InstanceID.view(), outcome,
                           run.buffers.failureMessage.view(), a.ExecutionTime.view()});
  // Written ahead, so that a process that dies inside a post leaves its
  // status for the next run to file.
  PendingStatus pending = WritePendingStatus(run, began, document);

  for (const std::string_view base :
       {c.statusServerAddress.view(), std::string_view(DefaultStatusServerAddress())}) {
    const std::string url =
        BuildStatusUrl(base, c.MEMBERID.view(), c.SITEID.view(), c.REGID.view(), c.TYPE.view());
    // The pending file goes the moment the post is accepted, before any log
    // line: a run that dies in between has its status both posted and filed.
    const PostOutcome posted =
        Post(run, url, document, [&run, &pending] { RemovePendingStatus(run, pending); });
    if (posted == PostOutcome::Accepted) return true;
    run.log.Write(kPostModule, kPostType, "Info", "Failed To Send the Webpost", url);
    if (posted == PostOutcome::Abandoned) break;
  }
  std::string fileName;
  // Without its pending file (never written, or vanished) the status is
  // filed from the document in memory.
  const Filing filing =
      pending.file ? FilePendingStatus(run, pending, began, fileName) : Filing::Vanished;
  if (filing == Filing::Filed ||
      (filing == Filing::Vanished && WritePostFile(run, began, document, fileName))) {
    return true;
  }
  run.log.Write(kPostModule, kPostType, "Info", "Failed To Send to the QTV Folder", fileName);
  return false;
}

}  // namespace zrt::report
