// The XML DOM adapter over Wine's MSXML: the operations the job document
// uses, and the refusal of DTDs.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_adapters.h"
#include "wine_test_support.h"

namespace zrt::win32 {
namespace {

using wine_test::ScratchFolder;
using wine_test::WriteFileBytes;

constexpr const char* kJob =
    "<?xml version=\"1.0\"?>\n"
    "<job>\n"
    "  <scriptinstance scriptid=\"42\" fncname=\"Power Management\">\n"
    "    <scriptid>  42 </scriptid>\n"
    "    <logonuser>al<!-- note -->ice<b>  smith</b></logonuser>\n"
    "    <x:step xmlns:x=\"urn:zrt\"><action>Create Scheme</action></x:step>\n"
    "  </scriptinstance>\n"
    "  <group><step><action>Delete Scheme</action></step></group>\n"
    "</job>\n";

port::WideText Wide(const char* text) {
  port::WideText wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<char16_t>(*text));
  return wide;
}

class XmlAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port::Succeeded(parser_->CoInitialize()));
    ASSERT_EQ(parser_->CreateDocument(document_), port::kS_OK);
    ASSERT_NE(document_, nullptr);
  }
  void TearDown() override {
    document_.reset();  // every COM object goes before COM does
    parser_->CoUninitialize();
  }

  port::HResult Load(const char* name, const std::string& content) {
    WriteFileBytes(folder_.File(name), content);
    return document_->load(Wide(folder_.File(name).c_str()));
  }

  std::unique_ptr<port::XmlNode> Root() {
    std::unique_ptr<port::XmlNode> root;
    EXPECT_EQ(document_->get_documentElement(root), port::kS_OK);
    return root;
  }

  static std::int32_t Length(port::XmlNodeList& list) {
    std::int32_t length = -1;
    EXPECT_EQ(list.get_length(length), port::kS_OK);
    return length;
  }

  static port::WideText Text(port::XmlNode& node) {
    port::WideText text;
    EXPECT_EQ(node.get_text(text), port::kS_OK);
    return text;
  }

  static port::WideText BaseName(port::XmlNode& node) {
    port::WideText name;
    node.get_baseName(name);
    return name;
  }

  ScratchFolder folder_{"zrt-xml"};
  std::unique_ptr<port::XmlParser> parser_ = MakeXmlParser();
  std::unique_ptr<port::XmlDocument> document_;
};

TEST_F(XmlAdapterTest, LoadsTheJobAndFindsScriptInstancesAndSteps) {
  ASSERT_EQ(Load("job.xml", kJob), port::kS_OK);
  auto root = Root();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(BaseName(*root), u"job");

  std::unique_ptr<port::XmlNodeList> instances;
  ASSERT_EQ(root->getElementsByTagName(u"scriptinstance", instances), port::kS_OK);
  EXPECT_EQ(Length(*instances), 1);

  std::unique_ptr<port::XmlNodeList> steps;
  ASSERT_EQ(root->selectNodes(u"//step", steps), port::kS_OK);
  ASSERT_EQ(Length(*steps), 1);  // the prefixed x:step is not "step"
  std::unique_ptr<port::XmlNode> step;
  ASSERT_EQ(steps->get_item(0, step), port::kS_OK);
  EXPECT_EQ(Text(*step), u"Delete Scheme");

  std::unique_ptr<port::XmlNode> none;
  EXPECT_EQ(steps->get_item(1, none), port::kS_FALSE);
  EXPECT_EQ(none, nullptr);
}

TEST_F(XmlAdapterTest, ChildNodesLeaveOutWhiteSpaceAndTextIsTrimmedAndJoined) {
  ASSERT_EQ(Load("job.xml", kJob), port::kS_OK);
  auto root = Root();
  std::unique_ptr<port::XmlNodeList> instances;
  ASSERT_EQ(root->getElementsByTagName(u"scriptinstance", instances), port::kS_OK);
  std::unique_ptr<port::XmlNode> instance;
  ASSERT_EQ(instances->get_item(0, instance), port::kS_OK);

  std::unique_ptr<port::XmlNodeList> children;
  ASSERT_EQ(instance->get_childNodes(children), port::kS_OK);
  ASSERT_EQ(Length(*children), 3);

  std::unique_ptr<port::XmlNode> child;
  std::vector<port::WideText> names;
  std::vector<port::WideText> texts;
  while (children->nextNode(child) == port::kS_OK && child != nullptr) {
    names.push_back(BaseName(*child));
    texts.push_back(Text(*child));
  }
  EXPECT_EQ(children->nextNode(child), port::kS_FALSE);
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(names, (std::vector<port::WideText>{u"scriptid", u"logonuser", u"step"}));
  // The prefix is dropped from the base name; comments do not count as text.
  EXPECT_EQ(texts[0], u"42");
  EXPECT_EQ(texts[1], u"alice  smith");
  EXPECT_EQ(texts[2], u"Create Scheme");

  port::WideText typed;
  ASSERT_EQ(instances->get_item(0, instance), port::kS_OK);
  std::unique_ptr<port::XmlNodeList> again;
  ASSERT_EQ(instance->get_childNodes(again), port::kS_OK);
  ASSERT_EQ(again->get_item(0, child), port::kS_OK);
  EXPECT_EQ(child->get_nodeTypedValue(typed), port::kS_OK);
  EXPECT_EQ(typed, u"42");  // an untyped element: its text
}

