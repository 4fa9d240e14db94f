#include "engine/IndexFileReader.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/Windows1252.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

using namespace tollavar;
using namespace std::string_literals;

namespace {

std::vector<std::string> readLines(IndexFileReader reader)
{
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.readLine(line))
        lines.emplace_back(line);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.readLine(line)) << "the end stays the end";
    return lines;
}

struct Case
{
    const char* label;
    std::string bytes;
    std::vector<std::string> lines;
};

void expectLines(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(readLines(IndexFileReader::fromBytes(c.bytes)), c.lines) << c.label;
}

} // namespace

TEST(IndexFileReader, DecidesTheEncoding)
{
    expectLines({
        {"byte-order mark: UTF-8, mark dropped", "\xEF\xBB\xBFM\xC3\xBCller\r\nb", {"M\xC3\xBCller", "b"}},
        {"mark only", "\xEF\xBB\xBF", {}},
        {"valid UTF-8 without a mark", "M\xC3\xBCller\r\n\xE2\x82\xAC", {"M\xC3\xBCller", "\xE2\x82\xAC"}},
        {"windows-1252", "M\xFCller\r\nx", {"M\xC3\xBCller", "x"}},
        {"windows-1252 0x80-0x9F with the undefined bytes",
         "\x80\x81\x8D\x8F\x90\x9D\x9F",
         {"\xE2\x82\xAC\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xC5\xB8"}},
        {"one bad sequence makes the whole file windows-1252", "\xC3\xBC\r\n\xFC", {"\xC3\x83\xC2\xBC", "\xC3\xBC"}},
        {"a marked file with bad bytes keeps every byte",
         "\xEF\xBB\xBF\xC3\xBC\xFC\r\n\xC3",
         {"\xC3\xBC\xC3\xBC", "\xC3\x83"}},
        {"NUL bytes are text", "a\0b\r\0\r\n"s, {"a\0b"s, "\0"s}},
    });
}

TEST(IndexFileReader, SplitsLines)
{
    expectLines({
        {"empty file", "", {}},
        {"CR, CR LF and a final line without terminator", "a\rb\r\nc", {"a", "b", "c"}},
        {"terminator at the end adds no line", "a\r\n", {"a"}},
        {"empty lines count", "\r\n\r\na\r\r", {"", "", "a", ""}},
        {"lone LF stays in a line when the file has a CR", "a\nb\r\nc\n", {"a\nb", "c\n"}},
        {"LF CR is a line ending in LF", "a\n\rb", {"a\n", "b"}},
        {"LF ends lines in a file without any CR", "a\nb\n\nc", {"a", "b", "", "c"}},
    });
}

TEST(IndexFileReader, FailuresNameThePath)
{
    tollavar::testing::TempDir dir;
    const std::string missing = dir / "missing.txt";
    const std::string present = dir / "present.txt";
    tollavar::testing::writeFile(present, "a\r\n");

    struct FailureCase
    {
        const char* label;
        std::string path;
        faults::Plan plan;
        int code;
    };
    const std::vector<FailureCase> cases = {
        {"missing file", missing, {}, 53},
        {"missing folder", dir / "no/such.txt", {}, 53},
        {"folder", dir.path(), {}, 75},
        {"read refused", present, {2, EACCES, false}, 70},
        {"read error", present, {2, EIO, false}, 75},
    };
    for (const FailureCase& c : cases) {
        if (c.plan.failAt != 0)
            faults::arm(c.plan);
        try {
            IndexFileReader reader(c.path);
            ADD_FAILURE() << c.label << ": no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), c.code) << c.label;
            EXPECT_NE(failure.description().find(c.path), std::string::npos)
                << c.label << ": " << failure.description();
        }
        faults::disarm();
    }
}

TEST(IndexFileReader, SkipLinePastTheEndFails)
{
    tollavar::testing::TempDir dir;
    const std::string path = dir / "empty.txt";
    tollavar::testing::writeFile(path, "");
    IndexFileReader reader(path);
    EXPECT_TRUE(reader.atEnd());
    try {
        reader.skipLine();
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), 62);
        EXPECT_EQ(failure.source(), "Read File");
        EXPECT_EQ(failure.description(), "Input past end of file: " + path);
    }

    const std::string indexFile = dir / "batch.txt";
    tollavar::testing::writeFile(indexFile, "Name,IMAGEPATH\r\nM\xFCller,a.tif\r\n");
    IndexFileReader withHeader(indexFile);
    withHeader.skipLine();
    std::string_view line;
    ASSERT_TRUE(withHeader.readLine(line));
    EXPECT_EQ(line, "M\xC3\xBCller,a.tif");
    EXPECT_THROW(withHeader.skipLine(), Failure);
}

TEST(IndexFileReader, AnyBytesGiveValidUtf8Lines)
{
    std::mt19937 random(1252);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = round % 3 == 0 ? "\xEF\xBB\xBF" : "";
        const int length = static_cast<int>(random() % 64);
        for (int i = 0; i < length; ++i) {
            // Mostly the bytes that matter: line ends, quotes and lead or continuation bytes.
            static const char kInteresting[] = {'\r', '\n', '"', ',', 'a', '\0', '\xC3', '\xBC', '\xE2', '\x82'};
            bytes.push_back(random() % 2 ? kInteresting[random() % sizeof kInteresting]
                                         : static_cast<char>(random() % 256));
        }
        IndexFileReader reader = IndexFileReader::fromBytes(bytes);
        std::string_view line;
        size_t lines = 0;
        while (reader.readLine(line)) {
            ASSERT_TRUE(utf8::isValid(line)) << ::testing::PrintToString(bytes);
            ASSERT_LE(++lines, bytes.size());
        }
    }
}
