#include "platform/sim/sim_cached_json_file.h"

#include "platform/sim/sim_unique_fd.h"

namespace zrt::sim {
namespace {

long long Nanoseconds(const timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

// The clock the host stamps file changes with (its coarse real-time clock).
timespec FileClock() {
  timespec now = {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

// Whether any change after `lookedAt` gives a file modified at `modified` a
// later time. File systems that keep sub-second times stamp a change with
// the file clock's reading, which never goes back; those that keep whole
// seconds (the nanoseconds are 0) cut it to one or, FAT, to two seconds.
bool Settled(const timespec& modified, const timespec& lookedAt) {
  const long long step = modified.tv_nsec != 0 ? 0 : 2000000000LL;
  return Nanoseconds(modified) + step < Nanoseconds(lookedAt);
}

// A value's indented dump nested `spaces` deeper.
std::string Indented(const std::string& text, std::size_t spaces) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == '\n') out.append(spaces, ' ');
  }
  return out;
}

// Where an object's or a list's contents live; null for other values.
const void* Storage(const Json& value) {
  if (value.is_object()) return &value.get_ref<const Json::object_t&>();
  if (value.is_array()) return &value.get_ref<const Json::array_t&>();
  return nullptr;
}

}  // namespace

bool CachedJsonFile::Stamp::operator==(const Stamp& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && Nanoseconds(modified) == Nanoseconds(other.modified);
}

CachedJsonFile::Stamp CachedJsonFile::StampOf(const struct stat& status) {
  return {true, status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

CachedJsonFile::CachedJsonFile(std::filesystem::path file, Json fallback)
    : file_(std::move(file)), fallback_(std::move(fallback)) {}

const Json& CachedJsonFile::Read() {
  if (inMemory_ && lost_) throw MachineError(file_.string() + ": a change kept in memory was lost");
  if (kept_ && inMemory_) return content_;
  struct stat status = {};
  const Stamp now = ::stat(file_.c_str(), &status) == 0 ? StampOf(status) : Stamp{};
  if (!(kept_ && settled_ && now == stamp_)) Load();
  return content_;
}

void CachedJsonFile::Load() {
  const timespec lookedAt = FileClock();
  struct stat status = {};
  const UniqueFd in = OpenMachineFile(file_, status);
  if (!in) {
    content_ = fallback_;
    ++version_;
    bytes_.clear();
    Keep(Stamp{}, true);  // a file made at the path changes the stamp
    return;
  }
  const std::string_view text = ReadOpenFile(in, status, file_, buffer_);
  if (!kept_ || text != bytes_) {
    kept_ = false;
    bytes_ = text;
    content_ = ParseJsonText(bytes_, file_);
    ++version_;
  }
  Keep(StampOf(status), Settled(status.st_mtim, lookedAt));
}

void CachedJsonFile::Keep(Stamp stamp, bool settled) {
  stamp_ = stamp;
  settled_ = settled;
  kept_ = true;
}

void CachedJsonFile::Update(const std::function<void(Json&)>& change) {
  Read();
  try {
    ++version_;
    change(content_);
    unwritten_ = true;
    if (!inMemory_) Write();
  } catch (...) {
    Drop();
    throw;
  }
}

void CachedJsonFile::Flush() {
  if (!unwritten_) return;
  try {
    Write();
  } catch (...) {
    Drop();
    throw;
  }
}

void CachedJsonFile::Drop() {
  // Kept in memory, earlier changes are not on disk: reading the file again
  // would quietly undo them.
  lost_ = lost_ || unwritten_;
  kept_ = false;
  unwritten_ = false;
}

void CachedJsonFile::Write() {
  std::string text = Text();
  const timespec lookedAt = FileClock();
  const struct stat written = ReplaceFile(file_, text);
  bytes_ = std::move(text);
  Keep(StampOf(written), Settled(written.st_mtim, lookedAt));
  unwritten_ = false;
}

std::string CachedJsonFile::Text() {
  if (!content_.is_object() || content_.empty()) return JsonFileText(content_);
  std::unordered_map<const void*, WrittenEntry> kept;
  std::string text = "{";
  text.reserve(bytes_.size() + bytes_.size() / 8);
  const char* memberBreak = "\n  ";
  for (const auto& [name, value] : content_.items()) {
    text.append(memberBreak).append(Json(name).dump()).append(": ");
    memberBreak = ",\n  ";
    if (!value.is_array() || value.empty()) {
      text += Indented(value.dump(2), 2);
      continue;
    }
    const char* entryBreak = "[\n    ";
    for (const Json& entry : value) {
      text += entryBreak;
      entryBreak = ",\n    ";
      const void* storage = Storage(entry);
      if (storage == nullptr) {
        text += entry.dump();
        continue;
      }
      auto written = written_.find(storage);
      if (written == written_.end() || written->second.entry != entry) {
        written =
            written_.insert_or_assign(storage, WrittenEntry{entry, Indented(entry.dump(2), 4)})
                .first;
      }
      text += written->second.text;
      kept.insert(written_.extract(written));
    }
    text += "\n  ]";
  }
  written_ = std::move(kept);
  return text + "\n}\n";
}

}  // namespace zrt::sim
