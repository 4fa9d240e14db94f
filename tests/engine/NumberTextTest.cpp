#include "engine/NumberText.h"

#include <gtest/gtest.h>

using namespace tollavar;

TEST(NumberTextTest, RoundedIntegersFollowTheClassicConversion)
{
    const struct
    {
        const char* text;
        std::optional<long long> int16;
    } cases[] = {
        {"7", 7},
        {" 12 ", 12},
        {"\t-3", -3},
        {"+4", 4},
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"2.51", 3},
        {"0.5", 0},
        {"1.5", 2},
        {".5", 0},
        {"5.", 5},
        {"1e3", 1000},
        {"2.5E1", 25},
        {"32767", 32767},
        {"32767.5", std::nullopt},
        {"32768", std::nullopt},
        {"-32768", -32768},
        {"-32768.5", -32768},
        {"-32769", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"0x10", std::nullopt},
        {"1e400", std::nullopt},
        {"0.0001", 0},
        {"00012", 12},
        {"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseInt16(c.text), c.int16);
    }
    EXPECT_EQ(parseInt32("32768"), 32768);
    EXPECT_EQ(parseInt32("2147483647"), 2147483647LL);
    EXPECT_EQ(parseInt32("2147483648"), std::nullopt);
}

TEST(NumberTextTest, GeneralNumericTest)
{
    for (const char* yes : {"12", " 12 ", "-1", "+1.5", "1e5", "1.5e-3", ".5"})
        EXPECT_TRUE(isNumeric(yes)) << yes;
    for (const char* no : {"", " ", "12a", "a12", "1,000", "--1", "1e", "e5", "."})
        EXPECT_FALSE(isNumeric(no)) << no;
}
