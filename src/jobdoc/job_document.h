// The job document: one XML parser instance over the job's XML file, which
// loads it, reads the script instance's identifying data and walks the step
// elements into power settings requests.
//
// Two cursors are kept. The instance cursor (count and index) serves
// ReadScriptInstance; Load sets its count to the number of "step" elements.
// The step cursor (bound and index) serves ReadNextStep; Load sets the bound
// to the number of steps, and a successful ReadScriptInstance sets it to the
// number of the script instance's child nodes.
//
// Every operation returns false with a text in the caller's error buffer on
// failure. Texts are stored in 512-byte fields, cut to 511 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jobdoc/power_request.h"
#include "platform/fixed_text.h"
#include "platform/port/platform.h"

namespace zrt::jobdoc {

// Every text handed back by the job document, error texts included.
using DocText = FixedText<512>;

// A child element of a step as ReadNextStep met it.
struct StepElement {
  std::string name;                // its local name in the ANSI code page
  bool nameLossy = false;          // the name lost characters in the conversion
  const PowerRequestField* field;  // the field it filled; null when it names none
  port::WideText value;            // its value as the document spells it, whole
};

class JobDocument {
 public:
  // Files larger than this are refused by Load before the parser sees them.
  static constexpr std::uint64_t kMaxDocumentSize = 4u * 1024u * 1024u;
  // Longer paths are refused by Load.
  static constexpr std::size_t kMaxPathLength = DocText::kMaxLength;

  // Initialises COM for the calling thread; its result is kept as the last
  // result and not acted on.
  JobDocument(port::System& system, port::FileSystem& files, port::XmlParser& xml);
  explicit JobDocument(port::Platform& platform);

  JobDocument(const JobDocument&) = delete;
  JobDocument& operator=(const JobDocument&) = delete;

  // Creates the parser's document object.
  bool CreateParser(DocText& error);

  // Loads the file (path in the ANSI code page), sets both cursors and hands
  // back the root element's local name. True also when the document holds no
  // "scriptinstance" element.
  bool Load(std::string_view path, DocText& rootName, DocText& error);

  // Copies the texts of the first script instance's child elements of these
  // names into the matching outputs (untouched when absent), writing each
  // copied value to the debugger output. Always true.
  bool InitScriptInstance(DocText& instanceid, DocText& scriptid, DocText& templateid,
                          DocText& agentcategory, DocText& agenttemplatename, DocText& logonuser);

  // Copies the attributes of these names of the script instance at the
  // instance cursor into the matching outputs. True when that element also
  // has child nodes; the step cursor is then bounded by their number.
  bool ReadScriptInstance(DocText& scriptid, DocText& scriptver, DocText& category,
                          DocText& fncname, DocText& logonuser, DocText& error);

  // Clears the request and fills it from the step at the step cursor. False
  // with no error text when the walk is over, with a text when the step
  // cannot be read; the cursor then stays where it was. With `elements`, the
  // step's child elements are listed there in document order.
  bool ReadNextStep(PowerRequest& request, DocText& error,
                    std::vector<StepElement>* elements = nullptr);

  // The number of "step" elements Load found, and how many ReadNextStep has
  // read so far.
  std::int32_t StepCount() const { return stepCount_; }
  std::int32_t StepsRead() const { return stepIndex_; }
  // True when the step cursor has reached its bound, which may lie before the
  // last step when the script instance has fewer child nodes than there are
  // steps.
  bool StepBoundReached() const { return stepIndex_ >= stepBound_; }
  // How many steps ReadNextStep may visit.
  std::int32_t StepBound() const { return stepBound_; }

  // The result code of the last parser call.
  port::HResult LastResult() const { return lastResult_; }

 private:
  // Keeps `result` as the last result and tells whether the call succeeded.
  bool Call(port::HResult result);
  bool CopyText(const port::WideText& text, DocText& field);
  void SetSystemErrorText(DocText& error);

  port::System& system_;
  port::FileSystem& files_;
  port::XmlParser& xml_;

  // Members go in reverse order: every parser object first (the list of
  // children before the nodes it came from), the apartment last.
  port::ComApartment apartment_;
  std::unique_ptr<port::XmlDocument> document_;
  std::unique_ptr<port::XmlNode> rootElement_;
  std::unique_ptr<port::XmlNodeList> scriptInstances_;
  std::unique_ptr<port::XmlNodeList> steps_;
  std::unique_ptr<port::XmlNodeList> instanceChildren_;
  port::HResult lastResult_ = port::kS_OK;
  std::int32_t instanceCount_ = 0;
  std::int32_t instanceIndex_ = 0;
  std::int32_t childCount_ = 0;
  std::int32_t stepBound_ = 0;
  std::int32_t stepIndex_ = 0;
  std::int32_t stepCount_ = 0;
};

}  // namespace zrt::jobdoc
