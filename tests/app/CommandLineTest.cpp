#include "app/CommandLine.h"
#include "filetools/Failure.h"

#include <gtest/gtest.h>

namespace tollavar {
namespace {

using Slots = std::vector<std::string>;

TEST(splitCommandLine, SplitsOnlyWhereASwitchCharacterFollowsABlank)
{
    const std::string twelve = "/a:1 /a:2 /a:3 /a:4 /a:5 /a:6 /a:7 /a:8 /a:9 /a:10 /a:11 /a:12";
    struct Case
    {
        std::string text;
        int maxArgs;
        Slots expected;
    };
    const Case cases[] = {
        {"", 10, {""}},
        {"a/b", 10, {"", "a/b"}},
        {"/c:x /f:y", 10, {"", "/c:x", "/f:y"}},
        {"plain text /m", 10, {"", "plain text", "/m"}},
        {" /c:x", 10, {"", "/c:x"}},
        {"a\t/b", 10, {"", "a", "/b"}},
        {"a\t\\b", 10, {"", "a\t\\b"}},
        {"/a:/data/my \\files /m", 10, {"", "/a:/data/my", "\\files", "/m"}},
        {"/f:C:\\in\\x.csv /x:y", 10, {"", "/f:C:\\in\\x.csv", "/x:y"}},
        {"/f:x ", 10, {"", "/f:x "}},
        {"/f:x  /p:y", 10, {"", "/f:x ", "/p:y"}},
        {"/f:\"a /b\"", 10, {"", "/f:\"a", "/b\""}},
        {twelve, 10, {"", "/a:1", "/a:2", "/a:3", "/a:4", "/a:5", "/a:6", "/a:7", "/a:8", "/a:9", "/a:10"}},
        {"/a /b /c", 2, {"", "/a", "/b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitCommandLine(c.text, c.maxArgs), c.expected) << "text: [" << c.text << "]";
}

TEST(readArgument, TakesTheSecondCharacterAsLetterAndTheTextAfterTheFirstColonAsValue)
{
    struct Case
    {
        std::string argument;
        std::string letter;
        std::string value;
    };
    const Case cases[] = {
        {"/c:/data/a b.tvr", "c", "/data/a b.tvr"},
        {"/config:x", "c", "x"},
        {"\\f:x:y", "f", "x:y"},
        {"/d", "d", ""},
        {"/d:yes", "d", "yes"},
        {"/F:x", "F", "x"},
        {"/", "", ""},
        {"plain:text", "", "plain:text"},
        {"/f:\"a b\"", "f", "a b"},
        {"/f:\"\"", "f", ""},
        {"/f:\"ab", "f", "a"},            // the closing quote is assumed, not checked
        {"/f:\"caf\xC3\xA9", "f", "caf"}, // the last character goes whole, not its last byte
        {"\"/data/a b.tvr\"", "", "/data/a b.tvr"},
        {"/f:a\"b\"", "f", "a\"b\""},
    };
    for (const Case& c : cases) {
        const CommandArgument read = readArgument(c.argument);
        EXPECT_EQ(read.letter, c.letter) << c.argument;
        EXPECT_EQ(read.value, c.value) << c.argument;
    }
}

TEST(readArgument, ALoneQuoteLeavesNothingToCut)
{
    for (const char* argument : {"/x:\"", "\""}) {
        try {
            readArgument(argument);
            ADD_FAILURE() << argument << " was read";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), ErrorCode::InvalidCall);
        }
    }
}

} // namespace
} // namespace tollavar
