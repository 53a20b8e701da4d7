// The copy of a simulated machine a rehearsal runs on.
#pragma once

#include <filesystem>

namespace zrt::check {

// The machine folder `entry` stands for: the folder itself, or a capture
// bundle (a file) unpacked into `scratch`/machine-bundle. Throws
// sim::MachineError for a file that is no capture bundle, or that cannot be
// read.
std::filesystem::path MachineFolder(const std::filesystem::path& entry,
                                    const std::filesystem::path& scratch);

// Copies the machine folder `machine` to `copy` (which must not exist), so
// the run cannot reach the original's files. Every file of the copy is the
// caller's to write, whatever the original's modes. Throws
// sim::MachineError, naming what could not be copied, for a folder that is
// no machine, a drive outside the folder (which the copy would not hold), a
// special file (a FIFO, a device), a link loop or a file that cannot be
// read.
void CopyMachine(const std::filesystem::path& machine, const std::filesystem::path& copy);

}  // namespace zrt::check