TEST_F(XmlAdapterTest, AttributesReadLikeAListAndTextNodesHaveNone) {
  ASSERT_EQ(Load("job.xml", kJob), port::kS_OK);
  auto root = Root();
  std::unique_ptr<port::XmlNodeList> instances;
  ASSERT_EQ(root->getElementsByTagName(u"scriptinstance", instances), port::kS_OK);
  std::unique_ptr<port::XmlNode> instance;
  ASSERT_EQ(instances->get_item(0, instance), port::kS_OK);

  std::unique_ptr<port::XmlNodeList> attributes;
  ASSERT_EQ(instance->get_attributes(attributes), port::kS_OK);
  ASSERT_EQ(Length(*attributes), 2);
  std::unique_ptr<port::XmlNode> attribute;
  ASSERT_EQ(attributes->get_item(1, attribute), port::kS_OK);
  EXPECT_EQ(BaseName(*attribute), u"fncname");
  EXPECT_EQ(Text(*attribute), u"Power Management");

  // A text node: no base name, no attributes.
  std::unique_ptr<port::XmlNodeList> children;
  std::unique_ptr<port::XmlNode> scriptid;
  ASSERT_EQ(instance->get_childNodes(children), port::kS_OK);
  ASSERT_EQ(children->get_item(0, scriptid), port::kS_OK);
  std::unique_ptr<port::XmlNodeList> textNodes;
  ASSERT_EQ(scriptid->get_childNodes(textNodes), port::kS_OK);
  std::unique_ptr<port::XmlNode> text;
  ASSERT_EQ(textNodes->get_item(0, text), port::kS_OK);
  port::WideText name = u"unchanged";
  EXPECT_EQ(text->get_baseName(name), port::kS_FALSE);
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(Text(*text), u"42");
  std::unique_ptr<port::XmlNodeList> none;
  EXPECT_EQ(text->get_attributes(none), port::kS_FALSE);
  EXPECT_EQ(none, nullptr);
  EXPECT_FALSE(port::Succeeded(text->getElementsByTagName(u"x", none)));
}

TEST_F(XmlAdapterTest, MissingAndMalformedFilesFailToLoad) {
  EXPECT_EQ(document_->load(Wide(folder_.File("missing.xml").c_str())), port::kS_FALSE);
  EXPECT_EQ(Load("bad.xml", "<job><step></job>"), port::kS_FALSE);
  EXPECT_EQ(Load("empty.xml", ""), port::kS_FALSE);
  std::unique_ptr<port::XmlNode> root;
  EXPECT_EQ(document_->get_documentElement(root), port::kS_FALSE);
  EXPECT_EQ(root, nullptr);
}

TEST_F(XmlAdapterTest, NodeTypesAndTheNestingLimit) {
  ASSERT_EQ(Load("types.xml", "<job><e/>t<!--c--><?pi d?><![CDATA[x]]></job>"), port::kS_OK);
  std::unique_ptr<port::XmlNodeList> children;
  ASSERT_EQ(Root()->get_childNodes(children), port::kS_OK);
  std::vector<port::XmlNodeType> types;
  std::unique_ptr<port::XmlNode> child;
  while (children->nextNode(child) == port::kS_OK && child != nullptr) {
    port::XmlNodeType type{};
    EXPECT_EQ(child->get_nodeType(type), port::kS_OK);
    types.push_back(type);
  }
  using T = port::XmlNodeType;
  EXPECT_EQ(types,
            (std::vector<T>{T::Element, T::Text, T::Comment, T::ProcessingInstruction, T::CData}));

  // Elements nest at most 256 deep, whatever limit the parser has itself.
  const auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<d>t", close += "</d>";
    return open + close;
  };
  EXPECT_EQ(Load("deep.xml", nested(256)), port::kS_OK);
  EXPECT_EQ(Load("deeper.xml", nested(257)), port::kS_FALSE);
}

TEST_F(XmlAdapterTest, DocumentsWithADtdAreRefusedAndLeaveNothingLoaded) {
  WriteFileBytes(folder_.File("secret.txt"), "secret");
  const std::string external = std::string(
                                   "<?xml version=\"1.0\"?>\n"
                                   "<!DOCTYPE job [<!ENTITY s SYSTEM \"file:///") +
                               folder_.File("secret.txt") + "\">]>\n<job>&s;</job>\n";
  EXPECT_EQ(Load("external.xml", external), port::kS_FALSE);
  std::unique_ptr<port::XmlNode> root;
  EXPECT_NE(document_->get_documentElement(root), port::kS_OK);
  EXPECT_EQ(root, nullptr);

  const char* laughs =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE job [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>\n<job>&c;</job>\n";
  EXPECT_EQ(Load("laughs.xml", laughs), port::kS_FALSE);

  const char* plain = "<!DOCTYPE job>\n<job/>\n";
  EXPECT_EQ(Load("plain.xml", plain), port::kS_FALSE);

  // A document without a DTD still loads afterwards.
  EXPECT_EQ(Load("job.xml", kJob), port::kS_OK);
}

TEST_F(XmlAdapterTest, AFailedCoInitializeIsNotUndone) {
  // A thread of its own, already in the multithreaded apartment: CoInitialize
  // then fails, and undoing it would end the thread's own initialisation.
  std::thread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const auto parser = MakeXmlParser();
    {
      port::ComApartment apartment(*parser);
      EXPECT_EQ(apartment.result(), static_cast<port::HResult>(RPC_E_CHANGED_MODE));
    }
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);  // still in force
    ::CoUninitialize();
    ::CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace zrt::win32
