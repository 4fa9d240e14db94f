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
        // Case is ignored in every script, not only in ASCII.
        {"\xC3\xA9*.idx", "\xC3\x89t\xC3\xA9.idx", true},                // é* / Été
        {"\xCE\xA3\xCE\x9F*", "\xCF\x83\xCE\xBF\xCF\x86.txt", true},     // ΣΟ* / σοφ
        {"\xD0\xBE\xD1\x82?.idx", "\xD0\x9E\xD0\xA2\xD0\x81.IDX", true}, // от? / ОТЁ
        {"\xC5\x82*",
         "\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         true}, // ł* / Łódź
        {"\xC3\xA9*", "e.idx", false},
        {"\xFF*",
         "\xFF"
         "broken",
         true}, // bytes that are no UTF-8 still match themselves
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
    // Backtracking stays linear in the stars: this would not finish with a naive recursive matcher.
    EXPECT_FALSE(matchesWildcard("*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}
