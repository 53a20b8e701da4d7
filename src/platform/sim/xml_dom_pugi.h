// The XML DOM port on pugixml, for the simulated machine.
//
// Behaves like the Windows DOM parser as the job document uses it:
// - `load` reads one file synchronously. A missing, unreadable or malformed
//   file gives S_FALSE and leaves no document behind. A document with a
//   document type declaration is refused (S_FALSE), so no entity is ever
//   expanded and nothing but the one file is read. Well-formedness that
//   pugixml leaves unchecked is checked here: a single root element, no text
//   outside it, only the predefined and numeric character references, no
//   repeated attribute, well-formed UTF-8 and legal XML characters. As on
//   Windows, elements nested deeper than kMaxElementDepth are refused.
// - Encodings: pugixml detects UTF-8, UTF-16 and UTF-32 (by byte-order mark
//   or by the shape of the declaration). A document declared in an ANSI code
//   page ("windows-1251", "cp1252", "ISO-8859-1", "shift_jis", "gbk",
//   "ks_c_5601-1987", "big5", "windows-874" ...) is decoded with that code
//   page, as Windows does for these documents. "US-ASCII" is read as UTF-8.
//   Any other declared encoding is refused (S_FALSE).
// - Child nodes are elements, text that is not white space only, CDATA
//   sections, comments and processing instructions. `nodeType` gives the
//   DOM's type; the XML declaration counts as a processing instruction.
// - `baseName`: the local name of an element or attribute (the part after a
//   prefix), the target of a processing instruction, and the empty text with
//   S_OK for text, CDATA and comment nodes.
// - `text`: an element's text is its descendant text and CDATA concatenated
//   in document order (white-space-only text nodes left out), with leading
//   and trailing white space removed; an attribute's text is its value; a
//   text, CDATA, comment or processing-instruction node gives its content,
//   trimmed the same way. `nodeTypedValue` is the same text (no data types
//   are supported).
// - `getElementsByTagName`: the element descendants (the node itself
//   excluded) whose qualified name equals the given one exactly ("*" matches
//   every element), in document order. Only elements answer it.
// - `selectNodes`: pugixml's XPath 1.0, nodes in document order.
// - Lists are snapshots; `get_item` out of range gives S_FALSE and no node;
//   `nextNode` has its own cursor and gives S_FALSE and no node after the
//   last. `get_attributes` lists an element's attributes in document order;
//   other nodes give S_FALSE and no list. An attribute has no child nodes.
// - Texts leave as UTF-16; the path, tag names and XPath arrive as UTF-16.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/port/xml_dom.h"

namespace zrt::sim {

class PugiXmlParser : public port::XmlParser {
 public:
  // Maps the Windows path handed to `load` (converted to UTF-8) to the path
  // of the file on the host.
  using HostPathMapper = std::function<std::string(const std::string&)>;

  // A backstop against runaway memory use: files above this size are
  // refused by `load` (the job document reader has a smaller limit of its
  // own and normally never asks for more).
  static constexpr std::uint64_t kMaxDocumentBytes = 16u * 1024u * 1024u;
  // The deepest element nesting accepted (the root element is at depth 1).
  static constexpr int kMaxElementDepth = 256;

  // COM results the simulation gives.
  static constexpr port::HResult kCoENotInitialized = static_cast<port::HResult>(0x800401F0u);
  static constexpr port::HResult kRegdbEClassNotReg = static_cast<port::HResult>(0x80040154u);

  explicit PugiXmlParser(HostPathMapper hostPathOf);

  // S_OK for the first initialisation on the thread, S_FALSE when COM is
  // already initialised; every call counts and needs its CoUninitialize.
  port::HResult CoInitialize() override;
  void CoUninitialize() override;

  // CO_E_NOTINITIALIZED without COM, REGDB_E_CLASSNOTREG when the parser is
  // marked as not installed, otherwise S_OK and an empty document.
  port::HResult CreateDocument(std::unique_ptr<port::XmlDocument>& document) override;

  // Marks the DOM parser as installed (the default) or missing on the
  // simulated machine.
  void SetInstalled(bool installed) { installed_ = installed; }

 private:
  HostPathMapper hostPathOf_;
  int apartmentUsers_ = 0;
  bool installed_ = true;
};

}  // namespace zrt::sim
