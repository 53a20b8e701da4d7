// The power-profile API (powrprof).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/port/platform_types.h"

namespace zrt::port {

// Called once per scheme by EnumPwrSchemes with the scheme index, name and
// description (UTF-16). Returning false stops the enumeration.
using SchemeEnumCallback =
    std::function<bool(std::uint32_t index, const WideText& name, const WideText& description)>;

class PowerProfile {
 public:
  virtual ~PowerProfile() = default;

  // EnumPwrSchemes. The callback runs synchronously; an exception it throws
  // is carried past the platform and rethrown to the caller.
  virtual bool EnumPwrSchemes(const SchemeEnumCallback& callback) = 0;
  virtual bool CanUserWritePwrScheme() = 0;
  virtual bool GetActivePwrScheme(std::uint32_t& index) = 0;
  virtual bool DeletePwrScheme(std::uint32_t index) = 0;
};

}  // namespace zrt::port
