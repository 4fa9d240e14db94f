#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// The existing file's text as UTF-8, read in the encoding it declares (UTF-8 when it declares none,
// as XML has it). Throws a Failure saying why when the bytes are not what the file says they are.
std::string decodeExisting(std::string_view bytes);

} // namespace tollavar
