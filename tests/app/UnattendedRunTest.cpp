#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "support/ExampleBatchSettings.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace tollavar {
namespace {

using testing::exists;
using testing::readFile;
using testing::TempDir;
using testing::unprivilegedGid;
using testing::unprivilegedUid;
using testing::writeFile;

std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The real program as cron would start it: no display, no terminal, its own settings folder. A hang
// is cut short by `timeout` so that it fails the test instead of blocking it.
class UnattendedRunTest : public ::testing::Test
{
protected:
    UnattendedRunTest()
    {
        writeFile(dir / "images/B1/0001.TIF", "II*\0first");
        writeFile(dir / "images/B1/0002.TIF", "II*\0second");
        writeFile(dir / "images/B2/0003.TIF", "II*\0third");
        writeFile(dir / "in/batch.csv", "Smith,\\B1\\0001.TIF,1,42\r\nJones,\\B1\\0002.TIF,2,43\r\n");
        writeFile(dir / "in/late.csv", "Brown,\\B2\\0009.TIF,1,44\r\nGreen,\\B2\\0003.TIF,1,45\r\n");

        writeFile(config, serializeConfig(testing::exampleBatchSettings(dir, "in/batch.csv")));
    }

    int run(const std::string& arguments)
    {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + environment +
                                    " XDG_CONFIG_HOME=" + shellQuoted(dir / "home") +
                                    " XDG_STATE_HOME=" + shellQuoted(dir / "home") + " timeout 300 " + asUser +
                                    shellQuoted(std::string(TOLLAVAR_BINARY_DIR) + "/tollavar") + " " + arguments +
                                    " </dev/null 2>" + shellQuoted(dir / "stderr.txt");
        const int status = std::system(command.c_str());
        stderrText = exists(dir / "stderr.txt") ? readFile(dir / "stderr.txt") : "";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir;
    std::string config = dir / "configs/batch.tvr";
    std::string datagroup = dir / "out/EXMP0001";
    std::string stderrText;
    std::string environment; // extra VARIABLE=value words for env
    std::string asUser;      // a command that runs the program as another user
};

TEST_F(UnattendedRunTest, ConvertsWithoutADisplayAndUndoesAFailedRunWithoutATerminal)
{
    ASSERT_EQ(run("/c:" + shellQuoted(config) + " /p:77"), 0) << stderrText;
    EXPECT_TRUE(exists(datagroup + "/DATAGRP.SUBMIT")) << stderrText;
    EXPECT_TRUE(exists(datagroup + "/B1/0001.TIF"));
    EXPECT_TRUE(exists(datagroup + "/B1/0002.TIF"));
    EXPECT_FALSE(exists(dir / "images/B1/0001.TIF"));
    const std::string xml = readFile(datagroup + "/DATAGRP.XML");
    EXPECT_NE(xml.find("0002.TIF"), std::string::npos);
    // The Convert command saved the switch's value back into the configuration it ran.
    EXPECT_NE(readFile(config).find("\r\n77\r\n"), std::string::npos);
    const std::string windowSettings = readFile(dir / "home/Tollavar.ini");
    EXPECT_NE(windowSettings.find("[Window]"), std::string::npos);
    EXPECT_NE(windowSettings.find("width=5835"), std::string::npos) << windowSettings;

    // The first image of the next batch is missing: nobody can say "skip it", so the run stops and
    // DATAGRP.XML goes back to what it held.
    EXPECT_EQ(run(shellQuoted(config) + " /f:" + shellQuoted(dir / "in/late.csv")), 1);
    EXPECT_NE(stderrText.find("Source File is Missing"), std::string::npos) << stderrText;
    EXPECT_NE(stderrText.find("Undo Changes?"), std::string::npos) << stderrText;
    EXPECT_EQ(readFile(datagroup + "/DATAGRP.XML"), xml);
    EXPECT_TRUE(exists(dir / "images/B2/0003.TIF"));
    EXPECT_FALSE(exists(datagroup + "/B2/0003.TIF"));
    EXPECT_TRUE(exists(datagroup + "/B1/0001.TIF"));
}

TEST_F(UnattendedRunTest, AStartThatNeedsAWindowEndsWithStatusTwo)
{
    for (const std::string& arguments : {std::string(), "/c:" + shellQuoted(config) + " /m", shellQuoted("/x:\"")}) {
        EXPECT_EQ(run(arguments), 2) << arguments;
        EXPECT_FALSE(stderrText.empty()) << arguments;
    }
    EXPECT_FALSE(exists(datagroup));
}

TEST_F(UnattendedRunTest, ExitStatusTellsAFailedSaveAndNothingRunsOnAnUnreadableConfiguration)
{
    // A configuration that cannot be read is not run: converting on half its settings and saving them
    // over it would lose what the user can still mend.
    const std::string good = readFile(config);
    std::string damaged = good;
    damaged.replace(damaged.find("False\r\n"), 5, "Yes");
    writeFile(config, damaged);
    EXPECT_EQ(run(shellQuoted(config)), 2);
    EXPECT_NE(stderrText.find("Error Opening Config File"), std::string::npos) << stderrText;
    EXPECT_EQ(readFile(config), damaged);
    EXPECT_FALSE(exists(datagroup));

    // A switch value with a line break would shift every later line of the saved configuration.
    writeFile(config, good);
    EXPECT_EQ(run(shellQuoted(config) + " /p:" + shellQuoted("77\n78")), 2);
    EXPECT_NE(stderrText.find("switch /p holds a line break"), std::string::npos) << stderrText;
    EXPECT_EQ(readFile(config), good);
    EXPECT_FALSE(exists(datagroup));

    // The conversion goes through but the configuration cannot be saved (read-only to the user the run
    // is): the datagroup number on disk did not advance, so the run must not report success.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        ASSERT_EQ(lchown(entry.path().c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    ASSERT_EQ(chown(dir.path().c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    std::filesystem::permissions(config, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    if (geteuid() == 0)
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    EXPECT_EQ(run(shellQuoted(config)), 1) << stderrText;
    EXPECT_NE(stderrText.find("Error Saving Config File: 70 - Permission denied: " + config), std::string::npos)
        << stderrText;
    EXPECT_TRUE(exists(datagroup + "/DATAGRP.SUBMIT"));
    EXPECT_EQ(readFile(config), good);
}

TEST_F(UnattendedRunTest, AnUnreachableDisplayCountsAsNone)
{
    const std::string silent = ":" + std::to_string(5000 + ::getpid() % 1000);
    std::filesystem::create_directories(dir / "run");
    environment = "DISPLAY=" + silent + " WAYLAND_DISPLAY=wayland-gone XDG_RUNTIME_DIR=" + shellQuoted(dir / "run");
    ASSERT_EQ(run("/c:" + shellQuoted(config)), 0) << stderrText;
    EXPECT_TRUE(exists(datagroup + "/DATAGRP.SUBMIT"));

    // Nobody can see a window there, so a start that needs one says why instead of aborting.
    EXPECT_EQ(run(""), 2);
    EXPECT_NE(stderrText.find("DISPLAY=" + silent + " and WAYLAND_DISPLAY=wayland-gone cannot be reached"),
              std::string::npos)
        << stderrText;
}

} // namespace
} // namespace tollavar
