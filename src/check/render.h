// The check's report as text for a person (one block per step, warnings and
// errors marked) and as one JSON document for scripts. Both are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "check/report.h"

namespace zrt::check {

// Converts a text of the report (ANSI) to UTF-8.
using ToUtf8 = std::function<std::string(std::string_view)>;

std::string RenderText(const Report& report, const ToUtf8& utf8);
std::string RenderJson(const Report& report, const ToUtf8& utf8);

}  // namespace zrt::check
