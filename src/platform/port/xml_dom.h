// The XML DOM parser, shaped after the IXMLDOMDocument interface family.
// Every operation returns the parser's result code; texts leave the parser
// as UTF-16.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/port/platform_types.h"

namespace zrt::port {

class XmlNodeList;

// The DOM's node types (DOMNodeType values); other values may occur.
enum class XmlNodeType : std::int32_t {
  Element = 1,
  Attribute = 2,
  Text = 3,
  CData = 4,
  ProcessingInstruction = 7,
  Comment = 8,
  Document = 9,
  DocumentType = 10,
};

// A node of the document (element, attribute, text, comment, ...).
class XmlNode {
 public:
  virtual ~XmlNode() = default;

  virtual HResult get_nodeType(XmlNodeType& type) = 0;

  // Local name without prefix; empty for nodes without a name (text).
  virtual HResult get_baseName(WideText& name) = 0;
  // Concatenated descendant text, leading and trailing white space removed
  // (attribute: its value).
  virtual HResult get_text(WideText& text) = 0;
  // The typed value in its text form (for an untyped element, its text).
  virtual HResult get_nodeTypedValue(WideText& value) = 0;
  // Child nodes; white-space-only text does not count.
  virtual HResult get_childNodes(std::unique_ptr<XmlNodeList>& list) = 0;
  // The attributes (a named node map, read like a list). Nodes that cannot
  // carry attributes give S_FALSE and no list.
  virtual HResult get_attributes(std::unique_ptr<XmlNodeList>& list) = 0;
  // Descendant elements with the given tag name (element nodes only).
  virtual HResult getElementsByTagName(const WideText& tagName,
                                       std::unique_ptr<XmlNodeList>& list) = 0;
  // XPath selection ("//step").
  virtual HResult selectNodes(const WideText& xpath, std::unique_ptr<XmlNodeList>& list) = 0;
};

class XmlNodeList {
 public:
  virtual ~XmlNodeList() = default;
  virtual HResult get_length(std::int32_t& length) = 0;
  // S_FALSE and no node when the index is out of range.
  virtual HResult get_item(std::int32_t index, std::unique_ptr<XmlNode>& node) = 0;
  // The list's own iterator; S_FALSE and no node after the last.
  virtual HResult nextNode(std::unique_ptr<XmlNode>& node) = 0;
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // Synchronous load of a file. S_FALSE for a missing or malformed file;
  // documents with a DTD and external resources are refused.
  virtual HResult load(const WideText& path) = 0;
  virtual HResult get_documentElement(std::unique_ptr<XmlNode>& root) = 0;
};

class XmlParser {
 public:
  virtual ~XmlParser() = default;
  // CoInitialize(NULL) and CoUninitialize for the calling thread.
  virtual HResult CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance of the DOM document class for IXMLDOMDocument.
  virtual HResult CreateDocument(std::unique_ptr<XmlDocument>& document) = 0;
};

// COM for the calling thread, for as long as the owner lives: CoInitialize
// on construction and, only when that succeeded (S_FALSE included: the
// thread was already initialised and the count went up), CoUninitialize on
// destruction. A failed initialisation (another apartment model, say) is
// not undone by a call that would end someone else's.
class ComApartment {
 public:
  explicit ComApartment(XmlParser& parser) : parser_(parser), result_(parser.CoInitialize()) {}
  ~ComApartment() {
    if (Succeeded(result_)) parser_.CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HResult result() const { return result_; }

 private:
  XmlParser& parser_;
  HResult result_;
};

}  // namespace zrt::port
