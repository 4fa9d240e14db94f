#include "FakeStartupWindow.h"

#include "app/Startup.h"
#include "batch/ConfigFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace tollavar {
namespace {

using testing::FakeStartupWindow;
using testing::TempDir;

class StartupTest : public ::testing::Test
{
protected:
    StartupTest()
    {
        ConversionSettings saved;
        saved.indexFiles = "/in/from-file.csv";
        saved.datagroupNumber = "7";
        saved.maxDocuments = "50";
        m_configPath = m_dir / "my configs/batch one.tvr";
        testing::writeFile(m_configPath, serializeConfig(saved));
    }

    StartupResult load(const std::string& argumentText)
    {
        return startUp(&m_host, m_host.ctx, argumentText, [this](CommandContext& ctx) {
            m_converted.push_back({ctx.settings, ctx.configFile});
            return m_outcome;
        });
    }

    struct Conversion
    {
        ConversionSettings settings;
        std::string configFile;
    };

    TempDir m_dir;
    std::string m_configPath;
    FakeStartupWindow m_host;
    ConvertOutcome m_outcome{true, true, false};
    std::vector<Conversion> m_converted;
};

TEST_F(StartupTest, AConfigurationNamedFirstIsConvertedUnattendedWithOrWithoutQuotes)
{
    for (const std::string& argument : {m_configPath, "\"" + m_configPath + "\""}) {
        FakeStartupWindow fresh;
        m_converted.clear();
        const StartupResult result = startUp(&fresh, fresh.ctx, argument, [this](CommandContext& ctx) {
            m_converted.push_back({ctx.settings, ctx.configFile});
            return m_outcome;
        });
        EXPECT_EQ(result.road, StartRoad::Unattended) << argument;
        EXPECT_EQ(result.exitStatus, 0);
        ASSERT_EQ(m_converted.size(), 1u) << argument;
        EXPECT_EQ(m_converted[0].configFile, m_configPath);
        EXPECT_EQ(m_converted[0].settings.datagroupNumber, "7");
        EXPECT_EQ(m_converted[0].settings.pathBase, m_dir / "my configs") << "relative paths lie beside the file";
        EXPECT_TRUE(fresh.dialog.requests.empty());
        EXPECT_TRUE(fresh.prompter.seen().empty());
        // The rectangle is restored (defaults here) before the run.
        const std::vector<std::pair<std::string, int>> defaults{
            {"left", 105}, {"top", 105}, {"width", 5835}, {"height", 7170}};
        EXPECT_EQ(fresh.rectangleSets, defaults);
    }
}

TEST_F(StartupTest, SwitchesApplyInOrderSoTheLaterOneWins)
{
    struct Case
    {
        std::string arguments;
        std::string number;
    };
    const Case cases[] = {
        {"/u:42 /c:" + m_configPath, "7"},
        {"/c:" + m_configPath + " /u:42", "42"},
        {m_configPath + " /u:42", "42"},
    };
    for (const Case& c : cases) {
        m_converted.clear();
        m_host.prompter.clear();
        EXPECT_EQ(load(c.arguments).road, StartRoad::Unattended) << c.arguments;
        ASSERT_EQ(m_converted.size(), 1u) << c.arguments;
        EXPECT_EQ(m_converted[0].settings.datagroupNumber, c.number) << c.arguments;
        EXPECT_EQ(m_converted[0].configFile, m_configPath);
    }
}

TEST_F(StartupTest, OnlyTheFirstTenArgumentsAreReadAndUpperCaseLettersAreNoSwitches)
{
    m_host.dialog.cancel();
    const StartupResult result = load("/f:F /x:X /p:P /u:U /n:N /e:E /i:I /a:A /s:S /d /r /w /I:upper");
    EXPECT_EQ(result.road, StartRoad::Interactive);
    EXPECT_TRUE(m_converted.empty());
    const ConversionSettings& s = m_host.settings;
    EXPECT_EQ(s.indexFiles, "F");
    EXPECT_EQ(s.xmlFilePath, "X");
    EXPECT_EQ(s.projectId, "P");
    EXPECT_EQ(s.datagroupNumber, "U");
    EXPECT_EQ(s.projectName, "N");
    EXPECT_EQ(s.companyName, "E");
    EXPECT_EQ(s.companyId, "I");
    EXPECT_EQ(s.imageFolder, "A");
    EXPECT_EQ(s.maxDocuments, "S");
    EXPECT_TRUE(s.allowDuplicates);
    EXPECT_FALSE(s.removeProcessedFiles);
    EXPECT_FALSE(s.promptWhenFinished);

    FakeStartupWindow other;
    other.dialog.cancel();
    startUp(&other, other.ctx, "/F:upper /K /k /w /d:ignored /l");
    EXPECT_EQ(other.settings.indexFiles, "");
    EXPECT_TRUE(other.settings.skipHeaderLine);
    EXPECT_TRUE(other.settings.promptWhenFinished);
    EXPECT_TRUE(other.settings.allowDuplicates);
    EXPECT_EQ(other.clipboard, std::vector<std::string>{"/F:upper /K /k /w /d:ignored /l"});
}

TEST_F(StartupTest, ACSwitchWithoutValueAsksTwiceAndRunsNothing)
{
    m_host.dialog.cancel();
    m_host.dialog.cancel();
    const StartupResult result = load("/c /f:kept.csv");
    EXPECT_EQ(result.road, StartRoad::Interactive);
    EXPECT_EQ(m_host.dialog.requests.size(), 2u);
    EXPECT_TRUE(m_converted.empty());
    EXPECT_EQ(m_host.configFile, "");
    EXPECT_EQ(m_host.settings.indexFiles, "kept.csv");
}

TEST_F(StartupTest, TheMSwitchLoadsWithoutConverting)
{
    const StartupResult result = load("/c:" + m_configPath + " /m");
    EXPECT_EQ(result.road, StartRoad::Manual);
    EXPECT_TRUE(m_converted.empty());
    EXPECT_EQ(m_host.configFile, m_configPath);
    EXPECT_EQ(m_host.settings.indexFiles, "/in/from-file.csv");
    EXPECT_GT(m_host.settingsShown, 0);
}

TEST_F(StartupTest, AFailedConversionEndsWithStatusOne)
{
    const ConvertOutcome failures[] = {
        {true, false, false}, {false, true, false}, {false, true, true}, {true, true, false, true}};
    for (const ConvertOutcome& failure : failures) {
        m_outcome = failure;
        const StartupResult result = load(m_configPath);
        EXPECT_EQ(result.road, StartRoad::Unattended);
        EXPECT_EQ(result.exitStatus, 1);
    }
}

TEST_F(StartupTest, AMissingConfigurationIsStillRunWithTheSettingsAsTheyStand)
{
    const std::string missing = m_dir / "nowhere.tvr";
    m_host.prompter.expect("Tollavar", MessageAnswer::Ok);
    const StartupResult result = load("/u:3 /c:" + missing);
    EXPECT_EQ(result.road, StartRoad::Unattended);
    ASSERT_EQ(m_converted.size(), 1u);
    EXPECT_EQ(m_converted[0].configFile, missing);
    EXPECT_EQ(m_converted[0].settings.datagroupNumber, "3");
    EXPECT_EQ(m_host.prompter.seen().at(0).text, "Config file does not exist!\n" + missing);
    EXPECT_FALSE(result.configUnopened);

    // A run that only works from its configuration has nothing to work from, wherever it was named.
    for (const std::string& arguments : {"/u:3 /c:" + missing, m_configPath + " /c:" + missing}) {
        FakeStartupWindow fresh;
        m_converted.clear();
        fresh.prompter.expect("Tollavar", MessageAnswer::Ok);
        const auto convert = [this](CommandContext& ctx) {
            m_converted.push_back({ctx.settings, ctx.configFile});
            return m_outcome;
        };
        const StartupResult refused = startUp(&fresh, fresh.ctx, arguments, convert, MissingConfig::Refuse);
        EXPECT_EQ(refused.road, StartRoad::Unattended) << arguments;
        EXPECT_EQ(refused.exitStatus, 2) << arguments;
        EXPECT_TRUE(refused.configUnopened) << arguments;
        EXPECT_TRUE(m_converted.empty()) << arguments;
    }
}

TEST_F(StartupTest, AFailureStopsStartUpWhereItOccurred)
{
    // A lone quote as a value: the switches before it stay applied, nothing after it happens.
    m_host.prompter.expect("Error Loading Tollavar", MessageAnswer::Ok);
    StartupResult result = load("/f:abc /x:\" /p:never");
    EXPECT_EQ(result.road, StartRoad::Failed);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(m_host.prompter.seen().at(0),
              (Message{"5 - Invalid procedure call or argument", "Error Loading Tollavar", MessageIcon::Error}));
    EXPECT_EQ(m_host.settings.indexFiles, "abc");
    EXPECT_EQ(m_host.settings.projectId, "1");
    EXPECT_TRUE(m_host.rectangleSets.empty());
    EXPECT_GT(m_host.settingsShown, 0);
}

TEST_F(StartupTest, ADamagedWindowStoreStopsOnlyTheStartsThatShowTheWindow)
{
    const struct
    {
        std::string arguments;
        StartRoad road;
        bool converts;
    } cases[] = {
        {"", StartRoad::Failed, false},
        {"/c:" + m_configPath + " /m", StartRoad::Failed, false},
        {m_configPath, StartRoad::Unattended, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        m_converted.clear();
        FakeStartupWindow other;
        auto& stored = other.services.store.values;
        stored[{"Tollavar", "Window", "left"}] = "-30000";
        stored[{"Tollavar", "Window", "top"}] = "wide";
        if (!c.converts)
            other.prompter.expect("Error Loading Tollavar", MessageAnswer::Ok);
        const StartupResult result = startUp(&other, other.ctx, c.arguments, [this](CommandContext& ctx) {
            m_converted.push_back({ctx.settings, ctx.configFile});
            return m_outcome;
        });
        EXPECT_EQ(result.road, c.road);
        EXPECT_EQ(m_converted.size(), c.converts ? 1u : 0u);
        EXPECT_TRUE(other.prompter.scriptDone());
        if (!c.converts) {
            // The window's designed stop: the edges before the bad one are applied, nothing after it.
            EXPECT_EQ(other.prompter.seen().at(0).text, "13 - Type mismatch");
            EXPECT_EQ(other.rectangleSets, (std::vector<std::pair<std::string, int>>{{"left", -30000}}));
            continue;
        }
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_TRUE(other.prompter.seen().empty());
        EXPECT_EQ(other.top, 105) << "the default takes the bad value's place";
        EXPECT_EQ(other.width, 5835);
        ASSERT_FALSE(result.notices.empty());
        EXPECT_EQ(result.notices.front(), "the stored window value top=\"wide\" is unusable (13 - Type mismatch); "
                                          "105 is used instead");
    }
}

TEST_F(StartupTest, AnUnreadableConfigurationOrALineBreakInASwitchRunsNothing)
{
    const std::string damaged = m_dir / "damaged.tvr";
    testing::writeFile(damaged, "a\r\nb\r\n7\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\nYes\r\nFalse\r\n");
    struct Case
    {
        std::string arguments;
        StartRoad road;
        int exitStatus;
        std::string message; // the first message shown, under `caption`
        std::string caption = "Error Opening Config File";
    };
    const Case cases[] = {
        {damaged, StartRoad::Unattended, 2, "13 - Type mismatch: line 10 is neither True nor False"},
        {"/u:3 /c:" + damaged, StartRoad::Unattended, 2, "13 - Type mismatch: line 10 is neither True nor False"},
        // The window is where a person can mend it.
        {"/c:" + damaged + " /m", StartRoad::Manual, 0, "13 - Type mismatch: line 10 is neither True nor False"},
        {m_configPath + " /p:P1\nP2", StartRoad::Failed, 2,
         "5 - Invalid procedure call or argument: the value of switch /p holds a line break", "Error Loading Tollavar"},
        {"/c:" + m_configPath + " /f:a.idx\r", StartRoad::Failed, 2,
         "5 - Invalid procedure call or argument: the value of switch /f holds a line break", "Error Loading Tollavar"},
    };
    for (const Case& c : cases) {
        FakeStartupWindow fresh;
        m_converted.clear();
        fresh.prompter.expect(c.caption, MessageAnswer::Ok);
        const StartupResult result = startUp(&fresh, fresh.ctx, c.arguments, [this](CommandContext& ctx) {
            m_converted.push_back({ctx.settings, ctx.configFile});
            return m_outcome;
        });
        EXPECT_EQ(result.road, c.road) << c.arguments;
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.arguments;
        EXPECT_TRUE(m_converted.empty()) << c.arguments;
        EXPECT_EQ(result.configUnopened, c.road == StartRoad::Unattended) << c.arguments;
        ASSERT_FALSE(fresh.prompter.seen().empty()) << c.arguments;
        EXPECT_EQ(fresh.prompter.seen()[0].text, c.message) << c.arguments;
    }

    // A stored window value beyond the int range is an overflow, like any number too large to hold.
    for (const char* stored : {"2147483648", "-2147483649", "1e300"}) {
        FakeStartupWindow other;
        other.services.store.values[{"Tollavar", "Window", "height"}] = stored;
        other.prompter.expect("Error Loading Tollavar", MessageAnswer::Ok);
        EXPECT_EQ(startUp(&other, other.ctx, "").road, StartRoad::Failed) << stored;
        EXPECT_EQ(other.prompter.seen().at(0).text, "6 - Overflow") << stored;
    }
}

TEST_F(StartupTest, ClosingKeepsTheRectangleOnlyInTheNormalState)
{
    auto& stored = m_host.services.store.values;
    m_host.left = 1200;
    m_host.top = -15;
    m_host.width = 9000;
    m_host.height = 6000;
    m_host.normal = false;
    keepWindowRectangle(m_host);
    EXPECT_TRUE(stored.empty());

    m_host.normal = true;
    keepWindowRectangle(m_host);
    EXPECT_EQ((stored[{"Tollavar", "Window", "left"}]), "1200");
    EXPECT_EQ((stored[{"Tollavar", "Window", "top"}]), "-15");
    EXPECT_EQ((stored[{"Tollavar", "Window", "width"}]), "9000");
    EXPECT_EQ((stored[{"Tollavar", "Window", "height"}]), "6000");
}

} // namespace
} // namespace tollavar
