// The real Windows platform: every port interface implemented with the
// system's own calls.
#pragma once

#include <memory>

#include "platform/port/platform.h"

namespace zrt::win32 {

class Win32Platform {
 public:
  // Builds the adapters. Nothing is called on the system yet.
  static std::unique_ptr<Win32Platform> Create();

  Win32Platform();
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // The port view handed to the core; valid as long as this object lives.
  port::Platform& platform() { return view_; }

 private:
  std::unique_ptr<port::Registry> registry_;
  std::unique_ptr<port::FileSystem> files_;
  std::unique_ptr<port::Processes> processes_;
  std::unique_ptr<port::PowerProfile> power_;
  std::unique_ptr<port::XmlParser> xml_;
  std::unique_ptr<port::PostLibrary> post_;
  std::unique_ptr<port::System> system_;
  port::Platform view_;
};

}  // namespace zrt::win32
