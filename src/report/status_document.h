// The status document, the status URL and the fallback file name that carry
// a job's outcome back to the management server.
#pragma once

#include <string>
#include <string_view>

#include "platform/port/platform_types.h"

namespace zrt::report {

struct StatusFields {
  std::string_view regid;
  std::string_view scriptJobId;
  std::string_view isRealTime;
  std::string_view scriptId;
  std::string_view jobId;
  std::string_view instanceId;
  std::string_view outcome;  // "1" or "0"
  std::string_view failureMessage;
  std::string_view executionTime;
};

// The document, with element values escaped and "]]>" split inside the
// description's CDATA section so a reader recovers every text exactly.
// Control characters XML does not allow become "?".
std::string BuildStatusDocument(const StatusFields& fields);

std::string BuildStatusUrl(std::string_view base, std::string_view memberId,
                           std::string_view siteId, std::string_view regid, std::string_view type);

// "wpdcmscriptjobinstancestatus.asp_N_<regid>_PER_<17-digit local time>",
// with every character Windows forbids in a file name made "_".
std::string FallbackFileName(std::string_view regid, const port::SystemTime& time);

// The same moment plus one millisecond, carried into the larger units.
port::SystemTime NextMillisecond(port::SystemTime time);

std::string EscapeXmlText(std::string_view text);
std::string EscapeCdata(std::string_view text);

}  // namespace zrt::report
