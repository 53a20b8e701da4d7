// Placeholders for identifying values, keyed by a secret the fleet's
// administrator keeps: the same value gives the same placeholder on every
// machine captured with the same key, and without the key nobody can tell
// which value a placeholder stands for, not even by trying guesses.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "capture/hmac.h"

namespace zrt::capture {

class Anonymiser {
 public:
  // The fewest key bytes taken: a shorter key could be found by trying.
  static constexpr std::size_t kMinimumKeyBytes = 16;
  // The hex digits a placeholder keeps of its value's HMAC: 48 bits, so
  // that "TYPE-" and the digits still fit TYPE's 19 characters.
  static constexpr std::size_t kDigits = 12;

  // `key` must hold at least kMinimumKeyBytes bytes (KeyIsUsable).
  Anonymiser(Sha256 sha256, std::string key) : sha256_(std::move(sha256)), key_(std::move(key)) {}

  static bool KeyIsUsable(std::string_view key) { return key.size() >= kMinimumKeyBytes; }

  // `kind`, a dash and the first kDigits hex digits of
  // HMAC-SHA-256(key, kind ":" value). User and computer names ignore
  // letter case, as Windows does (ASCII letters are taken in lower case).
  std::string Placeholder(std::string_view kind, std::string_view value) const;

  // `path` (backslashes between names) with each user's folder below a
  // profiles folder ("Documents and Settings" or "Users") replaced by that
  // user's placeholder; the shared profiles (All Users, Default User,
  // Public, ...) stay. `toUtf8` converts a folder name to the text the
  // placeholder is made of, so that it matches the user's name.
  std::string PathWithoutUsers(
      const std::string& path,
      const std::function<std::string(const std::string&)>& toUtf8 = {}) const;

 private:
  Sha256 sha256_;
  std::string key_;
};

}  // namespace zrt::capture
