#include "report/activity_log.h"

#include <string>
#include <thread>

#include "platform/ascii_case.h"
#include "platform/code_page_text.h"
#include "platform/system_facts.h"
#include "platform/user_context.h"
#include "report/text_mode.h"

namespace zrt::report {
namespace {
constexpr std::size_t kMaxPathLength = 999;
constexpr std::size_t kMaxTypeLength = 99;
constexpr std::size_t kUserNameCapacity = 1024;
// How often the open is tried while other jobs make the file at that moment.
constexpr int kOpenAttempts = 1000;

// `value` in decimal with at least `width` digits, as "%0*d" gives it.
std::string Digits(unsigned value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

std::string FileDate(const port::SystemTime& t) {
  return Digits(t.day, 2) + Digits(t.month, 2) + Digits(t.year, 4);
}

std::string LineDate(const port::SystemTime& t) {
  return Digits(t.day, 2) + "/" + Digits(t.month, 2) + "/" + Digits(t.year, 4);
}

// Opens the day's file for one line; `created` tells whether this open made
// it, and so whether the header is due. Several jobs may write the file at
// once: an existing file is opened to append, sharing it with every other
// writer, and the kernel puts each write whole at the end of the file (an
// append-only handle on Windows, O_APPEND in the simulation), so lines of
// different jobs never tear or interleave. A missing file is made as one
// step, held alone: until its header and first line are written and it is
// closed, other jobs' opens fail with a sharing violation and try again, so
// the header always comes first, and only the job that made the file writes
// it. An existing file that is empty was made by a run that ended before its
// first write: it is taken alone (so that one run writes the header) and
// gets the header if it is still empty then.
std::unique_ptr<port::OutputFile> OpenLogFile(port::Platform& platform, const std::string& path,
                                              bool& created) {
  const auto empty = [](port::OutputFile& file) {
    std::uint64_t size = 0;
    return file.GetFileSize(size) && size == 0;
  };
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (auto file = platform.files.CreateFileA(path.c_str(), port::OpenMode::AppendExisting)) {
      created = false;
      if (!empty(*file)) return file;
      file.reset();
      if (auto claimed = platform.files.CreateFileA(path.c_str(), port::OpenMode::ClaimExisting)) {
        created = empty(*claimed);
        return claimed;
      }
    }
    port::ErrorCode error = platform.system.GetLastError();
    if (error == port::err::kFileNotFound) {
      if (auto file = platform.files.CreateFileA(path.c_str(), port::OpenMode::CreateNewAlone)) {
        created = true;
        return file;
      }
      error = platform.system.GetLastError();
      if (error == port::err::kFileExists) continue;  // another job made it first
    }
    if (error != port::err::kSharingViolation) return nullptr;
    std::this_thread::yield();
  }
  return nullptr;
}
}  // namespace

std::string NormaliseTypeWord(std::string_view type, const LeadByteTest& isLeadByte) {
  if (EqualsIgnoringAsciiCase(type, "Information")) return "INFO";
  return MapSingleByteCharacters(CutToWholeCharacters(type, kMaxTypeLength, isLeadByte), isLeadByte,
                                 AsciiUpper);
}

std::unique_ptr<run::LogWriter> MakeActivityLog(port::Platform& platform,
                                                const run::JobContext& context) {
  return std::make_unique<ActivityLog>(platform, context);
}

ActivityLog::ActivityLog(port::Platform& platform, const run::JobContext& context)
    : platform_(platform), context_(context) {}

std::string ActivityLog::LogFolder() const {
  return context_.dataFolder.str() + "\\ApplicationLog\\zQTVLog";
}

std::string ActivityLog::LogFilePath(std::string_view software,
                                     const port::SystemTime& time) const {
  std::string path = LogFolder();
  path.append("\\").append(software).append("_[").append(FileDate(time)).append("].Log");
  return path;
}

void ActivityLog::WriteLog(std::string_view software, std::string_view module,
                           std::string_view type, std::string_view val1, std::string_view val2,
                           std::string_view val3) noexcept {
  try {
    WriteLine(software, module, type, val1, val2, val3);
  } catch (...) {
    // A line that cannot be written is lost; the job goes on.
  }
}

void ActivityLog::WriteLine(std::string_view software, std::string_view module,
                            std::string_view type, std::string_view val1, std::string_view val2,
                            std::string_view val3) {
  std::string user;
  if (platform_.processes.GetUserNameA(user, kUserNameCapacity))
    userName_.Assign(user, LeadBytesOf(platform_.system));

  const std::string folder = LogFolder();
  if (!FileExists(platform_.files, folder))
    CreateDirectoryPath(platform_.files, folder, LeadBytesOf(platform_.system));

  const port::SystemTime now = platform_.system.GetLocalTime();
  const std::string lineTime =
      LineDate(now) + " " + platform_.system.GetTimeFormatA(now, "hh':'mm':'ss tt");

  const std::string path = LogFilePath(software, now);
  if (path.size() > kMaxPathLength) return;
  bool created = false;
  auto file = OpenLogFile(platform_, path, created);
  if (!file) return;

  std::string text;
  if (created) {
    text += "#Software: " + std::string(software) + "\n";
    text += "#Version: 2.0.0.5\n";
    text += "#Regid : " + context_.REGID.str() + "\n";
    text += std::string("#Operating System :  ") +
            (context_.is64BitMachine ? "64 Bit Machine" : "32 Bit Machine") + "\n";
    text += "#Date: " + lineTime + "\n";
    text += "#Fields:\tdtime\tSession User Name\tmodule\ttype\tval1\tval2\tval3\n";
  }
  const std::string typeWord = NormaliseTypeWord(type, LeadBytesOf(platform_.system));
  for (const std::string_view field : {std::string_view(lineTime), userName_.view(), module,
                                       std::string_view(typeWord), val1, val2, val3}) {
    text.append(field).push_back('\t');
  }
  text.back() = '\n';
  const std::string bytes = ToTextMode(text);
  file->WriteFile(bytes.data(), bytes.size());
}

}  // namespace zrt::report
