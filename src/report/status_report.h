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

// Files, as fallback files, the pending status files in the post-log folder
// whose writers no longer run (nobody holds them), under the names their
// writers would have given them; one log line each. Each is held alone from
// its check to the end of its rename; one that holds no whole status document
// is kept aside under the extension ".incomplete".
void RecoverPendingStatus(run::Run& run);

// Sends the outcome "1" (all steps done) or "0" (an operation failed). The
// document is written ahead into the post-log folder as a pending file,
// removed the moment a post is accepted (before any log line) and made the
// fallback file when both posts fail or the first post is abandoned (the
// default address is then not tried). True when the status was posted or
// written to a fallback file.
bool SendStatus(run::Run& run, std::string_view outcome);

enum class PostOutcome {
  Accepted,   // the post library accepted the post
  Failed,     // it refused it, raised, or the status could not be handed over
  Abandoned,  // it had not returned within the run's bound: never call it again
};

// One post through the post library, waiting for it at most the run's bound.
PostOutcome PostStatus(run::Run& run, const std::string& url, const std::string& document);

// Writes the document into the post-log folder as the fallback file of
// `time` without ever replacing an existing file: when the name is taken, the
// next millisecond is tried. It is written whole as a pending file first and
// then renamed, so no cut file is ever filed; a file whose write fails is
// removed. True when written; `name` is the file name (without ".xml") last
// tried.
bool WritePostFile(run::Run& run, port::SystemTime time, const std::string& document,
                   std::string& name);

}  // namespace zrt::report
