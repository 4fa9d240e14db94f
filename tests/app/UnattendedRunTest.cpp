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
        writeFile(m_dir / "images/B1/0001.TIF", "II*\0first");
        writeFile(m_dir / "images/B1/0002.TIF", "II*\0second");
        writeFile(m_dir / "images/B2/0003.TIF", "II*\0third");
        writeFile(m_dir / "in/batch.csv", "Smith,\\B1\\0001.TIF,1,42\r\nJones,\\B1\\0002.TIF,2,43\r\n");
        writeFile(m_dir / "in/late.csv", "Brown,\\B2\\0009.TIF,1,44\r\nGreen,\\B2\\0003.TIF,1,45\r\n");

        writeFile(m_config, serializeConfig(testing::exampleBatchSettings(m_dir, "in/batch.csv")));
    }

    // With `reader`, standard output goes through a pipe to that command, and the status is the program's.
    int run(const std::string& arguments, const std::string& reader = "")
    {
        std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + m_environment +
                              " XDG_CONFIG_HOME=" + shellQuoted(m_dir / "home") +
                              " XDG_STATE_HOME=" + shellQuoted(m_dir / "home") + " timeout 300 " + m_asUser +
                              shellQuoted(std::string(TOLLAVAR_BINARY_DIR) + "/tollavar") + " " + arguments +
                              " </dev/null 2>" + shellQuoted(m_dir / "stderr.txt");
        if (!reader.empty())
            command = "bash -c " + shellQuoted("set -o pipefail; " + command + " | " + reader);
        const int status = std::system(command.c_str());
        m_stderrText = exists(m_dir / "stderr.txt") ? readFile(m_dir / "stderr.txt") : "";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir m_dir;
    std::string m_config = m_dir / "configs/batch.tvr";
    std::string m_datagroup = m_dir / "out/EXMP0001";
    std::string m_stderrText;
    std::string m_environment; // extra VARIABLE=value words for env
    std::string m_asUser;      // a command that runs the program as another user
};

TEST_F(UnattendedRunTest, ConvertsWithoutADisplayAndUndoesAFailedRunWithoutATerminal)
{
    ASSERT_EQ(run("/c:" + shellQuoted(m_config) + " /p:77"), 0) << m_stderrText;
    EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT")) << m_stderrText;
    EXPECT_TRUE(exists(m_datagroup + "/B1/0001.TIF"));
    EXPECT_TRUE(exists(m_datagroup + "/B1/0002.TIF"));
    EXPECT_FALSE(exists(m_dir / "images/B1/0001.TIF"));
    const std::string xml = readFile(m_datagroup + "/DATAGRP.XML");
    EXPECT_NE(xml.find("0002.TIF"), std::string::npos);
    // The Convert command saved the switch's value back into the configuration it ran.
    EXPECT_NE(readFile(m_config).find("\r\n77\r\n"), std::string::npos);
    const std::string windowSettings = readFile(m_dir / "home/Tollavar.ini");
    EXPECT_NE(windowSettings.find("[Window]"), std::string::npos);
    EXPECT_NE(windowSettings.find("width=5835"), std::string::npos) << windowSettings;

    // The first image of the next batch is missing: nobody can say "skip it", so the run stops and
    // DATAGRP.XML goes back to what it held.
    EXPECT_EQ(run(shellQuoted(m_config) + " /f:" + shellQuoted(m_dir / "in/late.csv")), 1);
    EXPECT_NE(m_stderrText.find("Source File is Missing"), std::string::npos) << m_stderrText;
    EXPECT_NE(m_stderrText.find("Undo Changes?"), std::string::npos) << m_stderrText;
    EXPECT_EQ(readFile(m_datagroup + "/DATAGRP.XML"), xml);
    EXPECT_TRUE(exists(m_dir / "images/B2/0003.TIF"));
    EXPECT_FALSE(exists(m_datagroup + "/B2/0003.TIF"));
    EXPECT_TRUE(exists(m_datagroup + "/B1/0001.TIF"));
}

