#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollavar {

// Standard base64 with padding: how a record keeps bytes that are no text.
std::string base64Encode(std::string_view bytes);
// Nothing when `text` is not base64.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace tollavar
