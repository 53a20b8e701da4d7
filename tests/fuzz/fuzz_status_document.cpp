// Fuzzes the status document, the status URL and the fallback file name:
// for any texts without control characters an XML reader must recover every
// value inserted into the document exactly; the URL must keep its base and
// fixed path and, when no value holds a query separator, give back each
// value; the file name must be one Windows accepts, with its 17-digit stamp,
// and the next millisecond must be a valid, later time.
#include <cstdint>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "report/status_document.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

std::string TextOf(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node part : element.children()) text += part.value();
  return text;
}

void CheckDocument(const std::vector<std::string>& parts) {
  const zrt::report::StatusFields fields{parts[0], "4411", "0",      "5012", parts[1],
                                         "1",      "0",    parts[2], "now"};
  const std::string doc = zrt::report::BuildStatusDocument(fields);
  pugi::xml_document parsed;
  Require(parsed.load_string(doc.c_str(), pugi::parse_default | pugi::parse_ws_pcdata));
  const pugi::xml_node root = parsed.child("wpdcmscriptjobinstancestatus");
  Require(TextOf(root.child("regid")) == parts[0]);
  Require(TextOf(root.child("jobid")) == parts[1]);
  Require(TextOf(root.child("desc")) == parts[2]);
}

void CheckUrl(const std::vector<std::string>& parts) {
  const std::string& base = parts[3];
  const std::string url = zrt::report::BuildStatusUrl(base, parts[4], parts[5], parts[0], parts[6]);
  const std::string head = base + "/tfr_wpdcmscriptjobinstancestatus.asp?";
  Require(url.compare(0, head.size(), head) == 0);
  const std::vector<std::string> values = {parts[4], parts[5], parts[0], parts[6]};
  for (const std::string& value : values) {
    if (value.find_first_of("&=#") != std::string::npos) return;  // not recoverable unescaped
  }
  const char* const names[] = {"mmid", "sid", "rid", "rty"};
  std::string_view query(url);
  query.remove_prefix(head.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t end = query.find('&');
    const std::string_view pair = query.substr(0, end);
    Require(pair == std::string(names[i]) + "=" + values[i]);
    Require((end == std::string_view::npos) == (i + 1 == values.size()));
    if (end != std::string_view::npos) query.remove_prefix(end + 1);
  }
}

void CheckFileName(const std::string& regid, const std::uint8_t* data, std::size_t size) {
  const auto byte = [&](std::size_t i) { return i < size ? data[i] : std::uint8_t{0}; };
  zrt::port::SystemTime t{};
  t.year = static_cast<std::uint16_t>(1601 + (byte(0) | byte(1) << 8) % 8399);
  t.month = static_cast<std::uint16_t>(1 + byte(2) % 12);
  t.day = static_cast<std::uint16_t>(1 + byte(3) % 28);
  t.hour = static_cast<std::uint16_t>(byte(4) % 24);
  t.minute = static_cast<std::uint16_t>(byte(5) % 60);
  t.second = static_cast<std::uint16_t>(byte(6) % 60);
  t.milliseconds = static_cast<std::uint16_t>((byte(7) | byte(8) << 8) % 1000);
  if (byte(9) & 1) {  // the last milliseconds of a month, where the carries happen
    t.day = 28 + byte(9) % 4;
    t.hour = 23, t.minute = 59, t.second = 59, t.milliseconds = 999;
  }

  const std::string name = zrt::report::FallbackFileName(regid, t);
  const std::string head = "wpdcmscriptjobinstancestatus.asp_N_";
  Require(name.compare(0, head.size(), head) == 0);
  Require(name.size() == head.size() + regid.size() + 5 + 17);
  Require(name.compare(name.size() - 22, 5, "_PER_") == 0);
  for (const char c : name) {
    Require(static_cast<unsigned char>(c) >= 0x20 &&
            std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos);
  }
  for (std::size_t i = name.size() - 17; i < name.size(); ++i) {
    Require(name[i] >= '0' && name[i] <= '9');
  }

  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const auto days = [](int month, int year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
  };
  if (t.day > days(t.month, t.year)) return;  // not a date the clock gives
  const zrt::port::SystemTime n = zrt::report::NextMillisecond(t);
  Require(n.month >= 1 && n.month <= 12 && n.day >= 1 && n.day <= days(n.month, n.year) &&
          n.hour < 24 && n.minute < 60 && n.second < 60 && n.milliseconds < 1000);
  const auto order = [](const zrt::port::SystemTime& x) {
    return std::make_tuple(x.year, x.month, x.day, x.hour, x.minute, x.second, x.milliseconds);
  };
  Require(order(t) < order(n));
}

}  // namespace

// The input is up to seven texts separated by the byte 1 (REGID, job id,
// description, base address, MEMBERID, SITEID, TYPE); other control bytes
// and bytes above 0x7F are left out. Its first bytes also make a time.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(7);
  std::size_t field = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\x01') {
      if (++field == parts.size()) break;
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80) continue;
    parts[field].push_back(c);
  }
  CheckDocument(parts);
  CheckUrl(parts);
  CheckFileName(parts[0], data, size);
  return 0;
}
