// Factories of the single adapters that make up the Windows platform. Each
// one may also be used on its own (the adapter tests do).
#pragma once

#include <memory>

#include "platform/port/platform.h"

namespace zrt::win32 {

std::unique_ptr<port::Registry> MakeRegistry();
std::unique_ptr<port::FileSystem> MakeFileSystem();
std::unique_ptr<port::Processes> MakeProcesses();
std::unique_ptr<port::PowerProfile> MakePowerProfile();
std::unique_ptr<port::XmlParser> MakeXmlParser();
std::unique_ptr<port::PostLibrary> MakePostLibrary();
std::unique_ptr<port::System> MakeSystem();

}  // namespace zrt::win32
