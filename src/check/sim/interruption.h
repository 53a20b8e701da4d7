// Ctrl-C, a hang-up, a request to terminate or a reader gone, caught so that zrt-check ends
// through its destructors (its scratch folders, an unfinished page) and then
// as the signal asks.
#pragma once

namespace zrt::check {

// Not a std::exception: nothing that turns a machine's failure into an
// outcome may take it for one.
struct Interrupted {
  int signal;
};

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE (a reader gone) from here on; a wait they break ends
// early, so a caller looks again.
void CatchInterruptions();
// The signal that came, or 0.
int CaughtSignal();
// Throws Interrupted when one of them has come.
void ThrowIfInterrupted();
// Ends the process by `signal`, as it would have ended without the catch.
[[noreturn]] void EndBy(int signal);

}  // namespace zrt::check
