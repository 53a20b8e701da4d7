// Shared set-up for the job document tests: the document runs on the pugixml
// parser over files in a scratch folder, with a recording system and a file
// system that sizes host files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "jobdoc/job_document.h"
#include "platform/sim/xml_dom_pugi.h"
#include "support/host_file_system.h"
#include "support/recording_system.h"
#include "support/scratch_folder.h"

namespace zrt::test {

// The buffers the run passes to the two script-instance readers: scriptid,
// logonuser, category and fncname are shared by both, as in the run.
struct ScriptHeader {
  jobdoc::DocText instanceid, scriptid, templateid, category, fncname, logonuser, scriptver;
};

class JobDocumentFixture : public ::testing::Test {
 protected:
  std::unique_ptr<jobdoc::JobDocument> NewDocument() {
    return std::make_unique<jobdoc::JobDocument>(system_, files_, xml_);
  }

  // A document with its parser created and `xml` loaded.
  std::unique_ptr<jobdoc::JobDocument> Open(std::string_view xml) {
    auto document = NewDocument();
    EXPECT_TRUE(document->CreateParser(error_));
    EXPECT_TRUE(document->Load(folder_.Write("job.xml", xml), rootName_, error_)) << error_.c_str();
    return document;
  }

  bool Init(jobdoc::JobDocument& document) {
    return document.InitScriptInstance(header_.instanceid, header_.scriptid, header_.templateid,
                                       header_.category, header_.fncname, header_.logonuser);
  }
  bool ReadInstance(jobdoc::JobDocument& document) {
    return document.ReadScriptInstance(header_.scriptid, header_.scriptver, header_.category,
                                       header_.fncname, header_.logonuser, error_);
  }

  RecordingSystem system_;
  HostFileSystem files_;
  sim::PugiXmlParser xml_{[](const std::string& path) { return path; }};
  ScratchFolder folder_;
  jobdoc::DocText rootName_;
  jobdoc::DocText error_;
  ScriptHeader header_;
};

}  // namespace zrt::test
