// The power settings request: one text field per option element of a step,
// each named exactly as the element that fills it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/fixed_text.h"

namespace zrt::jobdoc {

// How an element's text reached its field.
enum class ValueFit {
  Whole,    // stored exactly
  TooLong,  // longer than the field: stored cut
  Lossy,    // characters lost in the code-page conversion
};

// Every field of the request in record order with its width (terminator
// included), each named exactly as the element that fills it. The record,
// the field identifiers and the table by name all come from this one list.
// `value` is the step's first attribute, when it is named "value".
#define ZRT_POWER_REQUEST_FIELDS(X) \
  X(value, 50)                      \
  X(ostype, 50)                     \
  X(actpowesch, 50)                 \
  X(action, 50)                     \
  X(schemename, 50)                 \
  X(schemeDesc, 2048)               \
  X(modifyoption, 124)              \
  X(overwriteifexst, 21)            \
  X(turnoffpi, 21)                  \
  X(turnoffrb, 21)                  \
  X(tohdpi, 21)                     \
  X(tohdrb, 21)                     \
  X(sysstandpi, 21)                 \
  X(sysstandrb, 21)                 \
  X(hibsupp, 21)                    \
  X(syshibpi, 21)                   \
  X(syshibrb, 21)                   \
  X(dimvideo, 21)                   \
  X(ring, 21)                       \
  X(promptasstandby, 21)            \
  X(multib, 21)                     \
  X(taskb, 21)                      \
  X(powerbtn, 50)                   \
  X(sleepbtn, 50)                   \
  X(closelid, 50)                   \
  X(procthrotac, 50)                \
  X(procthrotdc, 50)                \
  X(lowbatactivate, 50)             \
  X(lowbatlev, 50)                  \
  X(lowbatsound, 50)                \
  X(lowbatmsg, 50)                  \
  X(lowbataction, 50)               \
  X(lowbatforce, 50)                \
  X(lowbatrunprog, 50)              \
  X(critbatactivate, 50)            \
  X(critbatlevel, 50)               \
  X(critbatsound, 50)               \
  X(critbatmsg, 50)                 \
  X(critbataction, 50)              \
  X(critbatforce, 50)               \
  X(critbatrunprog, 50)

// A field of the request, named by the compiler.
#define ZRT_FIELD_ID(name, width) name,
enum class Field : std::uint8_t { ZRT_POWER_REQUEST_FIELDS(ZRT_FIELD_ID) };
#undef ZRT_FIELD_ID

#define ZRT_FIELD_ONE(name, width) 1,
constexpr std::size_t kPowerRequestFieldCount =
    std::initializer_list<int>{ZRT_POWER_REQUEST_FIELDS(ZRT_FIELD_ONE)}.size();
#undef ZRT_FIELD_ONE

struct PowerRequestField;

struct PowerRequest {
#define ZRT_FIELD_MEMBER(name, width) FixedText<width> name;
  ZRT_POWER_REQUEST_FIELDS(ZRT_FIELD_MEMBER)
#undef ZRT_FIELD_MEMBER
  // Every field back to the empty text.
  void Clear();

  // Stores `text` into `field` (cut to its width, at the last whole character
  // `isLeadByte` tells) and records how it fitted; `lossy` says the text lost
  // characters when it was converted.
  void Fill(const PowerRequestField& field, std::string_view text, bool lossy,
            const LeadByteTest& isLeadByte = {});

  // How the field's value arrived; Whole for a field no element filled.
  // Text that is compared or run must be Whole.
  ValueFit Fit(Field field) const { return fits_[static_cast<std::size_t>(field)]; }

  // The field's text.
  std::string_view Read(Field field) const;

 private:
  std::array<ValueFit, kPowerRequestFieldCount> fits_{};
};

// One field of the request, reached by its name.
struct PowerRequestField {
  Field id;
  const char* name;
  std::size_t capacity;  // terminator included
  // Cut to the width, at the last whole character.
  void (*assign)(PowerRequest& request, std::string_view text, const LeadByteTest& isLeadByte);
  std::string_view (*read)(const PowerRequest& request);
};

// All fields in record order; the first, `value`, is the only one not filled
// from an element.
const std::array<PowerRequestField, kPowerRequestFieldCount>& PowerRequestFields();

// The field filled by the option element of this name, matched ignoring
// (ASCII) case; null for any other name, "value" included.
const PowerRequestField* FindElementField(std::string_view elementName);

// The field of this identifier.
const PowerRequestField& FieldOf(Field field);

}  // namespace zrt::jobdoc
