// A capture bundle (zrt-capture --bundle) read on Linux: the simulated
// machine's folder it holds, written out where the Linux program and
// zrt-check --machine can use it.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace zrt::capture {

// The file is no bundle, or a file of it would land outside the folder.
class BundleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the bundle's files below `folder` (created when missing) and
// returns what the capture could not read (empty for a whole capture).
// Throws BundleError for a file that is no bundle.
std::vector<std::string> UnpackBundle(const std::string& bundleText,
                                      const std::filesystem::path& folder);

// Whether the text looks like a bundle (a JSON object whose "format" is
// "zrt-capture"), without parsing all of it.
bool IsBundle(const std::string& text);

}  // namespace zrt::capture
