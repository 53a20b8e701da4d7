// The XML DOM: the platform's MSXML DOMDocument through COM, loaded
// synchronously with DTDs and external resources refused.
#include <windows.h>
// Headers that expect the Windows types to be declared already.
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>

#include "platform/win32/unique_resource.h"
#include "platform/win32/win32_adapters.h"

namespace zrt::win32 {
namespace {

// DOMDocument, the version-independent class, and the interfaces used.
constexpr CLSID kClsidDomDocument = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomElement = {
    0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Deepest element nesting accepted (the root element is at depth 1).
constexpr long kMaxElementDepth = 256;

UniqueBstr ToBstr(const port::WideText& text) {
  UniqueBstr bstr(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                      static_cast<UINT>(text.size())));
  if (!bstr) throw std::bad_alloc();
  return bstr;
}

port::WideText FromBstr(BSTR text) {
  if (text == nullptr) return {};
  return port::WideText(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text));
}

std::unique_ptr<port::XmlNode> WrapNode(IXMLDOMNode* node);

// A node list or an attribute map: both are read by index or with their
// own iterator.
template <typename List>
class DomList final : public port::XmlNodeList {
 public:
  explicit DomList(ComPtr<List> list) : list_(std::move(list)) {}

  port::HResult get_length(std::int32_t& length) override {
    long value = 0;
    const HRESULT hr = list_->get_length(&value);
    if (SUCCEEDED(hr)) length = value;
    return hr;
  }

  port::HResult get_item(std::int32_t index, std::unique_ptr<port::XmlNode>& node) override {
    IXMLDOMNode* item = nullptr;
    const HRESULT hr = list_->get_item(index, &item);
    node = WrapNode(item);
    return hr;
  }

  port::HResult nextNode(std::unique_ptr<port::XmlNode>& node) override {
    IXMLDOMNode* item = nullptr;
    const HRESULT hr = list_->nextNode(&item);
    node = WrapNode(item);
    return hr;
  }

 private:
  ComPtr<List> list_;
};

template <typename List>
std::unique_ptr<port::XmlNodeList> WrapList(List* list) {
  if (list == nullptr) return nullptr;
  return std::make_unique<DomList<List>>(ComPtr<List>::Attach(list));
}

class DomNode final : public port::XmlNode {
 public:
  explicit DomNode(ComPtr<IXMLDOMNode> node) : node_(std::move(node)) {}

  port::HResult get_nodeType(port::XmlNodeType& type) override {
    DOMNodeType value = NODE_INVALID;
    const HRESULT hr = node_->get_nodeType(&value);
    type = static_cast<port::XmlNodeType>(value);
    return hr;
  }

  port::HResult get_baseName(port::WideText& name) override {
    UniqueBstr value;
    const HRESULT hr = node_->get_baseName(value.put());
    name = FromBstr(value.get());
    return hr;
  }

  port::HResult get_text(port::WideText& text) override {
    UniqueBstr value;
    const HRESULT hr = node_->get_text(value.put());
    text = FromBstr(value.get());
    return hr;
  }

  port::HResult get_nodeTypedValue(port::WideText& text) override {
    text.clear();
    UniqueVariant value;
    HRESULT hr = node_->get_nodeTypedValue(value.put());
    if (FAILED(hr)) return hr;
    if (value.value().vt == VT_NULL || value.value().vt == VT_EMPTY) return hr;
    if (value.value().vt != VT_BSTR) {
      const HRESULT changed = ::VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
      if (FAILED(changed)) return changed;
    }
    text = FromBstr(value.value().bstrVal);
    return hr;
  }

  port::HResult get_childNodes(std::unique_ptr<port::XmlNodeList>& list) override {
    IXMLDOMNodeList* children = nullptr;
    const HRESULT hr = node_->get_childNodes(&children);
    list = WrapList(children);
    return hr;
  }

  port::HResult get_attributes(std::unique_ptr<port::XmlNodeList>& list) override {
    IXMLDOMNamedNodeMap* attributes = nullptr;
    const HRESULT hr = node_->get_attributes(&attributes);
    list = WrapList(attributes);
    return hr;
  }

  port::HResult getElementsByTagName(const port::WideText& tagName,
                                     std::unique_ptr<port::XmlNodeList>& list) override {
    list.reset();
    ComPtr<IXMLDOMElement> element;
    const HRESULT queried = node_->QueryInterface(kIidXmlDomElement, element.put_void());
    if (FAILED(queried)) return queried;
    IXMLDOMNodeList* found = nullptr;
    const HRESULT hr = element->getElementsByTagName(ToBstr(tagName).get(), &found);
    list = WrapList(found);
    return hr;
  }

  port::HResult selectNodes(const port::WideText& xpath,
                            std::unique_ptr<port::XmlNodeList>& list) override {
    IXMLDOMNodeList* found = nullptr;
    const HRESULT hr = node_->selectNodes(ToBstr(xpath).get(), &found);
    list = WrapList(found);
    return hr;
  }

