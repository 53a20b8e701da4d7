// The check of a whole job document: read with the program's own reader and
// limits, its script header, then every step.
#pragma once

#include <string>

#include "check/report.h"
#include "platform/port/platform.h"

namespace zrt::check {

// Checks the job document at `path` (a path the platform's file system and
// XML parser understand, in the ANSI code page); `shown` is the path as the
// user gave it.
Report CheckDocument(port::Platform& platform, const std::string& path, const std::string& shown);

}  // namespace zrt::check
