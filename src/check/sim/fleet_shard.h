// One of N stable parts of a fleet, so that several hosts (or workers) can
// each rehearse a part and their results be merged into one summary.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zrt::check {

struct Shard {
  std::uint32_t part = 1;   // K: from 1 to parts
  std::uint32_t parts = 1;  // N
};

// "K/N" with 1 <= K <= N <= 10,000; none when the text is not that.
std::optional<Shard> ParseShard(std::string_view text);

// Whether the entry named `name` belongs to the shard. The part follows from
// the name alone (a hash of its bytes), not from its place in the listing,
// so a machine stays in its part while others come and go.
bool InShard(const std::string& name, const Shard& shard);

// "part K of N".
std::string PartName(const Shard& shard);

// What a part's result records so that only the parts of one job document,
// whatever its path is spelled like, merge: which part it is, and the
// document's content.
struct FleetPart {
  Shard shard;
  std::string documentSha256;  // hex; empty when the document cannot be read (or is empty)
};
FleetPart PartOf(const Shard& shard, const std::filesystem::path& document);

}  // namespace zrt::check
