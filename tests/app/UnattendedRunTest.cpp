#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

namespace tollavar {
namespace {

using testing::exists;
using testing::readFile;
using testing::TempDir;
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

        ConversionSettings s;
        s.txtIDX = dir / "in/batch.csv";
        s.txtXML = dir / "out/DATAGRP.XML";
        s.txtDGNUMBER = "1";
        s.txtDGCOMPID = "EXMP";
        s.txtFNAMES = "Name|IMAGEPATH|PAGECOUNT|ID";
        s.txtFTYPES = "text|text|number|number";
        s.txtImageFolder = dir / "images";
        writeFile(config, SerializeConfig(s));
    }

    int run(const std::string& arguments)
    {
        const std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=" + shellQuoted(dir / "home") +
            " timeout 300 " + shellQuoted(std::string(TOLLAVAR_BINARY_DIR) + "/tollavar") + " " + arguments +
            " </dev/null 2>" + shellQuoted(dir / "stderr.txt");
        const int status = std::system(command.c_str());
        stderrText = exists(dir / "stderr.txt") ? readFile(dir / "stderr.txt") : "";
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir;
    std::string config = dir / "configs/batch.tvr";
    std::string datagroup = dir / "out/EXMP0001";
    std::string stderrText;
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

} // namespace
} // namespace tollavar
