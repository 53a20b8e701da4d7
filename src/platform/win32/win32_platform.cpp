#include "platform/win32/win32_platform.h"

#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {

std::unique_ptr<Win32Platform> Win32Platform::Create() { return std::make_unique<Win32Platform>(); }

Win32Platform::Win32Platform()
    : registry_(MakeRegistry()),
      files_(MakeFileSystem()),
      processes_(MakeProcesses()),
      power_(MakePowerProfile()),
      xml_(MakeXmlParser()),
      post_(MakePostLibrary()),
      system_(MakeSystem()),
      view_{*registry_, *files_, *processes_, *power_, *xml_, *post_, *system_} {}

Win32Platform::~Win32Platform() = default;

}  // namespace zrt::win32
