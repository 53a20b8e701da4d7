// zrt-check.exe: tells an administrator on Windows what a job document will
// do, reading it through the platform's own XML parser as the program does.
// Output is UTF-8.
#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "check/document_check.h"
#include "check/render.h"
#include "platform/win32/win32_platform.h"

namespace {

// Straight to the standard handles: the C runtime's stdio would import
// functions Windows XP may lack.
void Write(DWORD handle, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The report's ANSI texts as UTF-8, through UTF-16.
std::string Utf8(std::string_view ansi) {
  const int size = static_cast<int>(ansi.size());
  const int wideSize = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), wideSize);
  const int utf8Size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(utf8Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), utf8Size, nullptr, nullptr);
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
    const std::string out =
        json ? zrt::check::RenderJson(report, Utf8) : zrt::check::RenderText(report, Utf8);
    Write(STD_OUTPUT_HANDLE, out);
    return report.ExitCode();
  } catch (...) {
    Write(STD_ERROR_HANDLE, "zrt-check: the platform could not be set up\n");
    return 2;
  }
}
