#include "platform/sim/xml_dom_pugi.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

namespace zrt {
namespace {

using port::HResult;
using port::kS_FALSE;
using port::kS_OK;
using port::WideText;
using port::XmlNode;
using port::XmlNodeList;
using sim::PugiXmlParser;

WideText Ascii(const std::string& text) { return WideText(text.begin(), text.end()); }

// A text property of a node; a missing node fails the test.
WideText Property(const std::unique_ptr<XmlNode>& node, HResult (XmlNode::*get)(WideText&)) {
  WideText value = u"<no node>";
  if (node == nullptr)
    ADD_FAILURE() << "no node";
  else
    EXPECT_EQ(((*node).*get)(value), kS_OK);
  return value;
}
WideText NameOf(const std::unique_ptr<XmlNode>& node) {
  return Property(node, &XmlNode::get_baseName);
}
WideText TextOf(const std::unique_ptr<XmlNode>& node) { return Property(node, &XmlNode::get_text); }

// The base names of a list's nodes, read by position.
std::vector<WideText> NamesOf(XmlNodeList& list) {
  std::int32_t length = -1;
  EXPECT_EQ(list.get_length(length), kS_OK);
  std::vector<WideText> names;
  for (std::int32_t i = 0; i < length; ++i) {
    std::unique_ptr<XmlNode> node;
    EXPECT_EQ(list.get_item(i, node), kS_OK);
    names.push_back(NameOf(node));
  }
  return names;
}

// The value of each listed element's first attribute, walking with nextNode.
std::vector<WideText> FirstAttributeValues(XmlNodeList& list) {
  std::vector<WideText> values;
  for (std::unique_ptr<XmlNode> node; list.nextNode(node) == kS_OK;) {
    std::unique_ptr<XmlNodeList> attributes;
    std::unique_ptr<XmlNode> first;
    EXPECT_EQ(node->get_attributes(attributes), kS_OK);
    EXPECT_EQ(attributes->get_item(0, first), kS_OK);
    values.push_back(TextOf(first));
  }
  return values;
}

class XmlDomPugiTest : public ::testing::Test {
 protected:
  XmlDomPugiTest() {
    parser_.CoInitialize();
    EXPECT_EQ(parser_.CreateDocument(document_), kS_OK);
  }
  ~XmlDomPugiTest() override {
    document_.reset();
    parser_.CoUninitialize();
  }

  HResult Load(std::string_view bytes) {
    return document_->load(Ascii(folder_.Write("d.xml", bytes)));
  }

  std::unique_ptr<XmlNode> LoadRoot(std::string_view bytes) {
    EXPECT_EQ(Load(bytes), kS_OK);
    std::unique_ptr<XmlNode> root;
    EXPECT_EQ(document_->get_documentElement(root), kS_OK);
    return root;
  }

  std::unique_ptr<XmlNodeList> Children(XmlNode& node) {
    std::unique_ptr<XmlNodeList> list;
    EXPECT_EQ(node.get_childNodes(list), kS_OK);
    return list;
  }

  test::ScratchFolder folder_;
  PugiXmlParser parser_{[](const std::string& path) { return path; }};
  std::unique_ptr<port::XmlDocument> document_;
};

TEST_F(XmlDomPugiTest, RefusesWhatThePlatformParserWouldNotLoadAndFilesItCannotRead) {
  const char* refused[] = {
      "<job><step></job>",                                 // mismatched tags
      "",                                                  // no root element
      "<!DOCTYPE job [<!ENTITY e \"x\">]><job>&e;</job>",  // internal subset
      "<!DOCTYPE job SYSTEM \"job.dtd\"><job/>",           // external subset
      "<job>&undefined;</job>",                            // unknown entity
      "<job a='&#0;'/>",                                   // illegal character reference
      "<job/><job/>",                                      // two roots
      "<job/>trailing text",                               // text outside the root
      "<job a='1' a='2'/>",                                // repeated attribute
      "<job a='<'/>",                                      // '<' in a value
      "<job>\xC3\x28</job>",                               // broken UTF-8
      "<job>\x01</job>",                                   // control character
      "<?xml version='1.0' encoding='KOI8-R'?><job/>",     // unsupported encoding
  };
  for (const char* bytes : refused) {
    SCOPED_TRACE(bytes);
    ASSERT_EQ(Load("<ok/>"), kS_OK);  // a failed load drops the earlier document
    EXPECT_EQ(Load(bytes), kS_FALSE);
    std::unique_ptr<XmlNode> root;
    EXPECT_EQ(document_->get_documentElement(root), kS_FALSE);
    EXPECT_EQ(root, nullptr);
  }

  // Elements nest at most 256 deep, as the Windows adapter allows.
  const auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<d>t", close += "</d>";
    return open + close;
  };
  EXPECT_EQ(Load(nested(256)), kS_OK);
  EXPECT_EQ(Load(nested(257)), kS_FALSE);

