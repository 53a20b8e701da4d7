// zrt-check.exe: tells an administrator on Windows what a job document will
// do, reading it through the platform's own XML parser as the program does.
// Output is UTF-8.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "check/document_check.h"
#include "check/render.h"
#include "platform/win32/win32_platform.h"

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
    std::fprintf(stderr, "usage: zrt-check.exe JOB.xml [--json]\n");
    return 2;
  }
  try {
    auto platform = zrt::win32::Win32Platform::Create();
    zrt::port::System& system = platform->platform().system;
    const zrt::check::Report report =
        zrt::check::CheckDocument(platform->platform(), document, document);
    const auto utf8 = [&system](std::string_view ansi) {
      return zrt::check::AnsiToUtf8(system, ansi);
    };
    const std::string out =
        json ? zrt::check::RenderJson(report, utf8) : zrt::check::RenderText(report, utf8);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return report.ExitCode();
  } catch (...) {
    std::fprintf(stderr, "zrt-check: the platform could not be set up\n");
    return 2;
  }
}
