// A zero-terminated narrow text in a field of fixed capacity N (terminator
// included). Every write is bounded: longer input is cut to at most N - 1
// bytes, and the field remembers that it was cut, so text that is compared or
// run can be refused instead of used cut.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace zrt {

// Whether a byte opens a double-byte character in the text's code page. An
// empty test stands for a single-byte code page.
using LeadByteTest = std::function<bool(unsigned char)>;

// The length of the longest start of `text`, at most `limit` bytes, that ends
// at a character boundary: a cut never parts a lead byte from its trail byte.
inline std::size_t WholeCharacterLength(std::string_view text, std::size_t limit,
                                        const LeadByteTest& isLeadByte) {
  if (text.size() <= limit) return text.size();
  if (!isLeadByte) return limit;
  std::size_t end = 0;
  while (end < limit) {
    const std::size_t width = isLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end + width > limit) break;
    end += width;
  }
  return end;
}

template <std::size_t N>
class FixedText {
  static_assert(N > 0, "a text field needs room for its terminator");

 public:
  static constexpr std::size_t kCapacity = N;
  static constexpr std::size_t kMaxLength = N - 1;

  FixedText() = default;
  explicit FixedText(std::string_view text) { Assign(text); }

  // Copies at most N - 1 bytes, stopping at an embedded zero byte; with a
  // lead-byte test, a cut ends at the last whole character.
  void Assign(std::string_view text, const LeadByteTest& isLeadByte = {}) {
    length_ = 0;
    data_[0] = '\0';
    cut_ = false;
    Append(text, isLeadByte);
  }
  void Append(std::string_view text, const LeadByteTest& isLeadByte = {}) {
    text = text.substr(0, std::min(text.find('\0'), text.size()));
    const std::size_t count = WholeCharacterLength(text, kMaxLength - length_, isLeadByte);
    if (count != 0) std::memcpy(data_ + length_, text.data(), count);
    length_ += count;
    data_[length_] = '\0';
    cut_ = cut_ || count < text.size();
  }
  void Clear() { Assign({}); }

  const char* c_str() const { return data_; }
  std::string_view view() const { return {data_, length_}; }
  std::string str() const { return std::string(view()); }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  // True when the last Assign, or an Append since, had to cut its text.
  bool WasCut() const { return cut_; }

  friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }
  friend bool operator!=(const FixedText& a, std::string_view b) { return !(a == b); }

 private:
  char data_[N] = {};
  std::size_t length_ = 0;
  bool cut_ = false;
};

}  // namespace zrt
