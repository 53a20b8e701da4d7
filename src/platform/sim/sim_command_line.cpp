#include "platform/sim/sim_command_line.h"

namespace zrt::sim {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

SplitCommand SplitCommandLine(std::string_view line, const LeadByteTest& isLeadByte) {
  const auto pairAt = [&](std::size_t pos) {
    return isLeadByte && pos + 1 < line.size() && isLeadByte(static_cast<unsigned char>(line[pos]));
  };
  SplitCommand split;
  std::size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    const std::size_t end = line.find('"', 1);
    split.program = std::string(line.substr(1, end == std::string_view::npos ? end : end - 1));
    pos = end == std::string_view::npos ? line.size() : end + 1;
  } else {
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    split.program = std::string(line.substr(0, pos));
  }

  for (;;) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size()) break;
    std::string argument;
    bool quoted = false;
    while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
      if (pairAt(pos)) {
        argument.append(line.substr(pos, 2));
        pos += 2;
      } else if (line[pos] == '\\') {
        std::size_t count = 0;
        while (pos < line.size() && line[pos] == '\\') ++count, ++pos;
        const bool beforeQuote = pos < line.size() && line[pos] == '"';
        argument.append(beforeQuote ? count / 2 : count, '\\');
        if (beforeQuote && count % 2 == 1) argument += line[pos++];
      } else if (line[pos] == '"') {
        if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
          argument += '"';
          pos += 2;
        } else {
          quoted = !quoted;
          ++pos;
        }
      } else {
        argument += line[pos++];
      }
    }
    split.arguments.push_back(std::move(argument));
  }
  return split;
}

}  // namespace zrt::sim
