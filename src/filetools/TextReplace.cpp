#include "filetools/TextReplace.h"

#include <algorithm>

namespace tollavar {

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

template <typename Equal>
std::string replaceAllWith(std::string_view text, std::string_view find, std::string_view replacement, Equal equal)
{
    if (find.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        auto hit =
            std::search(text.begin() + static_cast<std::ptrdiff_t>(pos), text.end(), find.begin(), find.end(), equal);
        if (hit == text.end())
            break;
        size_t at = static_cast<size_t>(hit - text.begin());
        out.append(text.substr(pos, at - pos));
        out.append(replacement);
        pos = at + find.size();
    }
    if (pos < text.size())
        out.append(text.substr(pos));
    return out;
}

} // namespace

std::string replaceAll(std::string_view text, std::string_view find, std::string_view replacement)
{
    return replaceAllWith(text, find, replacement, [](char a, char b) { return a == b; });
}

std::string replaceAllIgnoreCase(std::string_view text, std::string_view find, std::string_view replacement)
{
    return replaceAllWith(text, find, replacement, [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

std::string asciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = asciiUpper(c);
    return out;
}

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

} // namespace tollavar
