#include "engine/IndexLineParser.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tollavar;

namespace {

// Writes every decision as text, so a case reads like the document it would produce.
class RecordingSink : public FieldSink
{
public:
    explicit RecordingSink(const RunStage& stage) : m_stage(stage) {}

    void beginObject() override { add("OBJECT"); }
    void imagePath(std::string_view path) override { add("FILE1=" + std::string(path)); }
    void pageCount(std::string_view pages) override { add("PAGES=" + std::string(pages)); }
    void indexField(std::string_view name, std::string_view value, bool lastColumn) override
    {
        add(std::string(name) + "=" + std::string(value) + (lastColumn ? " (last)" : ""));
    }

    std::vector<std::string> events;
    std::vector<int> steps;
    std::string throwOn; // prefix of an event that fails

private:
    void add(std::string event)
    {
        steps.push_back(stageNumber(m_stage));
        if (!throwOn.empty() && event.starts_with(throwOn))
            throw Failure(ErrorCode::PathFileAccess, "Sink", "refused " + event);
        events.push_back(std::move(event));
    }
    const RunStage& m_stage;
};

struct Case
{
    const char* label;
    const char* names;
    const char* delimiterSetting;
    std::vector<std::string> lines; // parsed in order by one parser
    std::vector<std::string> expected;
};

std::vector<std::string> run(const Case& c)
{
    IndexLineParser parser(splitBarList(c.names));
    RunStage step = RunStage::LineRead;
    RecordingSink sink(step);
    const std::string delimiter = delimiterFromSetting(c.delimiterSetting);
    for (const std::string& line : c.lines)
        parser.parseLine(line, delimiter, sink, step);
    return sink.events;
}

const char* const kStandard = "Name|IMAGEPATH|PAGECOUNT|ID";

} // namespace

