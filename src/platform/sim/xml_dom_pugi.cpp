#include "platform/sim/xml_dom_pugi.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <pugixml.hpp>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/sim/sim_code_page.h"

namespace zrt::sim {
namespace {

using port::HResult;
using port::kE_FAIL;
using port::kE_OUTOFMEMORY;
using port::kS_FALSE;
using port::kS_OK;
using port::WideText;

// A parsed document, shared by every node and list taken from it so that
// they stay valid after the document object is released or reloaded.
using Tree = std::shared_ptr<const pugi::xml_document>;

// ---------------------------------------------------------------------------
// Characters and text forms

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsWhiteSpaceOnly(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsXmlSpace);
}

std::string_view TrimXmlSpace(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The characters XML 1.0 allows in a document.
bool IsXmlChar(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Well-formed UTF-8 of legal characters only. Every text of a loaded tree
// is, so the code page's conversions read it exactly.
bool IsSoundXmlText(std::string_view text) {
  for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
    std::uint32_t c = 0;
    length = DecodeUtf8(text, pos, c);
    if (length == 0 || !IsXmlChar(c)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Tree walks (iterative: document depth must not turn into stack depth)

// Visits every node below `root` (not `root` itself) in document order, with
// its depth below `root` (1 for `root`'s children) when `visit` takes it.
template <typename Visit>
void ForEachDescendant(pugi::xml_node root, Visit&& visit) {
  pugi::xml_node node = root.first_child();
  int depth = 1;
  while (node) {
    if constexpr (std::is_invocable_v<Visit, pugi::xml_node, int>) {
      visit(node, depth);
    } else {
      visit(node);
    }
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node != root && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (node == root) break;
    node = node.next_sibling();
  }
}

bool CountsAsText(pugi::xml_node node) {
  return node.type() == pugi::node_cdata ||
         (node.type() == pugi::node_pcdata && !IsWhiteSpaceOnly(node.value()));
}

bool CountsAsChild(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      return true;
    case pugi::node_pcdata:
      return !IsWhiteSpaceOnly(node.value());
    default:
      return false;
  }
}

std::string ElementText(pugi::xml_node element) {
  std::string text;
  ForEachDescendant(element, [&text](pugi::xml_node node) {
    if (CountsAsText(node)) text += node.value();
  });
  return std::string(TrimXmlSpace(text));
}

// The DOM's type of a pugixml node, by pugixml's node type (null, document,
// element, text, CDATA, comment, processing instruction, declaration,
// document type); the XML declaration is a processing instruction there.
port::XmlNodeType NodeTypeOf(pugi::xml_node_type type) {
  using T = port::XmlNodeType;
  constexpr T kTypes[] = {T::ProcessingInstruction,
                          T::Document,
                          T::Element,
                          T::Text,
                          T::CData,
                          T::Comment,  //
                          T::ProcessingInstruction,
                          T::ProcessingInstruction,
                          T::DocumentType};
  static_assert(pugi::node_doctype == 8 && pugi::node_element == 2 && pugi::node_pi == 6);
  return kTypes[type];
}

std::string_view LocalName(std::string_view qualified) {
  const std::size_t colon = qualified.find(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// ---------------------------------------------------------------------------
// Loading

// The encoding a document's declaration names: Unicode (told by pugixml from
// the bytes), an ANSI code page, or one the parser refuses.
struct DeclaredEncoding {
  enum Kind { Unicode, CodePage, Unsupported } kind;
  std::uint32_t codePage;
};

// Names of the ANSI code pages, with the subsets Windows decodes through
// them (ISO-8859-1, GB2312, EUC-KR, TIS-620).
constexpr std::pair<const char*, std::uint32_t> kCodePageNames[] = {
    {"windows-1252", 1252}, {"cp1252", 1252},       {"ISO-8859-1", 1252},    {"latin1", 1252},
    {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1253", 1253},  {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257},  {"windows-1258", 1258},
    {"windows-874", 874},   {"TIS-620", 874},       {"shift_jis", 932},      {"windows-31j", 932},
    {"gbk", 936},           {"gb2312", 936},        {"ks_c_5601-1987", 949}, {"euc-kr", 949},
    {"big5", 950}};

DeclaredEncoding DeclaredEncodingOf(const pugi::xml_document& tree) {
  const pugi::xml_node declaration = tree.first_child();
  if (declaration.type() != pugi::node_declaration) return {DeclaredEncoding::Unicode, 0};
  const std::string_view name = declaration.attribute("encoding").value();
  for (const char* unicode : {"", "UTF-8", "UTF-16", "US-ASCII"}) {
    if (EqualsIgnoringAsciiCase(name, unicode)) return {DeclaredEncoding::Unicode, 0};
  }
  for (const auto& [known, number] : kCodePageNames) {
    if (EqualsIgnoringAsciiCase(name, known)) return {DeclaredEncoding::CodePage, number};
  }
  if (name.size() > 2 && EqualsIgnoringAsciiCase(name.substr(0, 2), "cp")) {
    const std::string digits(name.substr(2));
    if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 4 &&
        AnsiCodePage::Known(static_cast<std::uint32_t>(std::stoul(digits)))) {
      return {DeclaredEncoding::CodePage, static_cast<std::uint32_t>(std::stoul(digits))};
    }
  }
  return {DeclaredEncoding::Unsupported, 0};
}

bool StartsWithUtf8Mark(std::string_view bytes) { return bytes.substr(0, 3) == "\xEF\xBB\xBF"; }

// True when every '&' in raw (unexpanded) text starts one of the predefined
// entity references or a character reference to a legal character.
bool HasOnlyKnownReferences(std::string_view raw) {
  for (std::size_t at = raw.find('&'); at != std::string_view::npos; at = raw.find('&', at + 1)) {
    const std::size_t end = raw.find(';', at);
    if (end == std::string_view::npos) return false;
    std::string_view name = raw.substr(at + 1, end - at - 1);
    if (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot") continue;
    if (name.size() < 2 || name[0] != '#') return false;
    name.remove_prefix(1);
    const bool hex = name[0] == 'x';
    if (hex) name.remove_prefix(1);
    if (name.empty()) return false;
    char32_t code = 0;
    for (const char c : name) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return false;
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
      if (code > 0x10FFFF) return false;
    }
    if (!IsXmlChar(code)) return false;
  }
  return true;
}

// Checks the tree parsed without reference expansion, as a fragment (so that
// text outside the root element is kept and can be refused).
bool IsSoundMarkup(const pugi::xml_document& raw) {
  int elements = 0;
  for (const pugi::xml_node top : raw.children()) {
    switch (top.type()) {
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_declaration:
        if (top != raw.first_child()) return false;
        break;
      case pugi::node_comment:
      case pugi::node_pi:
        break;
      case pugi::node_pcdata:
        if (!IsWhiteSpaceOnly(top.value())) return false;
        break;
      default:
        // A document type declaration (pugixml keeps one at this level
        // only) or CDATA outside the root element.
        return false;
    }
  }
  if (elements != 1) return false;

  bool sound = true;
  ForEachDescendant(raw, [&sound, &raw](pugi::xml_node node) {
    if (!sound) return;
    switch (node.type()) {
      case pugi::node_declaration:
        sound = node.parent() == raw;
        break;
      case pugi::node_pcdata:
        sound = HasOnlyKnownReferences(node.value());
        break;
      case pugi::node_element:
        for (const pugi::xml_attribute attribute : node.attributes()) {
          const std::string_view value = attribute.value();
          if (value.find('<') != std::string_view::npos || !HasOnlyKnownReferences(value)) {
            sound = false;
            break;
          }
        }
        break;
      default:
        break;
    }
  });
  return sound;
}

// Checks the final tree: legal characters everywhere, no repeated attribute,
// elements nested no deeper than the Windows parser accepts.
bool IsSoundContent(const pugi::xml_document& tree) {
  bool sound = true;
  std::vector<std::string_view> names;
  ForEachDescendant(tree, [&sound, &names](pugi::xml_node node, int depth) {
    if (!sound) return;
    sound = IsSoundXmlText(node.name()) && IsSoundXmlText(node.value());
    if (!sound || node.type() != pugi::node_element) return;
    if (depth > PugiXmlParser::kMaxElementDepth) {
      sound = false;
      return;
    }
    names.clear();
    for (const pugi::xml_attribute attribute : node.attributes()) {
      if (!IsSoundXmlText(attribute.name()) || !IsSoundXmlText(attribute.value())) {
        sound = false;
        return;
      }
      names.emplace_back(attribute.name());
    }
    std::sort(names.begin(), names.end());
    sound = std::adjacent_find(names.begin(), names.end()) == names.end();
  });
  return sound;
}

constexpr unsigned kMarkupCheckOptions =
    (pugi::parse_full | pugi::parse_fragment) & ~pugi::parse_escapes;
constexpr unsigned kDocumentOptions = pugi::parse_full;

// Parses `bytes` into `tree`; false for anything the platform parser would
// not load.
bool ParseDocument(const std::string& bytes, pugi::xml_document& tree) {
  pugi::xml_document raw;
  pugi::xml_parse_result parsed =
      raw.load_buffer(bytes.data(), bytes.size(), kMarkupCheckOptions, pugi::encoding_auto);
  if (!parsed) return false;

  const DeclaredEncoding declared = DeclaredEncodingOf(raw);
  if (declared.kind == DeclaredEncoding::Unsupported) return false;

  // pugixml has no decoder for the ANSI code pages and reads "ISO-8859-1"
  // as Latin-1: they are decoded here, unless a byte-order mark or the
  // UTF-16 and UTF-32 shapes already told the encoding.
  const bool singleByte =
      parsed.encoding == pugi::encoding_utf8 || parsed.encoding == pugi::encoding_latin1;
  if (declared.kind == DeclaredEncoding::CodePage && singleByte && !StartsWithUtf8Mark(bytes)) {
    const std::string text = AnsiCodePage(declared.codePage).ToUtf8(bytes);
    return raw.load_buffer(text.data(), text.size(), kMarkupCheckOptions, pugi::encoding_utf8) &&
           IsSoundMarkup(raw) &&
           tree.load_buffer(text.data(), text.size(), kDocumentOptions, pugi::encoding_utf8) &&
           IsSoundContent(tree);
  }
  return IsSoundMarkup(raw) &&
         tree.load_buffer(bytes.data(), bytes.size(), kDocumentOptions, parsed.encoding) &&
         IsSoundContent(tree);
}

bool ReadWholeFile(const std::string& hostPath, std::string& bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(hostPath, error)) return false;
  const std::uintmax_t size = std::filesystem::file_size(hostPath, error);
  if (error || size > PugiXmlParser::kMaxDocumentBytes) return false;
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) return false;
  bytes.resize(static_cast<std::size_t>(size));
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  return in.gcount() == static_cast<std::streamsize>(size);
}

// ---------------------------------------------------------------------------
// The DOM objects

// Runs a DOM operation; nothing thrown inside leaves the port.
template <typename Operation>
HResult Guarded(Operation&& operation) {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return kE_OUTOFMEMORY;
  } catch (...) {
    return kE_FAIL;
  }
}

HResult ToWideResult(std::string_view text, WideText& wide) {
  wide = Utf8ToUtf16(text);
  return kS_OK;
}

class PugiNode final : public port::XmlNode {
 public:
  PugiNode(Tree tree, pugi::xpath_node node) : tree_(std::move(tree)), node_(node) {}

  HResult get_nodeType(port::XmlNodeType& type) override {
    type = node_.attribute() ? port::XmlNodeType::Attribute : NodeTypeOf(node_.node().type());
    return kS_OK;
  }

  HResult get_baseName(WideText& name) override {
    name.clear();
    return Guarded([&] {
      if (node_.attribute()) return ToWideResult(LocalName(node_.attribute().name()), name);
      switch (node_.node().type()) {
        case pugi::node_element:
          return ToWideResult(LocalName(node_.node().name()), name);
        case pugi::node_pi:
          return ToWideResult(node_.node().name(), name);
        default:
          return kS_OK;
      }
    });
  }

  HResult get_text(WideText& text) override {
    text.clear();
    return Guarded([&] {
      if (node_.attribute()) return ToWideResult(node_.attribute().value(), text);
      if (node_.node().type() == pugi::node_element) {
        return ToWideResult(ElementText(node_.node()), text);
      }
      return ToWideResult(TrimXmlSpace(node_.node().value()), text);
    });
  }

  HResult get_nodeTypedValue(WideText& value) override { return get_text(value); }

  HResult get_childNodes(std::unique_ptr<port::XmlNodeList>& list) override;
  HResult get_attributes(std::unique_ptr<port::XmlNodeList>& list) override;
  HResult getElementsByTagName(const WideText& tagName,
                               std::unique_ptr<port::XmlNodeList>& list) override;
  HResult selectNodes(const WideText& xpath, std::unique_ptr<port::XmlNodeList>& list) override;

 private:
  bool IsElement() const { return !node_.attribute() && node_.node().type() == pugi::node_element; }

  Tree tree_;
  pugi::xpath_node node_;
};

class PugiNodeList final : public port::XmlNodeList {
 public:
  PugiNodeList(Tree tree, std::vector<pugi::xpath_node> items)
      : tree_(std::move(tree)), items_(std::move(items)) {}

  HResult get_length(std::int32_t& length) override {
    length = static_cast<std::int32_t>(items_.size());
    return kS_OK;
  }

  HResult get_item(std::int32_t index, std::unique_ptr<port::XmlNode>& node) override {
    node.reset();
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return kS_FALSE;
    return Guarded([&] {
      node = std::make_unique<PugiNode>(tree_, items_[static_cast<std::size_t>(index)]);
      return kS_OK;
    });
  }

  HResult nextNode(std::unique_ptr<port::XmlNode>& node) override {
    node.reset();
    if (cursor_ >= items_.size()) return kS_FALSE;
    return Guarded([&] {
      node = std::make_unique<PugiNode>(tree_, items_[cursor_]);
      ++cursor_;
      return kS_OK;
    });
  }

 private:
  Tree tree_;
  std::vector<pugi::xpath_node> items_;
  std::size_t cursor_ = 0;
};

HResult PugiNode::get_childNodes(std::unique_ptr<port::XmlNodeList>& list) {
  list.reset();
  return Guarded([&] {
    std::vector<pugi::xpath_node> children;
    if (!node_.attribute()) {
      for (const pugi::xml_node child : node_.node().children()) {
        if (CountsAsChild(child)) children.emplace_back(child);
      }
    }
    list = std::make_unique<PugiNodeList>(tree_, std::move(children));
    return kS_OK;
  });
}

HResult PugiNode::get_attributes(std::unique_ptr<port::XmlNodeList>& list) {
  list.reset();
  if (!IsElement()) return kS_FALSE;
  return Guarded([&] {
    std::vector<pugi::xpath_node> attributes;
    for (const pugi::xml_attribute attribute : node_.node().attributes()) {
      attributes.emplace_back(attribute, node_.node());
    }
    list = std::make_unique<PugiNodeList>(tree_, std::move(attributes));
    return kS_OK;
  });
}

HResult PugiNode::getElementsByTagName(const WideText& tagName,
                                       std::unique_ptr<port::XmlNodeList>& list) {
  list.reset();
  if (!IsElement()) return kE_FAIL;
  return Guarded([&] {
    const std::string name = Utf16ToUtf8(tagName);
    const bool every = name == "*";
    std::vector<pugi::xpath_node> elements;
    ForEachDescendant(node_.node(), [&](pugi::xml_node node) {
      if (node.type() == pugi::node_element && (every || name == node.name())) {
        elements.emplace_back(node);
      }
    });
    list = std::make_unique<PugiNodeList>(tree_, std::move(elements));
    return kS_OK;
  });
}

HResult PugiNode::selectNodes(const WideText& xpath, std::unique_ptr<port::XmlNodeList>& list) {
  list.reset();
  return Guarded([&] {
    const std::string expression = Utf16ToUtf8(xpath);
    const pugi::xpath_query query(expression.c_str());
    if (!query) return kE_FAIL;
    pugi::xpath_node_set selected = query.evaluate_node_set(node_);
    selected.sort();
    list = std::make_unique<PugiNodeList>(
        tree_, std::vector<pugi::xpath_node>(selected.begin(), selected.end()));
    return kS_OK;
  });
}

class PugiDocument final : public port::XmlDocument {
 public:
  explicit PugiDocument(PugiXmlParser::HostPathMapper hostPathOf)
      : hostPathOf_(std::move(hostPathOf)) {}

  HResult load(const WideText& path) override {
    tree_.reset();
    return Guarded([&] {
      std::string bytes;
      if (!ReadWholeFile(hostPathOf_(Utf16ToUtf8(path)), bytes)) return kS_FALSE;
      auto tree = std::make_shared<pugi::xml_document>();
      if (!ParseDocument(bytes, *tree)) return kS_FALSE;
      tree_ = std::move(tree);
      return kS_OK;
    });
  }

  HResult get_documentElement(std::unique_ptr<port::XmlNode>& root) override {
    root.reset();
    if (!tree_ || !tree_->document_element()) return kS_FALSE;
    return Guarded([&] {
      root = std::make_unique<PugiNode>(tree_, pugi::xpath_node(tree_->document_element()));
      return kS_OK;
    });
  }

 private:
  PugiXmlParser::HostPathMapper hostPathOf_;
  Tree tree_;
};

}  // namespace

PugiXmlParser::PugiXmlParser(HostPathMapper hostPathOf) : hostPathOf_(std::move(hostPathOf)) {}

port::HResult PugiXmlParser::CoInitialize() { return ++apartmentUsers_ == 1 ? kS_OK : kS_FALSE; }

void PugiXmlParser::CoUninitialize() {
  if (apartmentUsers_ > 0) --apartmentUsers_;
}

port::HResult PugiXmlParser::CreateDocument(std::unique_ptr<port::XmlDocument>& document) {
  document.reset();
  if (apartmentUsers_ == 0) return kCoENotInitialized;
  if (!installed_) return kRegdbEClassNotReg;
  return Guarded([&] {
    document = std::make_unique<PugiDocument>(hostPathOf_);
    return kS_OK;
  });
}

}  // namespace zrt::sim
