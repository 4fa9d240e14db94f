#include "app/CommandLine.h"

#include "filetools/Failure.h"

namespace tollavar {

namespace {

bool startsArgument(char first, char second)
{
    return (first == ' ' && (second == '/' || second == '\\')) || (first == '\t' && second == '/');
}

// The arguments are UTF-8 and the rule speaks of characters, so the last character may be several
// bytes long; cutting one byte would leave a broken sequence behind.
size_t lastCharacterStart(std::string_view text)
{
    size_t at = text.size() - 1;
    while (at > 1 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view argumentText, int maxArguments)
{
    std::vector<std::string> slots(1);
    bool inArgument = false;
    for (size_t i = 0; i < argumentText.size(); ++i) {
        const char here = argumentText[i];
        const char next = i + 1 < argumentText.size() ? argumentText[i + 1] : '\0';
        if (startsArgument(here, next)) {
            inArgument = false;
            continue;
        }
        if (!inArgument) {
            if (static_cast<int>(slots.size()) - 1 >= maxArguments)
                break;
            slots.emplace_back();
            inArgument = true;
        }
        slots.back() += here;
    }
    return slots;
}

std::string removeQuotes(std::string_view text)
{
    if (text.empty() || text.front() != '"')
        return std::string(text);
    if (text.size() < 2)
        throw Failure(ErrorCode::InvalidCall, "Tollavar", "Invalid procedure call or argument");
    return std::string(text.substr(1, lastCharacterStart(text) - 1));
}

CommandArgument readArgument(std::string_view argument)
{
    CommandArgument result;
    if (!argument.empty() && (argument.front() == '/' || argument.front() == '\\')) {
        if (argument.size() > 1)
            result.letter = std::string(1, argument[1]);
        const size_t colon = argument.find(':');
        if (colon != std::string_view::npos)
            result.value = removeQuotes(argument.substr(colon + 1));
    } else {
        result.value = removeQuotes(argument);
    }
    return result;
}

} // namespace tollavar
