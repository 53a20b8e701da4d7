// A real machine as a simulated one: reads, as the program reads it and
// without changing anything, what the program meets on a machine (version,
// folders, the product key, the INI file, the logged-on user, the power
// schemes and policies) and gives it in the simulated machine's folder
// format (docs/simulated-machine.md), as files or as one bundle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/anonymiser.h"
#include "platform/port/platform.h"

namespace zrt::capture {

struct Options {
  // When set, identifying values (REGID, MEMBERID, SITEID, TYPE, the status
  // address, user and computer names, users' folders inside paths) are
  // replaced by its keyed placeholders.
  std::optional<Anonymiser> anonymiser;
  // With an anonymiser, the power schemes' names and descriptions too.
  bool anonymiseNames = false;
  // Facts the port does not carry, filled in by the entry point.
  std::optional<std::uint32_t> ansiCodePage;
  std::optional<std::uint32_t> oemCodePage;
  std::string computerName;
  // Left out of the process list: the capture's own process.
  std::optional<std::uint32_t> ownProcessId;
};

struct File {
  std::string path;   // relative to the machine folder, '/' between names
  std::string bytes;  // the file's contents
};

struct Capture {
  std::vector<File> files;
  // What could not be read, one sentence each; empty for a whole capture.
  std::vector<std::string> problems;
};

Capture CaptureMachine(port::Platform& platform, const Options& options);

// The bundle: one JSON document {"format", "version", "complete",
// "problems", "files": {path: {"text": ...} or {"hex": ...}}}; a file is
// given as text when it is ASCII, else as its bytes in hex.
std::string BundleText(const Capture& capture);

// Writes the files below `folder` (a path in the platform's terms), making
// the folders they need. False with `error` set at the first that fails.
bool WriteFolder(port::Platform& platform, const std::string& folder, const Capture& capture,
                 std::string& error);

// Writes the bundle into the file `path`.
bool WriteBundle(port::Platform& platform, const std::string& path, const Capture& capture,
                 std::string& error);

}  // namespace zrt::capture
