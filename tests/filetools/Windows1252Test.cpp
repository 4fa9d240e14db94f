#include "filetools/Windows1252.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tollavar;

TEST(Windows1252, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string text = cp1252::decode(all);
    EXPECT_TRUE(utf8::isValid(text));
    const std::optional<std::string> back = cp1252::encode(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, all);

    // Decoding appends, and a run of the widest characters fits exactly.
    std::string appended = "x";
    cp1252::decodeAppend(std::string(1000, '\x80'), appended);
    std::string euros = "x";
    for (int i = 0; i < 1000; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(appended, euros);
}

TEST(Windows1252, TableValues)
{
    const std::vector<std::pair<unsigned char, char32_t>> cases = {
        {0x41, 0x0041}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F},
        {0x90, 0x0090}, {0x9D, 0x009D}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xFF, 0x00FF},
    };
    for (const auto& [byte, codePoint] : cases) {
        EXPECT_EQ(cp1252::toUnicode(byte), codePoint) << int(byte);
        EXPECT_EQ(cp1252::fromUnicode(codePoint), byte) << int(byte);
    }
    // The Latin-1 controls that windows-1252 replaced by typography have no byte of their own.
    for (char32_t cp : {char32_t(0x80), char32_t(0x8A), char32_t(0x9F), char32_t(0x100), char32_t(0x20AD)})
        EXPECT_EQ(cp1252::fromUnicode(cp), -1) << unsigned(cp);
}

TEST(Windows1252, EncodeRefusesWhatItCannotWrite)
{
    struct Case
    {
        const char* label;
        std::string text;
        bool validUtf8;
    };
    const std::vector<Case> cases = {
        {"U+0100 is outside the code page", "a\xC4\x80", true},
        {"CJK", "\xE4\xB8\xAD", true},
        {"astral", "\xF0\x9F\x98\x80", true},
        {"truncated sequence", "a\xC3", false},
        {"lone continuation byte", "\x80", false},
        {"overlong slash", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"truncated in the middle", "\xE2\x82z", false},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(cp1252::encode(c.text)) << c.label;
        EXPECT_EQ(utf8::isValid(c.text), c.validUtf8) << c.label;
    }
}
