#include "jobdoc/power_request.h"

#include <algorithm>

#include "platform/ascii_case.h"

namespace zrt::jobdoc {
namespace {

template <auto Member>
void AssignField(PowerRequest& request, std::string_view text, const LeadByteTest& isLeadByte) {
  (request.*Member).Assign(text, isLeadByte);
}

template <auto Member>
std::string_view ReadField(const PowerRequest& request) {
  return (request.*Member).view();
}

#define ZRT_FIELD_ENTRY(name, width) \
  {Field::name, #name, width, &AssignField<&PowerRequest::name>, &ReadField<&PowerRequest::name>},
constexpr std::array<PowerRequestField, kPowerRequestFieldCount> kFields = {
    {ZRT_POWER_REQUEST_FIELDS(ZRT_FIELD_ENTRY)}};
#undef ZRT_FIELD_ENTRY

}  // namespace

void PowerRequest::Clear() { *this = PowerRequest{}; }

void PowerRequest::Fill(const PowerRequestField& field, std::string_view text, bool lossy,
                        const LeadByteTest& isLeadByte) {
  field.assign(*this, text, isLeadByte);
  const bool cut = field.read(*this).size() < text.size();
  fits_[static_cast<std::size_t>(field.id)] =
      lossy ? ValueFit::Lossy : (cut ? ValueFit::TooLong : ValueFit::Whole);
}

std::string_view PowerRequest::Read(Field field) const { return FieldOf(field).read(*this); }

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

const PowerRequestField& FieldOf(Field field) { return kFields[static_cast<std::size_t>(field)]; }

}  // namespace zrt::jobdoc
