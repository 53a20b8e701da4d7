// The post library of the simulated machine. The library file itself
// (zCourier.dll on a drive of the machine) is a JSON text that says what
// the library exports and how it answers each call. Every call is recorded
// in posts.jsonl in the machine folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/port/post_library.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_machine.h"

namespace zrt::sim {

class SimPostLibrary : public port::PostLibrary {
 public:
  explicit SimPostLibrary(SimMachine& machine) : machine_(machine) {}

  // Error 126 when the file does not exist, 193 when it is not a library
  // description. A successful load replaces the library loaded before.
  bool LoadLibraryA(const char* path) override;
  // Error 127 when the library has no such export, 6 when none is loaded.
  bool GetProcAddress(const char* name) override;
  // Records the post, then answers with the answer of its place among all
  // the posts recorded on the machine, by this run or an earlier one (the
  // last answer repeats), given on a thread of its own. An answer may also raise,
  // crash the process (as an access violation inside the library would) or
  // never return; the caller waits for the thread at most `boundMs`. Throws
  // std::logic_error when no entry point was found, where the real call
  // would crash.
  port::CallOutcome WebPostData(const std::array<port::WideText, 7>& texts,
                                port::WebPostResults& results, std::uint32_t boundMs) override;

 private:
  struct Library {
    std::string path;  // the Windows path it was loaded from, UTF-8
    Json description;
  };

  SimMachine& machine_;
  std::optional<Library> library_;
  bool entryPointFound_ = false;
};

}  // namespace zrt::sim
