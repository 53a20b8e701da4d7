// Reading and writing the JSON files of a simulated machine.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {

// Objects keep the order of their members, so files written back read like
// the files a person wrote.
using Json = nlohmann::ordered_json;

// The machine folder or one of its files cannot be used.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens a file of the machine to read it, and tells its host status; an
// empty handle when there is no such file. Throws MachineError naming the
// file when it cannot be opened or is no plain file: a FIFO would block its
// reader and a device never end.
UniqueFd OpenMachineFile(const std::filesystem::path& file, struct stat& status);
// What the open file holds, read into `buffer` (kept from read to read by a
// caller that reads often); `status` is what OpenMachineFile told.
std::string_view ReadOpenFile(const UniqueFd& in, const struct stat& status,
                              const std::filesystem::path& file, std::string& buffer);

// Reads a JSON file. A missing file gives `fallback`; a file that cannot be
// read or parsed throws MachineError naming the file.
Json ReadJsonFile(const std::filesystem::path& file, const Json& fallback);
// The JSON in the text of `file`; throws MachineError naming the file, also
// for a text nested deeper than any machine's file is (kDeepestNesting).
Json ParseJsonText(std::string_view text, const std::filesystem::path& file);
constexpr int kDeepestNesting = 512;

// Replaces a JSON file in one step (written beside it, then renamed), so a
// reader never sees half a file. Throws MachineError on failure.
void WriteJsonFile(const std::filesystem::path& file, const Json& content);
// The text WriteJsonFile writes.
std::string JsonFileText(const Json& content);
// Replaces a file by `bytes` in one step, as WriteJsonFile does; the host's
// status of the file written. Throws MachineError on failure.
struct stat ReplaceFile(const std::filesystem::path& file, std::string_view bytes);

// Appends bytes to a file, creating it when missing. False on failure.
bool AppendToFile(const std::filesystem::path& file, std::string_view bytes);

// Member access with the file named in the message when a member has the
// wrong type. `where` names the object, e.g. "machine.json: version".
const Json* Member(const Json& object, const char* name);
std::string StringMember(const Json& object, const char* name, const std::string& fallback,
                         const std::string& where);
bool BoolMember(const Json& object, const char* name, bool fallback, const std::string& where);
// Unsigned 32-bit number; negative numbers down to -2^31 are taken as their
// two's complement (so -1 is 0xFFFFFFFF). Texts "0x..." are read as hex.
std::uint32_t Uint32Value(const Json& value, const std::string& where);
std::uint32_t Uint32Member(const Json& object, const char* name, std::uint32_t fallback,
                           const std::string& where);

}  // namespace zrt::sim
