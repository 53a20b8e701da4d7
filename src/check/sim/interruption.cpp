#include "check/sim/interruption.h"

#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace zrt::check {
namespace {

volatile sig_atomic_t caught = 0;
pid_t catcher = 0;

// A child forked since (a rehearsal, the program) ends as it would have.
void Note(int signal) {
  if (::getpid() != catcher) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    return;
  }
  caught = signal;
}

}  // namespace

void CatchInterruptions() {
  catcher = ::getpid();
  struct sigaction action {};
  action.sa_handler = Note;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait ends, and the caller looks
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
}

int CaughtSignal() { return caught; }

void ThrowIfInterrupted() {
  if (caught != 0) throw Interrupted{caught};
}

void EndBy(int signal) {
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  ::_exit(128 + signal);
}

}  // namespace zrt::check
