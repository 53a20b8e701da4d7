#include "platform/sim/sim_clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace zrt::sim {
namespace {

// 0 for Sunday to 6 for Saturday, for a date of the Gregorian calendar.
std::uint16_t DayOfWeek(int year, int month, int day) {
  // Sakamoto's method.
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return static_cast<std::uint16_t>(
      (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7);
}

port::SystemTime FromTm(const std::tm& fields, long long milliseconds) {
  port::SystemTime time;
  time.year = static_cast<std::uint16_t>(fields.tm_year + 1900);
  time.month = static_cast<std::uint16_t>(fields.tm_mon + 1);
  time.day = static_cast<std::uint16_t>(fields.tm_mday);
  time.dayOfWeek = static_cast<std::uint16_t>(fields.tm_wday);
  time.hour = static_cast<std::uint16_t>(fields.tm_hour);
  time.minute = static_cast<std::uint16_t>(fields.tm_min);
  time.second = static_cast<std::uint16_t>(fields.tm_sec);
  time.milliseconds = static_cast<std::uint16_t>(milliseconds);
  return time;
}

}  // namespace

std::optional<port::SystemTime> ParseLocalTime(std::string_view text) {
  const std::string copy(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  char separator = 0;
  int used = 0;
  const int fields = std::sscanf(copy.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day,
                                 &separator, &hour, &minute, &second, &used);
  if (fields != 7 || (separator != ' ' && separator != 'T')) return std::nullopt;
  std::string_view tail = text.substr(static_cast<std::size_t>(used));
  if (!tail.empty()) {
    int more = 0;
    const std::string tailCopy(tail);
    if (std::sscanf(tailCopy.c_str(), ".%3d%n", &millis, &more) != 1 ||
        static_cast<std::size_t>(more) != tail.size()) {
      return std::nullopt;
    }
  }
  static const int daysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 ||
      day > daysIn[month - 1] || hour > 23 || minute > 59 || second > 59 || millis < 0) {
    return std::nullopt;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  port::SystemTime time;
  time.year = static_cast<std::uint16_t>(year);
  time.month = static_cast<std::uint16_t>(month);
  time.day = static_cast<std::uint16_t>(day);
  time.dayOfWeek = DayOfWeek(year, month, day);
  time.hour = static_cast<std::uint16_t>(hour);
  time.minute = static_cast<std::uint16_t>(minute);
  time.second = static_cast<std::uint16_t>(second);
  time.milliseconds = static_cast<std::uint16_t>(millis);
  return time;
}

port::SystemTime HostLocalTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  return FromTm(local, duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
}

port::SystemTime Later(const port::SystemTime& time, std::uint64_t milliseconds) {
  std::tm fields{};
  fields.tm_year = time.year - 1900;
  fields.tm_mon = time.month - 1;
  fields.tm_mday = time.day;
  fields.tm_hour = time.hour;
  fields.tm_min = time.minute;
  fields.tm_sec = time.second;
  const std::uint64_t millis = time.milliseconds + milliseconds;
  const std::time_t seconds = timegm(&fields) + static_cast<std::time_t>(millis / 1000);
  std::tm later{};
  gmtime_r(&seconds, &later);
  return FromTm(later, static_cast<long long>(millis % 1000));
}

std::optional<std::string> FormatTime(const port::SystemTime& time, std::string_view picture) {
  if (picture != kLogTimePicture || time.hour > 23 || time.minute > 59 || time.second > 59 ||
      time.milliseconds > 999) {
    return std::nullopt;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d %s", time.hour % 12 == 0 ? 12 : time.hour % 12,
                time.minute, time.second, time.hour < 12 ? "AM" : "PM");
  return std::string(text);
}

}  // namespace zrt::sim