TEST(IndexLineParser, DispatchesFieldsAsTheRulesSay)
{
    const std::vector<Case> cases = {
        {"lower-case extension gives one page",
         kStandard,
         ",",
         {"Smith,\\img\\0001.tif,3,42"},
         {"OBJECT", "Name=Smith", "FILE1=\\img\\0001.tif", "PAGES=1", "ID=42 (last)"}},
        {"TIF extension takes the unquoted count",
         kStandard,
         ",",
         {"Smith,\\img\\0001.TIF, \"3\" ,42"},
         {"OBJECT", "Name=Smith", "FILE1=\\img\\0001.TIF", "PAGES=3", "ID=42 (last)"}},
        {"quoted delimiter and doubled quotes",
         kStandard,
         ",",
         {"\"Smith, John\" , \"a,b.TIF\",2,\"He said \"\"hi\"\"\""},
         {"OBJECT", "Name=Smith, John", "FILE1=a,b.TIF", "PAGES=2", "ID=He said \"hi\" (last)"}},
        {"spaces trimmed, inner spaces kept",
         kStandard,
         ",",
         {"   ,x.tif,1,  a  b  "},
         {"OBJECT", "Name=", "FILE1=x.tif", "PAGES=1", "ID=a  b (last)"}},
        {"quotes in mid-field still guard the delimiter",
         "A|IMAGEPATH",
         ",",
         {"ab\"c,d\"e,f"},
         {"OBJECT", "A=ab\"c,d\"e", "IMAGEPATH=f (last)"}},
        {"Tab setting splits on tabs", "A|IMAGEPATH|B", "Tab", {"1\tx\t2"}, {"OBJECT", "A=1", "FILE1=x", "B=2 (last)"}},
        {"lower-case tab is three characters and never splits",
         "A|IMAGEPATH",
         "tab",
         {"1\t2tab3"},
         {"A=1\t2tab3 (last)"}},
        {"multi-byte single character splits",
         "A|IMAGEPATH|B",
         "\xC2\xA7",
         {"1\xC2\xA7x\xC2\xA7\xC3\xBC"},
         {"OBJECT", "A=1", "FILE1=x", "B=\xC3\xBC (last)"}},
        {"two-character delimiter never splits", "A|IMAGEPATH", ",,", {"a,,b"}, {"A=a,,b (last)"}},
        {"trailing delimiter: no last field", "A|IMAGEPATH|B|C", ",", {"a,x,b,"}, {"OBJECT", "A=a", "FILE1=x", "B=b"}},
        {"SKIP: upper-cased in the middle, exact at the end",
         "skip|IMAGEPATH|skip",
         ",",
         {"a,x,c"},
         {"OBJECT", "FILE1=x", "skip=c (last)"}},
        {"SKIP typed exactly is ignored at the end too",
         "A|IMAGEPATH|SKIP",
         ",",
         {"a,x,c"},
         {"OBJECT", "A=a", "FILE1=x"}},
        {"more fields than names", "IMAGEPATH|A", ",", {"x,a,b,c"}, {"OBJECT", "FILE1=x", "A=a"}},
        {"line without a delimiter is only its last field", "A|IMAGEPATH", ",", {" hello "}, {"A=hello (last)"}},
        {"last column named IMAGEPATH is an index field",
         "A|IMAGEPATH",
         ",",
         {"a,\"x.tif\""},
         {"OBJECT", "A=a", "IMAGEPATH=x.tif (last)"}},
        {"last column named PAGECOUNT is an index field",
         "IMAGEPATH|PAGECOUNT",
         ",",
         {"x.TIF,\"7\""},
         {"OBJECT", "FILE1=x.TIF", "PAGECOUNT=7 (last)"}},
        {"BATCHID last is written nowhere", "IMAGEPATH|BatchId", ",", {"x,b1"}, {"OBJECT", "FILE1=x"}},
        {"BATCHID in the middle is written nowhere",
         "BATCHID|IMAGEPATH|A",
         ",",
         {"b1,x,a"},
         {"OBJECT", "FILE1=x", "A=a (last)"}},
        {"reserved names in any case; the later one wins",
         "ImagePath|imagepath|pageCount|A",
         ",",
         {"p,q.TIF,4,a"},
         {"OBJECT", "ImagePath=p", "FILE1=q.TIF", "PAGES=4", "A=a (last)"}},
        {"PAGECOUNT before IMAGEPATH looks at the previous line's image",
         "PAGECOUNT|IMAGEPATH|A",
         ",",
         {"5,a.TIF,x", "7,b.tif,y", "9,c.TIF,z"},
         {"OBJECT", "PAGES=1", "FILE1=a.TIF", "A=x (last)", "OBJECT", "PAGES=7", "FILE1=b.tif", "A=y (last)", "OBJECT",
          "PAGES=1", "FILE1=c.TIF", "A=z (last)"}},
        {"empty name list writes only the fixed part", "", ",", {"a,b,c", "abc"}, {"OBJECT"}},
        {"line of only delimiters", "A|IMAGEPATH|B", ",", {",,,"}, {"OBJECT", "A=", "FILE1=", "B="}},
        {"unbalanced quote keeps the rest in one field",
         "A|IMAGEPATH|B",
         ",",
         {"a,\"x,b"},
         {"OBJECT", "A=a", "IMAGEPATH=\"x,b (last)"}},
        {"delimiters between quotes never split", "A|IMAGEPATH|B", ",", {"\",\"\",\""}, {"A=,\", (last)"}},
        {"blank lines produce nothing", kStandard, ",", {"", "    "}, {}},
        {"a tab-only line is not blank", "A|IMAGEPATH", ",", {"\t"}, {"A=\t (last)"}},
        {"NUL and non-ASCII are text",
         "A|IMAGEPATH|B",
         ",",
         {std::string("a\0b,x,\xC3\xBC\0", 9)},
         {"OBJECT", std::string("A=a\0b", 5), "FILE1=x", std::string("B=\xC3\xBC\0 (last)", 12)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c), c.expected) << c.label;
}

TEST(IndexLineParser, StepTellsWhichFieldWasBeingWritten)
{
    IndexLineParser parser(splitBarList(kStandard));
    RunStage step = RunStage::LineRead;
    RecordingSink sink(step);
    parser.parseLine("   ", ",", sink, step);
    EXPECT_EQ(stageNumber(step), 12) << "a blank line is not scanned";

    parser.parseLine("a,x.tif,1,b", ",", sink, step);
    EXPECT_EQ(sink.steps, (std::vector<int>{13, 13, 13, 13, 16}));
    EXPECT_EQ(stageNumber(step), 16);

    parser.parseLine("a,x.tif,1,", ",", sink, step);
    EXPECT_EQ(stageNumber(step), 16) << "the last field is reached even when it writes nothing";

    for (const auto& [throwOn, expectedStep] : {std::pair{"FILE1", 13}, std::pair{"ID", 16}}) {
        RecordingSink failing(step);
        failing.throwOn = throwOn;
        step = RunStage::LineRead;
        try {
            parser.parseLine("a,x.tif,1,b", ",", failing, step);
            ADD_FAILURE() << "no failure from " << throwOn;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.source(), "Sink");
            EXPECT_EQ(stageNumber(step), expectedStep) << throwOn;
        }
    }
}