  // Missing files, folders and files over the size limit.
  EXPECT_EQ(document_->load(Ascii(folder_.PathOf("absent.xml"))), kS_FALSE);
  EXPECT_EQ(document_->load(Ascii(folder_.PathOf(""))), kS_FALSE);  // a folder
  const std::string huge = folder_.Write("huge.xml", "<job/>");
  std::filesystem::resize_file(huge, PugiXmlParser::kMaxDocumentBytes + 1);
  EXPECT_EQ(document_->load(Ascii(huge)), kS_FALSE);
}

TEST_F(XmlDomPugiTest, HandsTheWindowsPathToTheMapperAsUtf8) {
  const std::string file = folder_.Write("job.xml", "<job/>");
  PugiXmlParser parser([&](const std::string& windowsPath) {
    EXPECT_EQ(windowsPath, "C:\\Jobs\\r\xC3\xA9sum\xC3\xA9.xml");
    return file;
  });
  parser.CoInitialize();
  std::unique_ptr<port::XmlDocument> document;
  ASSERT_EQ(parser.CreateDocument(document), kS_OK);
  EXPECT_EQ(document->load(u"C:\\Jobs\\r\u00E9sum\u00E9.xml"), kS_OK);
}

TEST_F(XmlDomPugiTest, DecodesDeclaredEncodings) {
  // Windows-1252 and ISO-8859-1 both use the Windows table (0x80 is the
  // euro); the other ANSI code pages their own, whatever the machine's.
  const struct {
    const char* name;
    const char* bytes;
    std::u16string text;
  } declared[] = {{"windows-1252", "\x80 caf\xE9", u"\u20AC caf\u00E9"},
                  {"ISO-8859-1", "\x80 caf\xE9", u"\u20AC caf\u00E9"},
                  {"windows-1251", "\x80 caf\xE9", u"\u0402 caf\u0439"},
                  {"Shift_JIS", "\x95\x5C\x83\x41", u"\u8868\u30A2"}};
  for (const auto& [name, bytes, text] : declared) {
    auto root = LoadRoot(std::string("<?xml version='1.0' encoding='") + name + "'?><job>" + bytes +
                         "</job>");
    EXPECT_EQ(TextOf(root), text) << name;
  }
  // A UTF-8 byte-order mark wins over a single-byte declaration.
  auto marked =
      LoadRoot("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><job>\xC3\xA9</job>");
  EXPECT_EQ(TextOf(marked), u"\u00E9");

  std::string little = "\xFF\xFE";
  for (const char16_t unit :
       std::u16string(u"<?xml version='1.0' encoding='UTF-16'?><job>\u00E9\u20AC</job>")) {
    little += static_cast<char>(unit & 0xFF);
    little += static_cast<char>(unit >> 8);
  }
  EXPECT_EQ(TextOf(LoadRoot(little)), u"\u00E9\u20AC");
  EXPECT_EQ(TextOf(LoadRoot("<job>\xF0\x9F\x94\x8C</job>")), u"\U0001F50C");  // surrogate pair
}

TEST_F(XmlDomPugiTest, ChildNodesLeaveOutWhiteSpaceOnlyText) {
  auto root = LoadRoot(
      "<j:job xmlns:j='urn:j'>\n  <j:step/>\n  text <!-- note --> <?target data?>\n"
      "  <![CDATA[ ]]>\n</j:job>");
  EXPECT_EQ(NameOf(root), u"job");
  // Element, text, comment, processing instruction, CDATA; the names of
  // nameless nodes are empty.
  EXPECT_EQ(NamesOf(*Children(*root)), (std::vector<WideText>{u"step", u"", u"", u"target", u""}));
  using T = port::XmlNodeType;
  std::vector<T> types;
  std::unique_ptr<XmlNode> child;
  for (auto children = Children(*root); children->nextNode(child) == kS_OK;) {
    types.emplace_back();
    EXPECT_EQ(child->get_nodeType(types.back()), kS_OK);
  }
  EXPECT_EQ(types,
            (std::vector<T>{T::Element, T::Text, T::Comment, T::ProcessingInstruction, T::CData}));
  std::unique_ptr<XmlNode> comment;
  ASSERT_EQ(Children(*root)->get_item(2, comment), kS_OK);
  EXPECT_EQ(TextOf(comment), u"note");
}

TEST_F(XmlDomPugiTest, TextIsTrimmedDescendantTextAndCdata) {
  auto root = LoadRoot(
      "<job a=' spaced  '>\n  <x>one &amp; </x><!-- not text --><y><![CDATA[<two>]]></y>\n</job>");
  EXPECT_EQ(TextOf(root), u"one & <two>");
  WideText typed;
  EXPECT_EQ(root->get_nodeTypedValue(typed), kS_OK);
  EXPECT_EQ(typed, u"one & <two>");

  std::unique_ptr<XmlNodeList> attributes;
  ASSERT_EQ(root->get_attributes(attributes), kS_OK);
  std::unique_ptr<XmlNode> attribute;
  ASSERT_EQ(attributes->get_item(0, attribute), kS_OK);
  EXPECT_EQ(TextOf(attribute), u" spaced  ");  // an attribute keeps its value
}

TEST_F(XmlDomPugiTest, AttributesInDocumentOrderOnlyForElements) {
  auto root = LoadRoot("<job z='1' x:b='2' xmlns:x='urn:x' a='3'>text</job>");
  std::unique_ptr<XmlNodeList> attributes;
  ASSERT_EQ(root->get_attributes(attributes), kS_OK);
  EXPECT_EQ(NamesOf(*attributes), (std::vector<WideText>{u"z", u"b", u"x", u"a"}));

  std::unique_ptr<XmlNode> text;
  ASSERT_EQ(Children(*root)->get_item(0, text), kS_OK);
  EXPECT_EQ(text->get_attributes(attributes), kS_FALSE);
  EXPECT_EQ(attributes, nullptr);
}

TEST_F(XmlDomPugiTest, ElementsByTagNameAreDescendantsWithTheExactName) {
  auto root = LoadRoot(
      "<item n='0'><item n='1'><Item n='x'/><item n='2'/></item><p:item n='y'/><item n='3'/>"
      "</item>");
  std::unique_ptr<XmlNodeList> found;
  ASSERT_EQ(root->getElementsByTagName(u"item", found), kS_OK);
  EXPECT_EQ(FirstAttributeValues(*found), (std::vector<WideText>{u"1", u"2", u"3"}));
  ASSERT_EQ(root->getElementsByTagName(u"*", found), kS_OK);
  EXPECT_EQ(FirstAttributeValues(*found), (std::vector<WideText>{u"1", u"x", u"2", u"y", u"3"}));
}

TEST_F(XmlDomPugiTest, SelectNodesSearchesTheWholeDocumentInOrder) {
  auto root = LoadRoot("<job><step n='1'/><group><step n='2'><step n='3'/></step></group></job>");
  std::unique_ptr<XmlNode> group;
  ASSERT_EQ(Children(*root)->get_item(1, group), kS_OK);
  std::unique_ptr<XmlNodeList> steps;
  ASSERT_EQ(group->selectNodes(u"//step", steps), kS_OK);
  EXPECT_EQ(FirstAttributeValues(*steps), (std::vector<WideText>{u"1", u"2", u"3"}));

  EXPECT_LT(root->selectNodes(u"//[", steps), 0);
  EXPECT_EQ(steps, nullptr);
}

TEST_F(XmlDomPugiTest, ListCursorsAndBounds) {
  auto root = LoadRoot("<job><a/><b/></job>");
  auto list = Children(*root);
  auto other = Children(*root);
  std::unique_ptr<XmlNode> node;
  EXPECT_EQ(list->get_item(2, node), kS_FALSE);
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(list->get_item(-1, node), kS_FALSE);

  ASSERT_EQ(list->nextNode(node), kS_OK);
  EXPECT_EQ(NameOf(node), u"a");
  ASSERT_EQ(other->nextNode(node), kS_OK);  // each list has its own cursor
  EXPECT_EQ(NameOf(node), u"a");
  ASSERT_EQ(list->get_item(0, node), kS_OK);  // positional access leaves it alone
  ASSERT_EQ(list->nextNode(node), kS_OK);
  EXPECT_EQ(NameOf(node), u"b");
  EXPECT_EQ(list->nextNode(node), kS_FALSE);
  EXPECT_EQ(node, nullptr);
}

TEST_F(XmlDomPugiTest, NodesOutliveTheirDocumentObject) {
  auto root = LoadRoot("<job><step>kept</step></job>");
  document_.reset();
  std::unique_ptr<XmlNode> step;
  ASSERT_EQ(Children(*root)->get_item(0, step), kS_OK);
  EXPECT_EQ(TextOf(step), u"kept");
}

TEST(XmlDomPugiParserTest, DocumentsNeedComAndAnInstalledParser) {
  PugiXmlParser parser([](const std::string& path) { return path; });
  std::unique_ptr<port::XmlDocument> document;
  EXPECT_EQ(parser.CreateDocument(document), PugiXmlParser::kCoENotInitialized);
  EXPECT_EQ(parser.CoInitialize(), kS_OK);
  EXPECT_EQ(parser.CoInitialize(), kS_FALSE);
  parser.CoUninitialize();  // one initialisation is still in force
  EXPECT_EQ(parser.CreateDocument(document), kS_OK);
  parser.SetInstalled(false);
  EXPECT_EQ(parser.CreateDocument(document), PugiXmlParser::kRegdbEClassNotReg);
  EXPECT_EQ(document, nullptr);
}

}  // namespace
}  // namespace zrt
