// Any argument text through the splitter and the switch reader, as start-up reads it.
//
// Arguments arrive as the platform hands them over, so the text may be anything; text that is valid
// UTF-8 must come out as valid UTF-8, because a value becomes a setting that is saved and shown.

#include "FuzzCheck.h"

#include "app/CommandLine.h"
#include "filetools/Failure.h"
#include "filetools/Windows1252.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace tollavar;

namespace {

void readSafely(std::string_view argument, bool textValid)
{
    try {
        const CommandArgument read = readArgument(argument);
        FUZZ_CHECK(read.letter.size() <= 1, "a switch has one letter at most");
        FUZZ_CHECK(read.value.size() <= argument.size(), "a value comes from its argument");
        FUZZ_CHECK(!textValid || utf8::isValid(read.value), "a value of valid text is valid text");
    } catch (const Failure& failure) {
        FUZZ_CHECK(failure.code() == ErrorCode::InvalidCall, "only a lone quote is refused");
    }
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool textValid = utf8::isValid(text);

    const std::vector<std::string> arguments = splitCommandLine(text);
    FUZZ_CHECK(!arguments.empty() && arguments[0].empty(), "slot 0 is empty");
    FUZZ_CHECK(arguments.size() <= 11, "ten arguments at most");
    size_t kept = 0;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        FUZZ_CHECK(!argument.empty(), "no argument is empty");
        FUZZ_CHECK(i == 1 || argument[0] == '/' || argument[0] == '\\', "a later argument starts with a switch mark");
        FUZZ_CHECK(!textValid || utf8::isValid(argument), "splitting keeps characters whole");
        kept += argument.size();
        readSafely(argument, textValid);
    }
    FUZZ_CHECK(kept <= text.size(), "splitting adds nothing");
    if (arguments.size() > 1) {
        try {
            const std::string first = removeQuotes(arguments[1]);
            FUZZ_CHECK(!textValid || utf8::isValid(first), "the unquoted first argument is valid text");
        } catch (const Failure&) {
            FUZZ_CHECK(arguments[1] == "\"", "only a lone quote is refused");
        }
    }

    // A lower limit cuts the list, never changes what it keeps.
    const std::vector<std::string> firstTwo = splitCommandLine(text, 2);
    FUZZ_CHECK(firstTwo.size() == std::min<size_t>(arguments.size(), 3), "the limit counts arguments");
    FUZZ_CHECK(std::equal(firstTwo.begin(), firstTwo.end(), arguments.begin()), "the limit keeps the first ones");
    return 0;
}
