// The power settings request: one text field per option element of a step,
// each named exactly as the element that fills it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/fixed_text.h"

namespace zrt::jobdoc {

// How an element's text reached its field.
enum class ValueFit {
  Whole,    // stored exactly
  TooLong,  // longer than the field: stored cut
  Lossy,    // characters lost in the code-page conversion
};

struct PowerRequestField;
constexpr std::size_t kPowerRequestFieldCount = 41;

struct PowerRequest {
  FixedText<50> value;  // the step's first attribute, when it is named "value"
  FixedText<50> ostype;
  FixedText<50> actpowesch;
  FixedText<50> action;
  FixedText<50> schemename;
  FixedText<2048> schemeDesc;
  FixedText<124> modifyoption;
  FixedText<21> overwriteifexst;
  FixedText<21> turnoffpi;
  FixedText<21> turnoffrb;
  FixedText<21> tohdpi;
  FixedText<21> tohdrb;
  FixedText<21> sysstandpi;
  FixedText<21> sysstandrb;
  FixedText<21> hibsupp;
  FixedText<21> syshibpi;
  FixedText<21> syshibrb;
  FixedText<21> dimvideo;
  FixedText<21> ring;
  FixedText<21> promptasstandby;
  FixedText<21> multib;
  FixedText<21> taskb;
  FixedText<50> powerbtn;
  FixedText<50> sleepbtn;
  FixedText<50> closelid;
  FixedText<50> procthrotac;
  FixedText<50> procthrotdc;
  FixedText<50> lowbatactivate;
  FixedText<50> lowbatlev;
  FixedText<50> lowbatsound;
  FixedText<50> lowbatmsg;
  FixedText<50> lowbataction;
  FixedText<50> lowbatforce;
  FixedText<50> lowbatrunprog;
  FixedText<50> critbatactivate;
  FixedText<50> critbatlevel;
  FixedText<50> critbatsound;
  FixedText<50> critbatmsg;
  FixedText<50> critbataction;
  FixedText<50> critbatforce;
  FixedText<50> critbatrunprog;

  // Every field back to the empty text.
  void Clear();

  // Stores `text` into `field` (cut to its width) and records how it fitted;
  // `lossy` says the text lost characters when it was converted.
  void Fill(const PowerRequestField& field, std::string_view text, bool lossy);

  // How the value of the field named `fieldName` arrived; Whole for a field
  // no element filled. Text that is compared or run must be Whole.
  ValueFit Fit(std::string_view fieldName) const;

 private:
  std::array<ValueFit, kPowerRequestFieldCount> fits_{};
};

// One field of the request, reached by its name.
struct PowerRequestField {
  const char* name;
  std::size_t capacity;                                          // terminator included
  void (*assign)(PowerRequest& request, std::string_view text);  // cut to the width
  std::string_view (*read)(const PowerRequest& request);
};

// All fields in record order; the first, `value`, is the only one not filled
// from an element.
const std::array<PowerRequestField, kPowerRequestFieldCount>& PowerRequestFields();

// The field filled by the option element of this name, matched ignoring
// (ASCII) case; null for any other name, "value" included.
const PowerRequestField* FindElementField(std::string_view elementName);

// Any of the 41 fields by its exact name; null when there is none.
const PowerRequestField* FindField(std::string_view fieldName);

}  // namespace zrt::jobdoc
