#include "app/LongOptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace tollavar {
namespace {

LongOptionsResult read(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "tollavar");
    return readLongOptions(static_cast<int>(arguments.size()), arguments.data());
}

TEST(readLongOptions, StopsAtTheFirstArgumentThatIsNoOptionSoSwitchesKeepTheirMeaning)
{
    struct Case
    {
        std::vector<const char*> arguments;
        int firstArgument;
    };
    const Case cases[] = {
        {{}, 1},
        {{"/data/a.tvr"}, 1},
        {{"--wait=30", "/data/a.tvr", "/f:--help"}, 2},
        {{"--", "--odd-name.tvr"}, 2},
        {{"/data/a.tvr", "--version"}, 1},
        {{"--check", "--json", "a.tvr"}, 3},
    };
    for (const Case& c : cases) {
        const LongOptionsResult result = read(c.arguments);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.firstArgument, c.firstArgument);
    }
    const LongOptionsResult watch =
        read({"--watch", "--settle=0", "--poll=5", "--group-wait=0", "--metrics=/srv/m.prom", "x.tvr"});
    EXPECT_TRUE(watch.options.watch);
    EXPECT_EQ(watch.options.settleSeconds, 0);
    EXPECT_EQ(watch.options.pollSeconds, 5);
    EXPECT_EQ(watch.options.groupWaitSeconds, 0);
    EXPECT_EQ(watch.options.metricsFile, "/srv/m.prom");
    EXPECT_EQ(read({"--metrics=m.prom", "a.tvr"}).error, "") << "an unattended run keeps figures too";
    EXPECT_EQ(read({"--wait=600"}).options.waitSeconds, 600);

    // The short forms are the long ones; after the configuration file they are its switches' business.
    struct Short
    {
        std::vector<const char*> arguments;
        bool help;
        bool version;
        int firstArgument;
    };
    for (const Short& s :
         {Short{{"-h"}, true, false, 2}, Short{{"-v"}, false, true, 2}, Short{{"-v", "-h", "a.tvr"}, true, true, 3},
          Short{{"a.tvr", "-h"}, false, false, 1}, Short{{"-hv"}, false, false, 1}}) {
        const LongOptionsResult result = read(s.arguments);
        EXPECT_EQ(result.error, "") << s.arguments.front();
        EXPECT_EQ(result.options.help, s.help) << s.arguments.front();
        EXPECT_EQ(result.options.version, s.version) << s.arguments.front();
        EXPECT_EQ(result.firstArgument, s.firstArgument) << s.arguments.front();
    }
}

TEST(readLongOptions, RefusesWhatItCannotReadInsteadOfGuessing)
{
    const std::vector<std::vector<const char*>> refused = {
        {"--colour"},
        {"--wait"},
        {"--wait=-1"},
        {"--wait=10s"},
        {"--wait=99999999999"},
        {"--poll=0"},
        {"--help=yes"},
        {"--json", "--watch"},
        {"--check", "--watch"},
        {"--settle=2", "a"},
        {"--log="},
        {"--quiet=1"},
        {"--history", "--check"},
        {"--group-wait=30", "a"},
        {"--group-wait=-1", "--watch"},
        {"--metrics=", "--watch"},
        {"--metrics=m.prom", "--check"},
    };
    for (const auto& arguments : refused)
        EXPECT_NE(read(arguments).error, "") << arguments.front();
}

} // namespace
} // namespace tollavar
