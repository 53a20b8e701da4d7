#include "capture/anonymiser.h"

#include <algorithm>
#include <iterator>

#include "platform/ascii_case.h"

namespace zrt::capture {
namespace {

constexpr const char* kProfileFolders[] = {"Documents and Settings", "Users"};
// Profiles that belong to nobody in particular.
constexpr const char* kSharedProfiles[] = {
    "All Users", "Default User", "Default", "Public", "LocalService", "NetworkService",
};

bool IsOneOf(const std::string& name, const char* const* begin, const char* const* end) {
  return std::any_of(begin, end,
                     [&](const char* known) { return EqualsIgnoringAsciiCase(name, known); });
}

bool FoldsCase(std::string_view kind) { return kind == "user" || kind == "pc"; }

}  // namespace

std::string Anonymiser::Placeholder(std::string_view kind, std::string_view value) const {
  std::string message(kind);
  message += ':';
  for (const char c : value) {
    message += FoldsCase(kind) && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  const Sha256Digest mac = HmacSha256(sha256_, key_, message);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string placeholder(kind);
  placeholder += '-';
  for (std::size_t i = 0; i < kDigits / 2; ++i) {
    placeholder += kHex[mac[i] >> 4];
    placeholder += kHex[mac[i] & 0xF];
  }
  return placeholder;
}

std::string Anonymiser::PathWithoutUsers(
    const std::string& path, const std::function<std::string(const std::string&)>& toUtf8) const {
  std::string result;
  std::string previous;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    std::string name = path.substr(start, end - start);
    const bool userFolder =
        !name.empty() &&
        IsOneOf(previous, std::begin(kProfileFolders), std::end(kProfileFolders)) &&
        !IsOneOf(name, std::begin(kSharedProfiles), std::end(kSharedProfiles));
    previous = name;
    if (userFolder) name = Placeholder("user", toUtf8 ? toUtf8(name) : name);
    result += name;
    if (end < path.size()) result += '\\';
    start = end + 1;
  }
  return result;
}

}  // namespace zrt::capture
