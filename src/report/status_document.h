// The status document, the status URL and the fallback file name that carry
// a job's outcome back to the management server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fixed_text.h"
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

// The name XML readers know the ANSI code page `codePage` by.
std::string XmlEncodingName(std::uint32_t codePage);

// What a status file holds: an XML declaration naming the encoding of the
// machine's ANSI code page, so any XML reader reads the bytes back, then the
// document exactly as posted.
std::string StatusFileText(std::string_view document, std::uint32_t codePage);

std::string BuildStatusUrl(std::string_view base, std::string_view memberId,
                           std::string_view siteId, std::string_view regid, std::string_view type);

// "wpdcmscriptjobinstancestatus.asp_N_<regid>_PER_<17-digit local time>",
// with every character Windows forbids in a file name made "_" (the trail
// byte of a double-byte character is never one).
std::string FallbackFileName(std::string_view regid, const port::SystemTime& time,
                             const LeadByteTest& isLeadByte = {});

// The same moment plus one millisecond, carried into the larger units.
port::SystemTime NextMillisecond(port::SystemTime time);

std::string EscapeXmlText(std::string_view text);
std::string EscapeCdata(std::string_view text);

}  // namespace zrt::report
