// Runs a piece of work in a child process, so that whatever it does (a
// fault, a call that never returns) ends only the child.
#pragma once

#include <functional>
#include <string>

namespace zrt::check {

// Runs `work` in a forked child and waits for it at most `timeoutSeconds`
// (then kills it). Empty when the child ended by itself; else how it ended:
// "died of signal 11 (Segmentation fault)", "did not end within 60 s",
// "ended with exit code 3". The child leaves through _exit, so nothing of
// the caller's is destroyed or flushed twice. A sim::MachineError in the
// child (the simulated machine is unusable) is thrown again here.
std::string RunInChild(const std::function<void()>& work, unsigned timeoutSeconds);

}  // namespace zrt::check
