#include "jobdoc/power_request.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "platform/ascii_case.h"

namespace zrt::jobdoc {
namespace {

template <auto Member>
void AssignField(PowerRequest& request, std::string_view text) {
  (request.*Member).Assign(text);
}

template <auto Member>
std::string_view ReadField(const PowerRequest& request) {
  return (request.*Member).view();
}

template <auto Member>
constexpr std::size_t CapacityOf() {
  using Field = std::remove_reference_t<decltype(std::declval<PowerRequest&>().*Member)>;
  return Field::kCapacity;
}

template <auto Member>
constexpr PowerRequestField MakeField(const char* name) {
  return {name, CapacityOf<Member>(), &AssignField<Member>, &ReadField<Member>};
}

// The field's name is spelled once, so the table cannot disagree with the
// record.
#define ZRT_POWER_REQUEST_FIELD(name) MakeField<&PowerRequest::name>(#name)

constexpr std::array<PowerRequestField, kPowerRequestFieldCount> kFields = {
    ZRT_POWER_REQUEST_FIELD(value),
    ZRT_POWER_REQUEST_FIELD(ostype),
    ZRT_POWER_REQUEST_FIELD(actpowesch),
    ZRT_POWER_REQUEST_FIELD(action),
    ZRT_POWER_REQUEST_FIELD(schemename),
    ZRT_POWER_REQUEST_FIELD(schemeDesc),
    ZRT_POWER_REQUEST_FIELD(modifyoption),
    ZRT_POWER_REQUEST_FIELD(overwriteifexst),
    ZRT_POWER_REQUEST_FIELD(turnoffpi),
    ZRT_POWER_REQUEST_FIELD(turnoffrb),
    ZRT_POWER_REQUEST_FIELD(tohdpi),
    ZRT_POWER_REQUEST_FIELD(tohdrb),
    ZRT_POWER_REQUEST_FIELD(sysstandpi),
    ZRT_POWER_REQUEST_FIELD(sysstandrb),
    ZRT_POWER_REQUEST_FIELD(hibsupp),
    ZRT_POWER_REQUEST_FIELD(syshibpi),
    ZRT_POWER_REQUEST_FIELD(syshibrb),
    ZRT_POWER_REQUEST_FIELD(dimvideo),
    ZRT_POWER_REQUEST_FIELD(ring),
    ZRT_POWER_REQUEST_FIELD(promptasstandby),
    ZRT_POWER_REQUEST_FIELD(multib),
    ZRT_POWER_REQUEST_FIELD(taskb),
    ZRT_POWER_REQUEST_FIELD(powerbtn),
    ZRT_POWER_REQUEST_FIELD(sleepbtn),
    ZRT_POWER_REQUEST_FIELD(closelid),
    ZRT_POWER_REQUEST_FIELD(procthrotac),
    ZRT_POWER_REQUEST_FIELD(procthrotdc),
    ZRT_POWER_REQUEST_FIELD(lowbatactivate),
    ZRT_POWER_REQUEST_FIELD(lowbatlev),
    ZRT_POWER_REQUEST_FIELD(lowbatsound),
    ZRT_POWER_REQUEST_FIELD(lowbatmsg),
    ZRT_POWER_REQUEST_FIELD(lowbataction),
    ZRT_POWER_REQUEST_FIELD(lowbatforce),
    ZRT_POWER_REQUEST_FIELD(lowbatrunprog),
    ZRT_POWER_REQUEST_FIELD(critbatactivate),
    ZRT_POWER_REQUEST_FIELD(critbatlevel),
    ZRT_POWER_REQUEST_FIELD(critbatsound),
    ZRT_POWER_REQUEST_FIELD(critbatmsg),
    ZRT_POWER_REQUEST_FIELD(critbataction),
    ZRT_POWER_REQUEST_FIELD(critbatforce),
    ZRT_POWER_REQUEST_FIELD(critbatrunprog),
};

#undef ZRT_POWER_REQUEST_FIELD

// The position in record order of the field of this exact name; the number
// of fields when there is none.
std::size_t PositionOf(std::string_view fieldName) {
  return static_cast<std::size_t>(
      std::find_if(kFields.begin(), kFields.end(),
                   [&](const auto& field) { return field.name == fieldName; }) -
      kFields.begin());
}

}  // namespace

void PowerRequest::Clear() { *this = PowerRequest{}; }

void PowerRequest::Fill(const PowerRequestField& field, std::string_view text, bool lossy) {
  field.assign(*this, text);
  const bool cut = field.read(*this).size() < text.size();
  const std::size_t position = PositionOf(field.name);
  if (position == kFields.size()) return;
  fits_[position] = lossy ? ValueFit::Lossy : (cut ? ValueFit::TooLong : ValueFit::Whole);
}

ValueFit PowerRequest::Fit(std::string_view fieldName) const {
  const std::size_t position = PositionOf(fieldName);
  return position == kFields.size() ? ValueFit::Whole : fits_[position];
}

const std::array<PowerRequestField, kPowerRequestFieldCount>& PowerRequestFields() {
  return kFields;
}

const PowerRequestField* FindElementField(std::string_view elementName) {
  // The first entry, `value`, comes from an attribute, never from an element.
  const auto found = std::find_if(kFields.begin() + 1, kFields.end(), [&](const auto& field) {
    return EqualsIgnoringAsciiCase(field.name, elementName);
  });
  return found == kFields.end() ? nullptr : &*found;
}

const PowerRequestField* FindField(std::string_view fieldName) {
  const std::size_t position = PositionOf(fieldName);
  return position == kFields.size() ? nullptr : &kFields[position];
}

}  // namespace zrt::jobdoc
