// Fuzzes the job-document reader over the Linux DOM with any file: loading,
// the script header and the walk of every step into a power request must
// stay within their fields and never crash, and the walk must end.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "jobdoc/job_document.h"
#include "platform/sim/xml_dom_pugi.h"
#include "support/host_file_system.h"
#include "support/recording_system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = (zrt::fuzz::ScratchFolder() / "job.xml").string();
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
  // A step needs at least an element of its own: no input this size holds
  // more steps than bytes.
  std::size_t steps = 0;
  while (document.ReadNextStep(request, error)) {
    if (++steps > size) std::abort();
  }
  return 0;
}
