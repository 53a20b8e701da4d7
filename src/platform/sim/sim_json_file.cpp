#include "platform/sim/sim_json_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/sim/sim_crash_point.h"
#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {

UniqueFd OpenMachineFile(const std::filesystem::path& file, struct stat& status) {
  UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!in) {
    if (errno == ENOENT || errno == ENOTDIR) return in;
    throw MachineError("cannot read " + file.string() + ": " + std::strerror(errno));
  }
  if (::fstat(in.get(), &status) != 0) throw MachineError("cannot read " + file.string());
  if (S_ISDIR(status.st_mode)) throw MachineError(file.string() + " is a folder, not a file");
  if (!S_ISREG(status.st_mode)) {
    throw MachineError(file.string() + " is neither a file nor a folder");
  }
  return in;
}

std::string_view ReadOpenFile(const UniqueFd& in, const struct stat& status,
                              const std::filesystem::path& file, std::string& buffer) {
  const auto size = static_cast<std::size_t>(status.st_size);
  if (buffer.size() <= size) buffer.resize(size + 1);
  std::size_t length = 0;
  for (;;) {
    if (length == buffer.size()) buffer.resize(2 * buffer.size());
    const ssize_t count = ::read(in.get(), &buffer[length], buffer.size() - length);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw MachineError("cannot read " + file.string());
    if (count == 0) return std::string_view(buffer).substr(0, length);
    length += static_cast<std::size_t>(count);
  }
}

Json ReadJsonFile(const std::filesystem::path& file, const Json& fallback) {
  struct stat status = {};
  const UniqueFd in = OpenMachineFile(file, status);
  if (!in) return fallback;
  std::string buffer;
  return ParseJsonText(ReadOpenFile(in, status, file, buffer), file);
}

namespace {

// Whether lists and objects nest deeper than kDeepestNesting: the parser
// and the values it makes recurse once a level, and would run out of stack.
bool NestedTooDeep(std::string_view text) {
  int depth = 0;
  bool inText = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inText) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inText = false;
      }
    } else if (c == '"') {
      inText = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kDeepestNesting) return true;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return false;
}

}  // namespace

Json ParseJsonText(std::string_view text, const std::filesystem::path& file) {
  if (NestedTooDeep(text)) {
    throw MachineError(file.string() + " nests lists or objects deeper than " +
                       std::to_string(kDeepestNesting) + " levels");
  }
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    throw MachineError(file.string() + " is not valid JSON: " + e.what());
  }
}

void WriteJsonFile(const std::filesystem::path& file, const Json& content) {
  ReplaceFile(file, JsonFileText(content));
}

std::string JsonFileText(const Json& content) { return content.dump(2) + '\n'; }

struct stat ReplaceFile(const std::filesystem::path& file, std::string_view bytes) {
  CrashPoint("replace", file.string());
  // A name of this process's own: another process may be writing the file too.
  std::filesystem::path temporary = file;
  temporary += ".new" + std::to_string(::getpid());
  struct stat written = {};
  {
    UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    bool ok = static_cast<bool>(out);
    while (ok && !bytes.empty()) {
      const ssize_t count = ::write(out.get(), bytes.data(), bytes.size());
      if (count < 0 && errno == EINTR) continue;
      ok = count > 0;
      if (ok) bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    if (!ok || ::fstat(out.get(), &written) != 0) {
      throw MachineError("cannot write " + temporary.string());
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, file, ec);
  if (ec) throw MachineError("cannot replace " + file.string() + ": " + ec.message());
  return written;
}

bool AppendToFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

std::string StringMember(const Json& object, const char* name, const std::string& fallback,
                         const std::string& where) {
  const Json* value = Member(object, name);
  if (value == nullptr) return fallback;
  if (!value->is_string()) throw MachineError(where + ": \"" + name + "\" must be a text");
  return value->get<std::string>();
}

bool BoolMember(const Json& object, const char* name, bool fallback, const std::string& where) {
  const Json* value = Member(object, name);
  if (value == nullptr) return fallback;
  if (!value->is_boolean()) throw MachineError(where + ": \"" + name + "\" must be true or false");
  return value->get<bool>();
}

std::uint32_t Uint32Value(const Json& value, const std::string& where) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (n <= 0xFFFFFFFFull) return static_cast<std::uint32_t>(n);
  } else if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    if (n >= INT32_MIN && n <= 0xFFFFFFFFll) return static_cast<std::uint32_t>(n);
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    try {
      std::size_t used = 0;
      const unsigned long long n = std::stoull(text, &used, 0);
      if (used == text.size() && n <= 0xFFFFFFFFull) return static_cast<std::uint32_t>(n);
    } catch (const std::exception&) {
      // reported below
    }
  }
  throw MachineError(where + ": expected a 32-bit number, got " + value.dump());
}

std::uint32_t Uint32Member(const Json& object, const char* name, std::uint32_t fallback,
                           const std::string& where) {
  const Json* value = Member(object, name);
  if (value == nullptr) return fallback;
  return Uint32Value(*value, where + ": \"" + name + "\"");
}

}  // namespace zrt::sim
