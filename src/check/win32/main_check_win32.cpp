// zrt-check.exe: tells an administrator on Windows what a job document will
// do, reading it through the platform's own XML parser as the program does.
// Output is UTF-8.
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "check/document_check.h"
#include "check/render.h"
#include "platform/text_conversion.h"
#include "platform/win32/win32_platform.h"

namespace {

// Straight to the standard handles: the C runtime's stdio would import
// functions Windows XP may lack.
void Write(DWORD handle, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The report's ANSI texts as UTF-8, through UTF-16. The texts were made in
// the thread's ANSI code page, so they are read back with the program's own
// conversion, in that same code page.
std::string Utf8(zrt::port::System& system, std::string_view ansi) {
  zrt::port::WideText wide;
  if (!zrt::ToWide(system, ansi, wide) || wide.empty()) return {};
  const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
  const int wideSize = static_cast<int>(wide.size());
  const int utf8Size =
      WideCharToMultiByte(CP_UTF8, 0, units, wideSize, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(utf8Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, units, wideSize, utf8.data(), utf8Size, nullptr, nullptr);
  return utf8;
}

}  // namespace

int main(int argc, char** argv) {
  const char* document = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (argv[i][0] == '-' || document != nullptr) {
      document = nullptr;
      break;
    } else {
      document = argv[i];
    }
  }
  if (document == nullptr) {
    Write(STD_ERROR_HANDLE, "usage: zrt-check.exe JOB.xml [--json]\n");
    return 2;
  }
  try {
    auto platform = zrt::win32::Win32Platform::Create();
    const zrt::check::Report report =
        zrt::check::CheckDocument(platform->platform(), document, document);
    const auto utf8 = [&platform](std::string_view ansi) {
      return Utf8(platform->platform().system, ansi);
    };
    const std::string out =
        json ? zrt::check::RenderJson(report, utf8) : zrt::check::RenderText(report, utf8);
    Write(STD_OUTPUT_HANDLE, out);
    return report.ExitCode();
  } catch (...) {
    Write(STD_ERROR_HANDLE, "zrt-check: the platform could not be set up\n");
    return 2;
  }
}
