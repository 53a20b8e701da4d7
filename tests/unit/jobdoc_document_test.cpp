#include <filesystem>
#include <string>
#include <vector>

#include "support/job_document_fixture.h"

namespace zrt {
namespace {

using jobdoc::JobDocument;
using jobdoc::PowerRequest;
using Strings = std::vector<std::string>;

class JobDocumentTest : public test::JobDocumentFixture {};

TEST_F(JobDocumentTest, OwnsComForItsLifetime) {
  {
    JobDocument first(system_, files_, xml_);
    EXPECT_EQ(first.LastResult(), port::kS_OK);
    JobDocument second(system_, files_, xml_);
    EXPECT_EQ(second.LastResult(), port::kS_FALSE);  // already initialised
  }
  std::unique_ptr<port::XmlDocument> document;
  EXPECT_EQ(xml_.CreateDocument(document), sim::PugiXmlParser::kCoENotInitialized);
}

TEST_F(JobDocumentTest, ComThatCouldNotBeInitialisedIsLeftAlone) {
  // The thread is in another apartment already: CoInitialize fails with
  // RPC_E_CHANGED_MODE, and a CoUninitialize would end that apartment's use.
  static constexpr auto kChangedMode = static_cast<port::HResult>(0x80010106u);
  struct OtherApartment final : port::XmlParser {
    port::HResult CoInitialize() override { return kChangedMode; }
    void CoUninitialize() override { ++uninitialised; }
    port::HResult CreateDocument(std::unique_ptr<port::XmlDocument>& document) override {
      document.reset();
      return kChangedMode;
    }
    int uninitialised = 0;
  } parser;
  {
    JobDocument document(system_, files_, parser);
    EXPECT_EQ(document.LastResult(), kChangedMode);
  }
  EXPECT_EQ(parser.uninitialised, 0);
}

TEST_F(JobDocumentTest, ParserThatCannotBeCreated) {
  xml_.SetInstalled(false);
  auto document = NewDocument();
  EXPECT_FALSE(document->CreateParser(error_));
  EXPECT_EQ(error_, "Unable initialize xml, check the msxml.dll in windows folder");
  EXPECT_EQ(document->LastResult(), sim::PugiXmlParser::kRegdbEClassNotReg);
}

TEST_F(JobDocumentTest, LoadRefusals) {
  const std::string good = folder_.Write("good.xml", "<job/>");
  const auto refused = [&](JobDocument& document, const std::string& path) {
    error_.Assign("");
    return !document.Load(path, rootName_, error_) && error_ == "Unable Load inputfile";
  };
  auto withoutParser = NewDocument();
  EXPECT_TRUE(refused(*withoutParser, good));

  auto document = NewDocument();
  ASSERT_TRUE(document->CreateParser(error_));
  EXPECT_TRUE(refused(*document, folder_.PathOf("missing.xml")));
  EXPECT_TRUE(refused(*document, folder_.Write("bad.xml", "<job><step></job>")));
  EXPECT_TRUE(
      refused(*document, folder_.Write("dtd.xml", "<!DOCTYPE job [<!ENTITY e 'x'>]><job/>")));
  // An existing, valid file whose path is too long for the text fields.
  const auto deep =
      std::filesystem::path(folder_.PathOf(std::string(200, 'd'))) / std::string(200, 'e');
  std::filesystem::create_directories(deep);
  const std::string longPath = (deep / (std::string(120, 'f') + ".xml")).string();
  std::filesystem::copy_file(good, longPath);
  ASSERT_GT(longPath.size(), JobDocument::kMaxPathLength);
  EXPECT_TRUE(refused(*document, longPath));

  files_.reportedSize = JobDocument::kMaxDocumentSize + 1;  // refused before parsing
  EXPECT_TRUE(refused(*document, good));
  files_.reportedSize = JobDocument::kMaxDocumentSize;
  EXPECT_TRUE(document->Load(good, rootName_, error_));
}

TEST_F(JobDocumentTest, LoadHandsBackTheRootsLocalName) {
  auto document = Open("<p:jobs xmlns:p='urn:p'><step value='1'/></p:jobs>");
  EXPECT_EQ(rootName_, "jobs");
  auto longRoot = Open("<" + std::string(600, 'r') + "/>");
  EXPECT_EQ(rootName_.view(), std::string(511, 'r'));
}

TEST_F(JobDocumentTest, HeaderFromChildElementsThenAttributes) {
  auto document = Open(R"(<job>
    <scriptinstance scriptid="S-attr" ScriptID="ignored" scriptver="2" category="Cat"
                    fncname="Power Management">
      <instanceid>I1</instanceid><ScriptID>no</ScriptID><scriptid> S-child </scriptid>
      <templateid>T</templateid><agentcategory>AC</agentcategory>
      <agenttemplatename>ATN</agenttemplatename><logonuser>U</logonuser><other>o</other>
    </scriptinstance>
    <scriptinstance><instanceid>I2</instanceid></scriptinstance>
    <step value="1"/></job>)");
  EXPECT_TRUE(Init(*document));
  EXPECT_EQ(system_.debugOutput,
            (Strings{"InitScriptInstance()", "I1", "S-child", "T", "AC", "ATN", "U"}));
  EXPECT_EQ(header_.scriptid, "S-child");

  EXPECT_TRUE(ReadInstance(*document));
  EXPECT_EQ(header_.scriptid, "S-attr");  // "ScriptID" is not "scriptid"
  EXPECT_EQ(header_.scriptver, "2");
  EXPECT_EQ(header_.category, "Cat");
  EXPECT_EQ(header_.fncname, "Power Management");
  EXPECT_EQ(header_.logonuser, "U");  // no such attribute: the child's value stays
  EXPECT_EQ(header_.instanceid, "I1");
}

TEST_F(JobDocumentTest, NoScriptInstance) {
  header_.scriptid.Assign("kept");
  auto withSteps = Open("<job><step value='1'/></job>");
  EXPECT_TRUE(Init(*withSteps));
  EXPECT_EQ(header_.scriptid, "kept");
  EXPECT_EQ(system_.debugOutput, Strings{"InitScriptInstance()"});
  // The instance cursor counts steps, so a step without a script instance
  // makes the reader look for an element that is not there.
  EXPECT_FALSE(ReadInstance(*withSteps));
  EXPECT_EQ(error_, "input file content is not valid");

  error_.Assign("");
  auto empty = Open("<job/>");
  EXPECT_FALSE(ReadInstance(*empty));
  EXPECT_TRUE(error_.empty());
}

TEST_F(JobDocumentTest, RootNamedScriptInstanceIsNotOne) {
  auto document = Open("<scriptinstance scriptid='x'><step value='1'/></scriptinstance>");
  EXPECT_TRUE(Init(*document));
  EXPECT_TRUE(header_.scriptid.empty());
  EXPECT_FALSE(ReadInstance(*document));
  EXPECT_EQ(error_, "input file content is not valid");
  PowerRequest request;
  EXPECT_TRUE(document->ReadNextStep(request, error_));
}

TEST_F(JobDocumentTest, ScriptInstanceWithoutAttributes) {
  auto document = Open(
      "<job><scriptinstance><instanceid>1</instanceid></scriptinstance>"
      "<step value='1'/></job>");
  EXPECT_FALSE(ReadInstance(*document));
  EXPECT_EQ(error_, "Zero Attributes:- Node-scriptinstance");
}

TEST_F(JobDocumentTest, AttributesButNoChildrenLeaveEveryStepToWalk) {
  auto document = Open(
      "<job><scriptinstance scriptid='7' logonuser='me'/>"
      "<step value='a'/><x><step value='b'/></x><step value='c'/></job>");
  EXPECT_FALSE(ReadInstance(*document));
  EXPECT_TRUE(error_.empty());
  EXPECT_EQ(header_.scriptid, "7");
  EXPECT_EQ(header_.logonuser, "me");
  PowerRequest request;
  Strings values;
  while (document->ReadNextStep(request, error_)) values.push_back(request.value.str());
  EXPECT_EQ(values, (Strings{"a", "b", "c"}));
  EXPECT_TRUE(error_.empty());
}

TEST_F(JobDocumentTest, ChildCountBoundsTheStepWalk) {
  auto document = Open(
      "<job><scriptinstance scriptid='1'><step value='a'/><step value='b'/>"
      "<instanceid>9</instanceid></scriptinstance></job>");
  EXPECT_TRUE(ReadInstance(*document));
  PowerRequest request;
  EXPECT_TRUE(document->ReadNextStep(request, error_));
  EXPECT_TRUE(document->ReadNextStep(request, error_));
  EXPECT_FALSE(document->ReadNextStep(request, error_));
  EXPECT_EQ(error_, "input file content is not valid");
  // Past the last step, not at an unreadable one.
  EXPECT_EQ(document->StepsRead(), 2);
  EXPECT_EQ(document->StepCount(), 2);
  // The cursor stays: the next call fails the same way.
  error_.Assign("");
  EXPECT_FALSE(document->ReadNextStep(request, error_));
  EXPECT_EQ(error_, "input file content is not valid");
  // The instance cursor moved on: there is no second script instance.
  EXPECT_FALSE(ReadInstance(*document));
}

}  // namespace
}  // namespace zrt
