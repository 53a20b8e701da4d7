#include "check/sim/fleet_shard.h"

#include <openssl/evp.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include "check/sim/shown_name.h"

namespace zrt::check {
namespace {

constexpr std::uint32_t kMostParts = 10000;

// FNV-1a over the name's bytes: the same on every host and in every run.
std::uint64_t NameHash(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::optional<std::uint32_t> Number(std::string_view text) {
  std::uint32_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
  return n;
}

}  // namespace

std::optional<Shard> ParseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return {};
  const auto part = Number(text.substr(0, slash)), parts = Number(text.substr(slash + 1));
  if (!part || !parts || *part < 1 || *part > *parts || *parts > kMostParts) return {};
  return Shard{*part, *parts};
}

bool InShard(const std::string& name, const Shard& shard) {
  return NameHash(name) % shard.parts == shard.part - 1;
}

std::string PartName(const Shard& shard) {
  return "part " + std::to_string(shard.part) + " of " + std::to_string(shard.parts);
}

FleetPart PartOf(const Shard& shard, const std::filesystem::path& document) {
  FleetPart part{shard, {}};
  std::ifstream in(document, std::ios::binary);
  std::ostringstream bytes;
  if (!in || !(bytes << in.rdbuf())) return part;
  const std::string text = bytes.str();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) return part;
  for (unsigned int i = 0; i < size; ++i) part.documentSha256 += HexByte(digest[i]);
  return part;
}

}  // namespace zrt::check
