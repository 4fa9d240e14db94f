#include "batch/Wildcard.h"

#include <gtest/gtest.h>

#include <string>

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
        {"BATCH*.idx", "batch7.IDX", true},
        {"*.idx", "batch1.idx.bak", false},
        {"b?tch.idx", "btch.idx", false},
        {"b?tch.idx", "b\xC3\xA4tch.idx", true}, // "?" is one character
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*.*", "readme", true},
        {"r*.*", "xreadme", false},
        {"", "a", false},
        {"*", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
    // Backtracking stays linear in the stars: this would not finish with a naive recursive matcher.
    EXPECT_FALSE(MatchesWildcard("*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}
