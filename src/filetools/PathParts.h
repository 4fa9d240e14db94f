#pragma once

#include <string>
#include <string_view>

namespace tollavar::files {

// The folder part of a "/"-separated path: "." for a bare name, "/" directly under the root.
std::string folderOf(std::string_view path);

} // namespace tollavar::files
