#pragma once

#include <optional>
#include <string_view>

namespace tollavar {

// The general numeric test: optional blanks around, an optional sign, digits with an optional decimal
// point, an optional exponent. An empty text is not numeric.
bool isNumeric(std::string_view text);

// A numeric text rounded to a whole number (halves to the even neighbour), when it lies within
// [min, max]; nothing otherwise. Settings that hold numbers are read this way where they are used.
std::optional<long long> parseRoundedInteger(std::string_view text, long long min, long long max);

inline std::optional<long long> parseInt16(std::string_view text)
{
    return parseRoundedInteger(text, -32768, 32767);
}

inline std::optional<long long> parseInt32(std::string_view text)
{
    return parseRoundedInteger(text, -2147483648LL, 2147483647LL);
}

} // namespace tollavar