 private:
  ComPtr<IXMLDOMNode> node_;
};

std::unique_ptr<port::XmlNode> WrapNode(IXMLDOMNode* node) {
  if (node == nullptr) return nullptr;
  return std::make_unique<DomNode>(ComPtr<IXMLDOMNode>::Attach(node));
}

// Sets one of the parser's second-level properties where the parser knows
// it; older parsers that do not are left as they are.
void TrySetProperty(IXMLDOMDocument* document, const wchar_t* name, VARIANT value) {
  ComPtr<IXMLDOMDocument2> document2;
  if (FAILED(document->QueryInterface(kIidXmlDomDocument2, document2.put_void()))) return;
  UniqueBstr propertyName(::SysAllocString(name));
  if (!propertyName) throw std::bad_alloc();
  document2->setProperty(propertyName.get(), value);
}

class DomDocument final : public port::XmlDocument {
 public:
  explicit DomDocument(ComPtr<IXMLDOMDocument> document) : document_(std::move(document)) {}

  port::HResult load(const port::WideText& path) override {
    HRESULT hr = RefuseExternals();
    if (FAILED(hr)) return hr;

    UniqueVariant source;
    source.SetBstr(ToBstr(path));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document_->load(source.value(), &loaded);
    if (hr != S_OK) return hr;
    // A DTD that slipped past a parser that does not know ProhibitDTD, or
    // nesting that a parser without MaxElementDepth (or with its own limit)
    // let through: the document is dropped and the load counts as failed.
    if (HasDoctype() || NestsTooDeep()) {
      VARIANT_BOOL emptied = VARIANT_FALSE;
      UniqueBstr nothing(::SysAllocString(L""));
      document_->loadXML(nothing.get(), &emptied);
      return S_FALSE;
    }
    return loaded == VARIANT_TRUE ? S_OK : S_FALSE;
  }

  port::HResult get_documentElement(std::unique_ptr<port::XmlNode>& root) override {
    IXMLDOMElement* element = nullptr;
    const HRESULT hr = document_->get_documentElement(&element);
    root = WrapNode(element);  // an element is a node: same object, same reference
    return hr;
  }

 private:
  // Synchronous, no validation, no external resources, no DTDs, and
  // white-space-only text left out of the tree.
  HRESULT RefuseExternals() {
    HRESULT hr = document_->put_async(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = document_->put_validateOnParse(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = document_->put_resolveExternals(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = document_->put_preserveWhiteSpace(VARIANT_FALSE);
    if (FAILED(hr)) return hr;

    VARIANT prohibit;
    ::VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    TrySetProperty(document_.get(), L"ProhibitDTD", prohibit);

    VARIANT depth;
    ::VariantInit(&depth);
    depth.vt = VT_I4;
    depth.lVal = kMaxElementDepth;
    TrySetProperty(document_.get(), L"MaxElementDepth", depth);
    return S_OK;
  }

  bool HasDoctype() {
    ComPtr<IXMLDOMDocumentType> doctype;
    return SUCCEEDED(document_->get_doctype(doctype.put())) && doctype;
  }

  // Whether an element lies deeper than kMaxElementDepth: a walk in
  // document order that keeps no stack of its own.
  bool NestsTooDeep() {
    IXMLDOMElement* root = nullptr;
    if (FAILED(document_->get_documentElement(&root)) || root == nullptr) return false;
    ComPtr<IXMLDOMNode> node = ComPtr<IXMLDOMNode>::Attach(root);
    long depth = 1;
    for (;;) {
      DOMNodeType type = NODE_INVALID;
      if (depth > kMaxElementDepth && SUCCEEDED(node->get_nodeType(&type)) &&
          type == NODE_ELEMENT) {
        return true;
      }
      ComPtr<IXMLDOMNode> next;
      if (node->get_firstChild(next.put()) == S_OK && next) {
        node = std::move(next);
        ++depth;
        continue;
      }
      // Up to the nearest ancestor with a next sibling; done at the root.
      while (depth > 1 && (node->get_nextSibling(next.put()) != S_OK || !next)) {
        ComPtr<IXMLDOMNode> parent;
        if (node->get_parentNode(parent.put()) != S_OK || !parent) return false;
        node = std::move(parent);
        --depth;
      }
      if (depth == 1) return false;
      node = std::move(next);
    }
  }

  ComPtr<IXMLDOMDocument> document_;
};

class DomParser final : public port::XmlParser {
 public:
  port::HResult CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }

  port::HResult CreateDocument(std::unique_ptr<port::XmlDocument>& document) override {
    document.reset();
    ComPtr<IXMLDOMDocument> created;
    const HRESULT hr = ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                          kIidXmlDomDocument, created.put_void());
    if (SUCCEEDED(hr) && created) document = std::make_unique<DomDocument>(std::move(created));
    return hr;
  }
};

}  // namespace

std::unique_ptr<port::XmlParser> MakeXmlParser() { return std::make_unique<DomParser>(); }

}  // namespace zrt::win32
