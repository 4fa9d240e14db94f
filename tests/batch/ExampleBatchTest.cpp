#include "BatchFixture.h"

#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tollavar::testing {
namespace {

namespace fs = std::filesystem;

// The bundled example is opened from the folder it was copied to, as the manual tells a user to.
TEST_F(BatchTest, TheExampleBatchConvertsWhereItLiesWithItsRelativePaths)
{
    const fs::path example = fs::path(TOLLAVAR_TEST_DATA_DIR) / "../../examples/batch";
    fs::copy(example, m_dir.path(), fs::copy_options::recursive);
    const fs::path before = fs::current_path();
    fs::current_path(m_dir.path());
    struct Restore
    {
        fs::path folder;
        ~Restore() { fs::current_path(folder); }
    } restore{before};

    m_configFile = "example.tvr";
    ASSERT_EQ(openConfig(m_ctx, m_configFile), OpenConfigResult::Opened);
    // An exact item written relative selects nothing (listed files carry full paths); a pattern is
    // listed in the current folder.
    EXPECT_EQ(m_settings.indexFiles, "*.csv");
    const ConvertOutcome outcome = convertCommand(m_ctx);
    EXPECT_TRUE(outcome.ranToEnd);
    EXPECT_EQ(outcome.notices, std::vector<std::string>{});

    EXPECT_TRUE(fs::exists(m_dir / "out/EXMP0001/DATAGRP.XML"));
    EXPECT_TRUE(fs::exists(m_dir / "out/EXMP0001/DATAGRP.SUBMIT"));
    EXPECT_TRUE(fs::exists(m_dir / "out/EXMP0001/B1/0001.TIF"));
    EXPECT_FALSE(fs::exists(m_dir / "images/B1/0001.TIF"));
    EXPECT_FALSE(fs::exists(m_dir / "@DIR@"));
    // Saved back as it was written: still relative, so the copy goes on working where it lies.
    std::ifstream saved(m_dir / "example.tvr", std::ios::binary);
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_EQ(text.str().substr(0, 24), "*.csv\r\nout/DATAGRP.XML\r\n");
}

} // namespace
} // namespace tollavar::testing
