// The clock of the simulated machine and the system time formatter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/port/platform_types.h"

namespace zrt::sim {

// Parses "YYYY-MM-DD HH:MM:SS" with an optional ".mmm" (a "T" may stand for
// the blank); the day of the week is worked out. Empty when malformed.
std::optional<port::SystemTime> ParseLocalTime(std::string_view text);

// The host's local time now.
port::SystemTime HostLocalTime();

// `time` moved on by `milliseconds`, across days, months and years.
port::SystemTime Later(const port::SystemTime& time, std::uint64_t milliseconds);

// The one picture the program passes to GetTimeFormatA (the activity log's
// times): a 12-hour clock with two-digit fields and "AM" or "PM".
constexpr std::string_view kLogTimePicture = "hh':'mm':'ss tt";

// Formats a time after kLogTimePicture, as "02:05:09 PM". Empty for any
// other picture and when the time is not a valid time of day.
std::optional<std::string> FormatTime(const port::SystemTime& time, std::string_view picture);

}  // namespace zrt::sim