TEST_F(UnattendedRunTest, AStartThatNeedsAWindowEndsWithStatusTwo)
{
    for (const std::string& arguments : {std::string(), "/c:" + shellQuoted(m_config) + " /m", shellQuoted("/x:\"")}) {
        EXPECT_EQ(run(arguments), 2) << arguments;
        EXPECT_FALSE(m_stderrText.empty()) << arguments;
    }
    EXPECT_FALSE(exists(m_datagroup));
}

TEST_F(UnattendedRunTest, ExitStatusTellsAFailedSaveAndNothingRunsOnAnUnreadableConfiguration)
{
    // A configuration that cannot be read is not run: converting on half its settings and saving them
    // over it would lose what the user can still mend.
    const std::string good = readFile(m_config);
    std::string damaged = good;
    damaged.replace(damaged.find("False\r\n"), 5, "Yes");
    writeFile(m_config, damaged);
    EXPECT_EQ(run(shellQuoted(m_config)), 2);
    EXPECT_NE(m_stderrText.find("Error Opening Config File"), std::string::npos) << m_stderrText;
    EXPECT_EQ(readFile(m_config), damaged);
    EXPECT_FALSE(exists(m_datagroup));

    // A switch value with a line break would shift every later line of the saved configuration.
    writeFile(m_config, good);
    EXPECT_EQ(run(shellQuoted(m_config) + " /p:" + shellQuoted("77\n78")), 2);
    EXPECT_NE(m_stderrText.find("switch /p holds a line break"), std::string::npos) << m_stderrText;
    EXPECT_EQ(readFile(m_config), good);
    EXPECT_FALSE(exists(m_datagroup));

    // The conversion goes through but the configuration cannot be saved (read-only to the user the run
    // is): the datagroup number on disk did not advance, so the run must not report success.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path()))
        ASSERT_EQ(lchown(entry.path().c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    ASSERT_EQ(chown(m_dir.path().c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    std::filesystem::permissions(m_config, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    if (geteuid() == 0)
        m_asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    EXPECT_EQ(run(shellQuoted(m_config)), 1) << m_stderrText;
    EXPECT_NE(m_stderrText.find("Error Saving Config File: 70 - Permission denied: " + m_config), std::string::npos)
        << m_stderrText;
    EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT"));
    EXPECT_EQ(readFile(m_config), good);
}

// A reader that wants none of the record (`| head -c0`) loses the record, not the run: the conversion
// and its history stand, and the exit status is the conversion's.
TEST_F(UnattendedRunTest, AClosedPipeOnStandardOutputLeavesTheExitStatusTheConversions)
{
    ASSERT_EQ(run("--json " + shellQuoted(m_config), "head -c0"), 0) << m_stderrText;
    EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT"));
    EXPECT_NE(readFile(m_dir / "home/tollavar/runs.jsonl").find("\"outcome\":\"converted\""), std::string::npos);
}

TEST_F(UnattendedRunTest, AnUnreachableDisplayCountsAsNone)
{
    const std::string silent = ":" + std::to_string(5000 + ::getpid() % 1000);
    std::filesystem::create_directories(m_dir / "run");
    m_environment = "DISPLAY=" + silent + " WAYLAND_DISPLAY=wayland-gone XDG_RUNTIME_DIR=" + shellQuoted(m_dir / "run");
    ASSERT_EQ(run("/c:" + shellQuoted(m_config)), 0) << m_stderrText;
    EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT"));

    // Nobody can see a window there, so a start that needs one says why instead of aborting.
    EXPECT_EQ(run(""), 2);
    EXPECT_NE(m_stderrText.find("DISPLAY=" + silent + " and WAYLAND_DISPLAY=wayland-gone cannot be reached"),
              std::string::npos)
        << m_stderrText;
}

} // namespace
} // namespace tollavar
