#include "jobdoc/job_document.h"

#include <string>

#include "platform/code_page_text.h"
#include "platform/system_facts.h"
#include "platform/text_conversion.h"

namespace zrt::jobdoc {
namespace {

using port::HResult;
using port::kS_OK;
using port::Succeeded;
using port::WideText;

constexpr const char* kUnableToInitialize =
    "Unable initialize xml, check the msxml.dll in windows folder";
constexpr const char* kUnableToLoad = "Unable Load inputfile";
constexpr const char* kInputFileNotValid = "Inputfile is not valid";
constexpr const char* kTagSearchFailed = "Err. in getElementsByTagName";
constexpr const char* kContentNotValid = "input file content is not valid";
constexpr const char* kRelContentNotValid = "rel file content is not valid";
constexpr const char* kZeroAttributes = "Zero Attributes:- Node-";
constexpr const char* kStepCountUnreadable = "failed to read get_lenth())";
constexpr const char* kInitScriptInstanceTrace = "InitScriptInstance()";

const WideText kScriptInstanceTag = u"scriptinstance";
const WideText kStepPath = u"//step";
const WideText kValueAttribute = u"value";

struct NamedOutput {
  const char16_t* name;
  DocText* output;
};

// The output named `name` exactly (case included); null when none is.
DocText* OutputNamed(const WideText& name, const NamedOutput* begin, const NamedOutput* end) {
  for (const NamedOutput* entry = begin; entry != end; ++entry) {
    if (name == entry->name) return entry->output;
  }
  return nullptr;
}

}  // namespace

JobDocument::JobDocument(port::System& system, port::FileSystem& files, port::XmlParser& xml)
    : system_(system), files_(files), xml_(xml), apartment_(xml) {
  lastResult_ = apartment_.result();
}

JobDocument::JobDocument(port::Platform& platform)
    : JobDocument(platform.system, platform.files, platform.xml) {}

bool JobDocument::Call(HResult result) {
  lastResult_ = result;
  return Succeeded(result);
}

bool JobDocument::CopyText(const WideText& text, DocText& field) {
  return ToNarrow(system_, text, field);
}

// A failure is never told with the text of success: when the thread's last
// error says nothing went wrong, the reader says what it met.
void JobDocument::SetSystemErrorText(DocText& error) {
  const port::ErrorCode code = system_.GetLastError();
  error.Assign(code != port::err::kSuccess ? SystemErrorText(system_, code) : kContentNotValid,
               LeadBytesOf(system_));
}

bool JobDocument::CreateParser(DocText& error) {
  if (!Call(xml_.CreateDocument(document_)) || lastResult_ != kS_OK || !document_) {
    document_.reset();
    error.Assign(kUnableToInitialize);
    return false;
  }
  return true;
}

bool JobDocument::Load(std::string_view path, DocText& rootName, DocText& error) {
  instanceCount_ = 0;
  instanceIndex_ = 0;
  stepBound_ = 0;
  stepIndex_ = 0;
  stepCount_ = 0;
  instanceChildren_.reset();
  steps_.reset();
  scriptInstances_.reset();
  rootElement_.reset();

  // The size is asked before the parser reads anything, so that a huge file
  // never reaches memory; a path the file system cannot size is no document.
  const std::string narrowPath(path);
  std::uint64_t size = 0;
  WideText widePath;
  if (!document_ || path.size() > kMaxPathLength || narrowPath.find('\0') != std::string::npos ||
      !files_.GetFileSize(narrowPath.c_str(), size) || size > kMaxDocumentSize ||
      !ToWide(system_, path, widePath)) {
    error.Assign(kUnableToLoad);
    return false;
  }

  // S_FALSE (a missing or malformed file) counts as failure here.
  if (!Call(document_->load(widePath)) || lastResult_ != kS_OK) {
    error.Assign(kUnableToLoad);
    return false;
  }
  if (!Call(document_->get_documentElement(rootElement_)) || lastResult_ != kS_OK ||
      !rootElement_) {
    error.Assign(kInputFileNotValid);
    return false;
  }
  if (!Call(rootElement_->getElementsByTagName(kScriptInstanceTag, scriptInstances_)) ||
      lastResult_ != kS_OK || !scriptInstances_) {
    error.Assign(kTagSearchFailed);
    return false;
  }

  // A failed selection is not reported: both cursors simply stay at 0.
  if (Call(rootElement_->selectNodes(kStepPath, steps_)) && steps_) {
    std::int32_t stepCount = 0;
    if (!Call(steps_->get_length(stepCount))) {
      system_.OutputDebugStringA(kStepCountUnreadable);
      stepCount = 0;
    }
    instanceCount_ = stepCount;
    stepBound_ = stepCount;
    stepCount_ = stepCount;
    instanceIndex_ = 0;
    stepIndex_ = 0;
  }

  WideText name;
  if (!Call(rootElement_->get_baseName(name))) {
    error.Assign(kInputFileNotValid);
    return false;
  }
  CopyText(name, rootName);

  std::int32_t instances = 0;
  if (!Call(scriptInstances_->get_length(instances))) {
    error.Assign(kInputFileNotValid);
    return false;
  }
  return true;
}

bool JobDocument::InitScriptInstance(DocText& instanceid, DocText& scriptid, DocText& templateid,
                                     DocText& agentcategory, DocText& agenttemplatename,
                                     DocText& logonuser) {
  system_.OutputDebugStringA(kInitScriptInstanceTrace);

  // Without a script instance the six values stay as they are.
  std::unique_ptr<port::XmlNodeList> instances;
  std::unique_ptr<port::XmlNode> first;
  std::unique_ptr<port::XmlNodeList> children;
  if (!rootElement_ || !Call(rootElement_->getElementsByTagName(kScriptInstanceTag, instances)) ||
      !instances || !Call(instances->get_item(0, first)) || !first ||
      !Call(first->get_childNodes(children)) || !children) {
    return true;
  }

  const NamedOutput outputs[] = {
      {u"instanceid", &instanceid},
      {u"scriptid", &scriptid},
      {u"templateid", &templateid},
      {u"agentcategory", &agentcategory},
      {u"agenttemplatename", &agenttemplatename},
      {u"logonuser", &logonuser},
  };
  std::unique_ptr<port::XmlNode> child;
  while (Call(children->nextNode(child)) && lastResult_ == kS_OK && child) {
    WideText text;
    WideText name;
    if (!Call(child->get_text(text)) || !Call(child->get_baseName(name))) continue;
    if (DocText* output = OutputNamed(name, std::begin(outputs), std::end(outputs))) {
      CopyText(text, *output);
      system_.OutputDebugStringA(output->c_str());
    }
  }
  return true;
}

bool JobDocument::ReadScriptInstance(DocText& scriptid, DocText& scriptver, DocText& category,
                                     DocText& fncname, DocText& logonuser, DocText& error) {
  if (instanceCount_ == 0 || instanceIndex_ >= instanceCount_) return false;

  std::unique_ptr<port::XmlNode> instance;
  std::int32_t childCount = 0;
  if (!scriptInstances_ || !Call(scriptInstances_->get_item(instanceIndex_, instance)) ||
      !instance || !Call(instance->get_childNodes(instanceChildren_)) || !instanceChildren_ ||
      !Call(instanceChildren_->get_length(childCount))) {
    error.Assign(kContentNotValid);
    return false;
  }
  childCount_ = childCount;

  WideText name;
  if (!Call(instance->get_baseName(name))) {
    error.Assign(kRelContentNotValid);
    return false;
  }

  std::unique_ptr<port::XmlNodeList> attributes;
  std::int32_t attributeCount = 0;
  if (!Call(instance->get_attributes(attributes)) || !attributes ||
      !Call(attributes->get_length(attributeCount))) {
    SetSystemErrorText(error);
    return false;
  }
  if (attributeCount == 0) {
    std::string narrowName;
    ToNarrow(system_, name, narrowName);
    error.Assign(kZeroAttributes);
    error.Append(narrowName, LeadBytesOf(system_));
    return false;
  }

  const NamedOutput outputs[] = {
      {u"scriptid", &scriptid}, {u"scriptver", &scriptver}, {u"category", &category},
      {u"fncname", &fncname},   {u"logonuser", &logonuser},
  };
  for (std::int32_t i = 0; i < attributeCount; ++i) {
    std::unique_ptr<port::XmlNode> attribute;
    WideText attributeName;
    WideText text;
    if (!Call(attributes->get_item(i, attribute)) || !attribute ||
        !Call(attribute->get_baseName(attributeName)) || !Call(attribute->get_text(text))) {
      SetSystemErrorText(error);
      return false;
    }
    if (DocText* output = OutputNamed(attributeName, std::begin(outputs), std::end(outputs))) {
      CopyText(text, *output);
    }
  }

  // Without child nodes the step cursor keeps what Load gave it.
  if (childCount_ == 0) return false;
  ++instanceIndex_;
  stepBound_ = childCount_;
  stepIndex_ = 0;
  return true;
}

bool JobDocument::ReadNextStep(PowerRequest& request, DocText& error,
                               std::vector<StepElement>* elements) {
  request.Clear();
  if (elements != nullptr) elements->clear();
  if (stepBound_ == 0 || stepIndex_ >= stepBound_) return false;

  std::unique_ptr<port::XmlNode> step;
  if (!steps_ || !Call(steps_->get_item(stepIndex_, step)) || !step) {
    error.Assign(kContentNotValid);
    return false;
  }
  WideText stepName;
  if (!Call(step->get_baseName(stepName))) {
    error.Assign(kInputFileNotValid);
    return false;
  }

  // Only the first attribute is looked at; a step must have one. A step
  // without any is reported in the words the script instance's reader uses
  // for one ("Zero Attributes:- Node-step").
  std::unique_ptr<port::XmlNodeList> attributes;
  std::unique_ptr<port::XmlNode> attribute;
  WideText attributeName;
  WideText attributeText;
  if (!Call(step->get_attributes(attributes)) || !attributes ||
      !Call(attributes->get_item(0, attribute)) || !attribute ||
      !Call(attribute->get_baseName(attributeName)) || !Call(attribute->get_text(attributeText))) {
    std::int32_t attributeCount = -1;
    if (attributes && !attribute && Succeeded(attributes->get_length(attributeCount)) &&
        attributeCount == 0) {
      std::string narrowName;
      ToNarrow(system_, stepName, narrowName);
      error.Assign(kZeroAttributes);
      error.Append(narrowName);
    } else {
      SetSystemErrorText(error);
    }
    return false;
  }
  if (attributeName == kValueAttribute) ToNarrow(system_, attributeText, request.value);

  std::unique_ptr<port::XmlNodeList> children;
  std::int32_t childCount = 0;
  if (!Call(step->get_childNodes(children)) || !children ||
      !Call(children->get_length(childCount))) {
    error.Assign(kContentNotValid);
    return false;
  }
  childCount_ = childCount;

  for (std::int32_t i = 0; i < childCount; ++i) {
    std::unique_ptr<port::XmlNode> child;
    port::XmlNodeType type = port::XmlNodeType::Element;
    if (!Call(children->get_item(i, child)) || !child || !Call(child->get_nodeType(type))) {
      error.Assign(kContentNotValid);
      return false;
    }
    // Only elements are fields: a processing instruction's target is no name.
    if (type != port::XmlNodeType::Element) continue;
    WideText name;
    WideText value;
    if (!Call(child->get_baseName(name)) || !Call(child->get_nodeTypedValue(value))) {
      error.Assign(kContentNotValid);
      return false;
    }
    // A name that loses characters in the conversion names no field.
    std::string narrowName;
    bool lossy = false;
    const bool named = ToNarrow(system_, name, narrowName, &lossy) && !lossy;
    // Later elements of the same name overwrite earlier ones.
    const PowerRequestField* field = named ? FindElementField(narrowName) : nullptr;
    if (field != nullptr) {
      std::string narrowValue;
      ToNarrow(system_, value, narrowValue, &lossy);
      request.Fill(*field, narrowValue, lossy, LeadBytesOf(system_));
    }
    if (elements != nullptr) elements->push_back({narrowName, !named, field, value});
  }

  ++stepIndex_;
  return true;
}

}  // namespace zrt::jobdoc
