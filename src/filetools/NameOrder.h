#pragma once

#include <string_view>

namespace tollavar::files {

// The order in which a folder's names are taken: without regard to letter case, as the stations' own
// file system listed them (the order decides which DOCIDs each index file gets), and in byte order
// where two names differ in case only, so that the order never depends on how the folder was read.
// Letters compare as their upper case, as that file system compared them: "A_1" comes after "AB".
bool nameOrderLess(std::string_view a, std::string_view b) noexcept;

} // namespace tollavar::files
