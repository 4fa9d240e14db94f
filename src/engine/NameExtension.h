#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollavar {

// `path` with its file name's own extension (the last dot of the name and what follows it) replaced by
// `dottedReplacement`; nothing when the name has none. Folder names that happen to end in the same
// extension ("\x.TIF\0001.TIF") are left as they are: changing them would send the file elsewhere.
std::optional<std::string> replaceNameExtension(std::string_view path, std::string_view dottedReplacement);

} // namespace tollavar
