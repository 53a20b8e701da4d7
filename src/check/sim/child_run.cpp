#include "check/sim/child_run.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

#include "check/sim/interruption.h"
#include "platform/sim/sim_json_file.h"
#include "platform/sim/sim_unique_fd.h"

namespace zrt::check {
namespace {

// Waits for `pid` at most until `deadline`; true when it ended (`status`
// set). A process descriptor lets the wait sleep; without one (an old
// kernel) the child is looked at now and then.
bool WaitUntil(pid_t pid, std::chrono::steady_clock::time_point deadline, int& status) {
  const sim::UniqueFd handle(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  for (;;) {
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) return true;
    if (ended < 0 && errno != EINTR) return true;  // not ours to wait for: nothing to tell
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || CaughtSignal() != 0) return false;
    const int slice = static_cast<int>(std::min<long long>(left.count(), 1000));
    if (handle) {
      pollfd wanted{handle.get(), POLLIN, 0};
      ::poll(&wanted, 1, slice);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, 5)));
    }
  }
}

// The exit code of a child that found the simulated machine unusable; its
// message comes through a pipe.
constexpr int kUnusable = 4;

// What the child wrote before it ended; the pipe is never waited on.
std::string Drained(int fd) {
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

}  // namespace

std::string RunInChild(const std::function<void()>& work, unsigned timeoutSeconds) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw sim::MachineError(std::string("cannot start a rehearsal: ") + std::strerror(errno));
  }
  const sim::UniqueFd reading(ends[0]);
  sim::UniqueFd writing(ends[1]);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw sim::MachineError(std::string("cannot start a rehearsal: ") + std::strerror(errno));
  }
  if (pid == 0) {
    int code = 0;
    try {
      work();
    } catch (const sim::MachineError& e) {
      // Within what the pipe holds unread, so the write never waits.
      const std::string_view why(e.what());
      (void)!::write(writing.get(), why.data(), std::min<std::size_t>(why.size(), PIPE_BUF));
      code = kUnusable;
    } catch (...) {
      code = 3;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  writing = sim::UniqueFd();
  int status = 0;
  const bool ended = WaitUntil(
      pid, std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds), status);
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ThrowIfInterrupted();  // the child is gone; what it did is not told
  if (!ended) return "did not end within " + std::to_string(timeoutSeconds) + " s";
  if (WIFSIGNALED(status)) {
    return "died of signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kUnusable) {
    throw sim::MachineError(Drained(reading.get()));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return "ended with exit code " + std::to_string(WEXITSTATUS(status));
  }
  return "";
}

}  // namespace zrt::check
