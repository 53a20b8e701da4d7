// The process-wide state of one job run, passed by reference to every part.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/port/platform.h"
#include "run/job_arguments.h"
#include "run/job_context.h"
#include "run/log_writer.h"
#include "run/scheme_lookup_state.h"

// How long a step waits for the power schemes while another job's step
// holds them (power/scheme_lock.h) before it fails: a build setting.
#ifndef ZRT_SCHEME_LOCK_WAIT_MS
#define ZRT_SCHEME_LOCK_WAIT_MS 600000
#endif

namespace zrt::run {

// Makes the run's log writer over the platform and the job context it reads
// (the folder, REGID and bitness of the log header).
using LogWriterFactory = std::unique_ptr<LogWriter> (*)(port::Platform& platform,
                                                        const JobContext& context);

// How long a post through the post library may take before it is abandoned.
constexpr std::uint32_t kDefaultPostBoundMs = 300000;

struct Run {
  Run(port::Platform& platformRef, LogWriterFactory makeLog)
      : platform(platformRef), logWriter(makeLog(platformRef, context)), log(*logWriter) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  port::Platform& platform;
  JobContext context;
  JobArguments args;
  SharedBuffers buffers;
  SchemeLookupState lookup;
  std::uint32_t postBoundMs = kDefaultPostBoundMs;
  // The bound of the wait for the power schemes' lock; tests shorten it.
  std::uint32_t schemeLockWaitMs = ZRT_SCHEME_LOCK_WAIT_MS;

 private:
  std::unique_ptr<LogWriter> logWriter;

 public:
  LogWriter& log;
};

// How a failed platform call is reported. Construction makes the error
// capture first (the thread's last error code as decimal text and the
// system's message text for it, into the shared buffers), before a log
// line can change the thread's last error; the
// failure is then logged with the captured number and text, and the failure
// message is a prefix followed by the error text. With `keepLastError` the
// call's error is the thread's last error again when the capture goes (a
// last-error saver), for a caller that reads it.
class CapturedError {
 public:
  explicit CapturedError(Run& run, bool keepLastError = false);
  ~CapturedError();

  // (type, label, number, text) under `module`.
  void Log(std::string_view module, std::string_view type, std::string_view label) const;
  // The failure message: `prefix` and the error text. Always false.
  bool Fail(std::string_view prefix) const;

 private:
  Run& run_;
  std::optional<port::ErrorCode> kept_;
};

}  // namespace zrt::run

namespace zrt::run {

// Thrown after an operation has logged an exception it caught: the process
// ends at once with exit code 0, without an "End" line or a status report.
struct JobAborted {};

// Runs `body`; any exception it raises is logged as ("ERROR", "Exception
// Occured", code, text) under `module` after an error capture, and the job
// is aborted.
template <typename Body>
auto GuardOperation(Run& run, const char* module, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const JobAborted&) {
    throw;
  } catch (...) {
    CapturedError(run).Log(module, "ERROR", "Exception Occured");
    throw JobAborted{};
  }
}

}  // namespace zrt::run
