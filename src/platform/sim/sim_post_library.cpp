#include "platform/sim/sim_post_library.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

constexpr port::ErrorCode kBadExeFormat = 193;
constexpr const char* kEntryPoint = "WebPostData";

// A result variant from an answer member: a text is a BSTR, any other JSON
// value a variant of another type, a missing member or null stays empty.
port::VariantResult Variant(const Json& answer, const char* name) {
  port::VariantResult variant;
  const Json* value = Member(answer, name);
  if (value == nullptr) return variant;
  if (value->is_string()) {
    variant.kind = port::VariantResult::Kind::Text;
    variant.text = Utf8ToUtf16(value->get<std::string>());
  } else {
    variant.kind = port::VariantResult::Kind::Other;
  }
  return variant;
}

bool Exports(const Json& description, const std::string& name) {
  const Json* exports = Member(description, "exports");
  if (exports == nullptr) return name == kEntryPoint;  // the usual library
  if (!exports->is_array()) return false;
  for (const Json& entry : *exports) {
    if (entry.is_string() && entry.get<std::string>() == name) return true;  // exact, as Windows
  }
  return false;
}

// The number of posts the record file holds, one a line.
std::size_t RecordedPosts(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return static_cast<std::size_t>(
      std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

}  // namespace

bool SimPostLibrary::LoadLibraryA(const char* path) {
  const std::string windowsPath = machine_.Ansi().ToUtf8(path ? path : "");
  const auto resolved = machine_.Paths().Resolve(windowsPath);
  if (resolved) machine_.RecordOpen(resolved->host);
  std::error_code ec;
  if (!resolved || !std::filesystem::is_regular_file(resolved->host, ec)) {
    machine_.SetLastError(port::err::kModNotFound);
    return false;
  }
  std::ifstream in(resolved->host, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  Json description = Json::parse(text.str(), nullptr, false);
  if (!in || description.is_discarded() || !description.is_object()) {
    machine_.SetLastError(kBadExeFormat);
    return false;
  }
  library_ = Library{windowsPath, std::move(description)};
  entryPointFound_ = false;
  return true;
}

bool SimPostLibrary::GetProcAddress(const char* name) {
  if (!library_) {
    machine_.SetLastError(port::err::kInvalidHandle);
    return false;
  }
  if (name == nullptr || !Exports(library_->description, name)) {
    machine_.SetLastError(port::err::kProcNotFound);
    return false;
  }
  entryPointFound_ = entryPointFound_ || std::string(name) == kEntryPoint;
  return true;
}

port::CallOutcome SimPostLibrary::WebPostData(const std::array<port::WideText, 7>& texts,
                                              port::WebPostResults& results,
                                              std::uint32_t boundMs) {
  results = port::WebPostResults{};
  if (!library_ || !entryPointFound_) {
    throw std::logic_error("WebPostData called without its entry point");
  }
  // The answer follows the posts the machine has recorded, whichever run
  // made them, as a server's answers go on from one job to the next; the
  // count and the record are one step under the machine's lock.
  std::optional<SimMachine::Lock> counting;
  counting.emplace(machine_);
  const std::size_t number = RecordedPosts(machine_.File(machine_file::kPosts)) + 1;
  Json answer = Json::object({{"result", "1"}});
  const Json* answers = Member(library_->description, "answers");
  if (answers != nullptr && answers->is_array() && !answers->empty()) {
    answer = (*answers)[std::min(number, answers->size()) - 1];
  }
  const auto says = [&answer](const char* what) {
    return answer.is_object() && BoolMember(answer, what, false, "zCourier.dll");
  };
  const bool raises = says("raises");
  const bool crashes = says("crashes");
  const bool hangs = says("hangs");
  const char* outcome = crashes ? "crashed" : hangs ? "hung" : raises ? "raised" : "returned";

  Json record = Json::object();
  record["library"] = library_->path;
  record["call"] = number;
  Json textList = Json::array();
  for (const port::WideText& text : texts) textList.push_back(Utf16ToUtf8(text));
  record["texts"] = std::move(textList);
  record["answer"] = answer;
  record["outcome"] = outcome;
  machine_.AppendRecord(machine_file::kPosts, record.dump() + "\n");
  counting.reset();
  // The library may end the process (a fault): what the machine keeps in
  // memory is on disk before it runs.
  machine_.Flush();

  if (hangs && !crashes && machine_.SimulatedTime()) {
    // The whole bound passes on the machine's clock, and the call is
    // abandoned as on a real one.
    machine_.PassTime(boundMs);
    return port::CallOutcome::TimedOut;
  }

  // The library runs on a thread of its own; the caller waits for it at
  // most `boundMs`. The thread shares nothing with the caller but `call`.
  struct Call {
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;
    port::CallOutcome outcome = port::CallOutcome::Returned;
    port::WebPostResults results;
  };
  auto call = std::make_shared<Call>();
  std::thread worker([call, answer, crashes, hangs, raises] {
    if (crashes) {
      // A processor fault inside the library: nothing in the program catches
      // it, and the process ends at once, as the default action of SIGSEGV.
      std::signal(SIGSEGV, SIG_DFL);
      std::raise(SIGSEGV);
    }
    while (hangs) ::pause();  // NOLINT(bugprone-infinite-loop): a call that never returns

    port::WebPostResults answered;
    if (!raises) {
      answered.result = Variant(answer, "result");
      answered.error = Variant(answer, "error");
      answered.further = Variant(answer, "further");
    }
    const std::lock_guard<std::mutex> lock(call->mutex);
    call->outcome = raises ? port::CallOutcome::Raised : port::CallOutcome::Returned;
    call->results = std::move(answered);
    call->finished = true;
    call->ended.notify_all();
  });

  std::unique_lock<std::mutex> lock(call->mutex);
  if (!call->ended.wait_for(lock, std::chrono::milliseconds(boundMs),
                            [&call] { return call->finished; })) {
    lock.unlock();
    worker.detach();  // left to itself: it may never end
    return port::CallOutcome::TimedOut;
  }
  lock.unlock();
  worker.join();
  results = std::move(call->results);
  return call->outcome;
}

}  // namespace zrt::sim
