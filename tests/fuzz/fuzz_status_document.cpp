// Fuzzes the status document: for any texts without control characters, an
// XML reader must recover every inserted value exactly.
#include <cstdint>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "report/status_document.h"

namespace {
std::string TextOf(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node part : element.children()) text += part.value();
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(3);
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
  zrt::report::StatusFields fields{parts[0], "4411", "0",      "5012", parts[1],
                                   "1",      "0",    parts[2], "now"};
  const std::string doc = zrt::report::BuildStatusDocument(fields);
  pugi::xml_document parsed;
  if (!parsed.load_string(doc.c_str(), pugi::parse_default | pugi::parse_ws_pcdata)) std::abort();
  const pugi::xml_node root = parsed.child("wpdcmscriptjobinstancestatus");
  if (TextOf(root.child("regid")) != parts[0]) std::abort();
  if (TextOf(root.child("jobid")) != parts[1]) std::abort();
  if (TextOf(root.child("desc")) != parts[2]) std::abort();
  return 0;
}
