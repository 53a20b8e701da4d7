// Fuzzes the job-document reader with any file: loading, the script header
// and the whole step walk must stay within their fields and never crash.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "jobdoc/job_document.h"
#include "platform/sim/xml_dom_pugi.h"
#include "support/host_file_system.h"
#include "support/recording_system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = (std::filesystem::temp_directory_path() /
                                   ("zrt-fuzz-doc-" + std::to_string(getpid()) + ".xml"))
                                      .string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  zrt::test::RecordingSystem system;
  zrt::test::HostFileSystem files;
  zrt::sim::PugiXmlParser xml([](const std::string& p) { return p; });
  zrt::jobdoc::JobDocument document(system, files, xml);
  zrt::jobdoc::DocText error, root, a, b, c, d, e, f;
  if (!document.CreateParser(error) || !document.Load(path, root, error)) return 0;
  document.InitScriptInstance(a, b, c, d, e, f);
  document.ReadScriptInstance(a, b, c, d, e, error);
  zrt::jobdoc::PowerRequest request;
  for (int steps = 0; steps < 10000 && document.ReadNextStep(request, error); ++steps) {
  }
  return 0;
}