TEST(IndexLineParser, HugeLinesAreScannedWhole)
{
    IndexLineParser parser(splitBarList("A|IMAGEPATH|B"));
    RunStage step = RunStage::LineRead;
    RecordingSink sink(step);

    // 10 MB inside quotes, full of delimiters: one field.
    const std::string big(10 * 1024 * 1024, ',');
    parser.parseLine("a,\"" + big + "\",b", ",", sink, step);
    ASSERT_EQ(sink.events.size(), 4u);
    EXPECT_EQ(sink.events[2], "FILE1=" + big);
    EXPECT_EQ(sink.events[3], "B=b (last)");

    // 10 MB of delimiters: every field past the names is ignored.
    sink.events.clear();
    parser.parseLine(big, ",", sink, step);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"OBJECT", "A=", "FILE1=", "B="}));
}

TEST(IndexLineParser, unquoteField)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"   ", ""},
        {"  a b  ", "a b"},
        {"\ta\t", "\ta\t"}, // only spaces are trimmed
        {"\"", "\""},
        {"\"\"", ""},
        {" \"x\" ", "x"},
        {"\"a\"\"b\"", "a\"b"},
        {"\"\"\"\"\"", "\"\""}, // inner """ -> first pair becomes one quote, the third stays
        {"\"a", "\"a"},
        {"a\"", "a\""},
        {"a\"\"b", "a\"\"b"}, // pairs are only undone inside enclosing quotes
        {"\" a \"", " a "},
    };
    std::string reused = "previous text that is longer";
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(unquoteField(value), expected) << value;
        unquoteFieldInto(value, reused);
        EXPECT_EQ(reused, expected) << value;
    }
}

TEST(IndexLineParser, delimiterFromSetting)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Tab", "\t"}, {"tab", "tab"}, {"TAB", "TAB"},    {"TabTab", "\t\t"},
        {",", ","},    {"", ""},       {"aTabb", "a\tb"}, {"TaTab", "Ta\t"},
    };
    for (const auto& [setting, expected] : cases)
        EXPECT_EQ(delimiterFromSetting(setting), expected) << setting;
}

TEST(IndexLineParser, findReservedColumns)
{
    const ReservedColumns none = findReservedColumns({});
    EXPECT_EQ(none.batchId, -1);
    EXPECT_EQ(none.imagePath, -1);
    EXPECT_EQ(none.pageCount, -1);

    const ReservedColumns found =
        findReservedColumns({"batchid", "ImagePath", "PageCount", "IMAGEPATH", "x", " BATCHID", "IMAGEPATH "});
    EXPECT_EQ(found.batchId, 0) << "names are not trimmed";
    EXPECT_EQ(found.imagePath, 3);
    EXPECT_EQ(found.pageCount, 2);
}
