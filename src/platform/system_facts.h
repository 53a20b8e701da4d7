// Small facts about the machine shared by every part of the program.
#pragma once

#include <string>

#include "platform/fixed_text.h"
#include "platform/port/file_system.h"
#include "platform/port/system.h"

namespace zrt {

// The Windows major version is above 5 (Vista and later).
bool IsVistaOrLater(port::System& system);

// A "Program Files (x86)" folder stands at the root of the Windows drive;
// false when the Windows folder cannot be had.
bool IsSixtyFourBitMachine(port::FileSystem& files);

// The path names an existing file or folder (or a pattern matches one).
bool FileExists(port::FileSystem& files, const std::string& path);

// Creates the folder and its missing parents; every failure is ignored.
// `isLeadByte` tells the double-byte characters of the path's code page.
int CreateDirectoryPath(port::FileSystem& files, const std::string& path,
                        const LeadByteTest& isLeadByte = {});

// The system's message text for an error code, as the system gives it.
std::string SystemErrorText(port::System& system, port::ErrorCode code);

}  // namespace zrt
