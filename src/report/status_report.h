// Reports a job's outcome: posted through the post library to the configured
// status server, then to the default one, else written as a fallback file.
#pragma once

#include <string>
#include <string_view>

#include "run/run.h"

namespace zrt::report {

// The default status server base address this program was built with.
const char* DefaultStatusServerAddress();

// Reads the configured status server address from the INI file.
void ReadStatusUrl(run::Run& run);

// Sends the outcome "1" (all steps done) or "0" (an operation failed).
// True when the status was posted or written to a fallback file.
bool SendStatus(run::Run& run, std::string_view outcome);

// One post through the post library; true when it accepted the post.
bool PostStatus(run::Run& run, const std::string& url, const std::string& document);

// Writes the document into the post-log folder as the fallback file of
// `time` without ever replacing an existing file: when the name is taken, the
// next millisecond is tried. A file whose write fails is removed. True when
// written; `name` is the file name (without ".xml") last tried.
bool WritePostFile(run::Run& run, port::SystemTime time, const std::string& document,
                   std::string& name);

}  // namespace zrt::report
