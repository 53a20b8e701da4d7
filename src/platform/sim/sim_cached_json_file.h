// A JSON file of the simulated machine kept parsed between calls, for files
// read at every call (power.json): it is read and parsed again only when it
// has changed on disk, so a file changed behind the machine's back is still
// seen.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/sim/sim_json_file.h"

namespace zrt::sim {

class CachedJsonFile {
 public:
  CachedJsonFile(std::filesystem::path file, Json fallback);

  // The file's contents, or the fallback while the file is missing; valid
  // until the next call. Throws MachineError when the file cannot be read
  // or parsed.
  const Json& Read();
  // Changes the contents and writes them back at once, as WriteJsonFile
  // does (kept in memory: see KeepInMemory). When `change` or the write
  // throws, the kept contents are dropped; kept in memory, every later call
  // then throws, as changes not yet written are lost.
  void Update(const std::function<void(Json&)>& change);
  // Changes whenever the contents Read gives change.
  std::uint64_t Version() const { return version_; }

  // For a file no other process uses: from now on, Read trusts the kept
  // contents without looking at the file, and Update keeps its change in
  // memory until Flush writes it back.
  void KeepInMemory() { inMemory_ = true; }
  // Writes back a change Update kept in memory. Throws MachineError when
  // the file cannot be written.
  void Flush();

 private:
  // Which file the host has at the path, its size and modification time:
  // a change of the file changes one of them, except a change within the
  // step of the file system's clock (see Settled).
  struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {};
    bool operator==(const Stamp& other) const;
  };
  static Stamp StampOf(const struct stat& status);

  void Load();
  void Keep(Stamp stamp, bool settled);
  void Write();
  // Forgets the kept contents after a change or a write that failed.
  void Drop();
  // The text JsonFileText gives the contents. The entries of the lists at
  // the top of the contents (the power schemes) that are as they were at
  // the last write keep the text they had: a change takes the time of the
  // entries it changed, not of the whole file.
  std::string Text();

  std::filesystem::path file_;
  Json fallback_;
  bool kept_ = false;
  Json content_;
  std::uint64_t version_ = 0;
  std::string bytes_;   // the file's text as last read or written
  std::string buffer_;  // what a read is read into
  Stamp stamp_;
  // The file's time lies so far before the moment its bytes were last seen
  // that any later change gives it a later time: the stamp alone tells a
  // change. Until then every Read compares the bytes.
  bool settled_ = false;
  bool inMemory_ = false;
  bool unwritten_ = false;  // the contents hold a change not yet written
  bool lost_ = false;       // a change kept in memory could not be kept
  // Each such entry as last written, by where its contents live (which
  // stays while the entry moves within its list).
  struct WrittenEntry {
    Json entry;
    std::string text;
  };
  std::unordered_map<const void*, WrittenEntry> written_;
};

}  // namespace zrt::sim
