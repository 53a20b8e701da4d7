#include "capture/unpack.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace zrt::capture {
namespace {

using Json = nlohmann::json;

std::string FromHex(const std::string& hex) {
  std::string bytes;
  int high = -1;
  for (const char c : hex) {
    if (c == ' ') continue;
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) throw BundleError("a file's hex holds '" + std::string(1, c) + "'");
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high << 4 | digit);
      high = -1;
    }
  }
  if (high >= 0) throw BundleError("a file's hex ends in half a byte");
  return bytes;
}

}  // namespace

bool IsBundle(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  return start != std::string::npos && text[start] == '{' &&
         text.find("\"format\": \"zrt-capture\"") != std::string::npos;
}

std::vector<std::string> UnpackBundle(const std::string& bundleText,
                                      const std::filesystem::path& folder) {
  const Json bundle = Json::parse(bundleText, nullptr, false);
  if (!bundle.is_object() || bundle.value("format", "") != "zrt-capture") {
    throw BundleError("not a zrt-capture bundle");
  }
  if (bundle.value("version", 0) != 1)
    throw BundleError("a bundle version this tool does not know");
  const auto files = bundle.find("files");
  if (files == bundle.end() || !files->is_object() || !files->contains("machine.json")) {
    throw BundleError("the bundle holds no machine.json");
  }
  for (const auto& [name, content] : files->items()) {
    const std::filesystem::path relative = std::filesystem::path(name).lexically_normal();
    if (relative.is_absolute() || relative.empty() || *relative.begin() == "..") {
      throw BundleError("'" + name + "' lies outside the machine folder");
    }
    std::string bytes;
    if (content.is_object() && content.contains("text") && content["text"].is_string()) {
      bytes = content["text"].get<std::string>();
    } else if (content.is_object() && content.contains("hex") && content["hex"].is_string()) {
      bytes = FromHex(content["hex"].get<std::string>());
    } else {
      throw BundleError("'" + name + "' has neither text nor hex");
    }
    const std::filesystem::path target = folder / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw BundleError("cannot write " + target.string());
  }
  std::vector<std::string> problems;
  if (const auto listed = bundle.find("problems"); listed != bundle.end() && listed->is_array()) {
    for (const Json& problem : *listed) {
      if (problem.is_string()) problems.push_back(problem.get<std::string>());
    }
  }
  return problems;
}

}  // namespace zrt::capture
