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

// 0 for Sunday to 6 for Saturday, for a date of the Gregorian calendar.
std::uint16_t DayOfWeek(int year, int month, int day);

// Formats a time after a picture with the elements h, hh (12-hour clock),
// H, HH (24-hour clock), m, mm, s, ss, t, tt (the English designators "A"
// or "AM", "P" or "PM") and literals in single quotes ('' is a quote).
// Letters repeated beyond two count as two; other characters are copied.
// Empty when the time is not a valid time of day.
std::optional<std::string> FormatTime(const port::SystemTime& time, std::string_view picture);

}  // namespace zrt::sim
