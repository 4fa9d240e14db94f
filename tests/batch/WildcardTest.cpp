#include "batch/Wildcard.h"

#include <gtest/gtest.h>

using namespace tollavar;

TEST(Wildcard, MatchesNamesLikeTheClassicFileSearch)
{
    struct Case
    {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.idx", "batch1.idx", true},
        {"*.idx", "batch1.IDX", true},
        {"BATCH*.idx", "batch7.idx", true},
        {"*.idx", "batch1.idx.bak", false},
        {"*.idx", ".idx", true},
        {"b?tch.idx", "batch.idx", true},
        {"b?tch.idx", "btch.idx", false},
        {"b?tch.idx", "b\xC3\xA4tch.idx", true}, // "?" takes a whole character
        {"*\xC3\xA4*", "x\xC3\xA4y", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"*.*", "readme", true}, // a trailing ".*" also takes names without a dot
        {"*.*", "a.b", true},
        {"r*.*", "readme", true},
        {"r*.*", "xreadme", false},
        {"**a**", "bab", true},
        {"a.idx", "A.IDX", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(Wildcard, LongHopelessPatternsStayFast)
{
    const std::string name(20000, 'a');
    const std::string pattern = "*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(MatchesWildcard(pattern, name));
}
