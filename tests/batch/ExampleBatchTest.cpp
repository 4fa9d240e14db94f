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

// The bundled example is opened where it was copied to, from whatever folder the program started in,
// as a file manager or the Open dialog opens it.
TEST_F(BatchTest, TheExampleBatchConvertsWhereItLiesWithItsRelativePaths)
{
    const fs::path example = fs::path(TOLLAVAR_TEST_DATA_DIR) / "../../examples/batch";
    fs::copy(example, m_dir / "copy", fs::copy_options::recursive);
    fs::create_directories(m_dir / "home");
    const fs::path before = fs::current_path();
    fs::current_path(m_dir / "home");
    struct Restore
    {
        fs::path folder;
        ~Restore() { fs::current_path(folder); }
    } restore{before};

    m_dialog.choose(m_dir / "copy/example.tvr");
    ASSERT_EQ(openConfig(m_ctx, ""), OpenConfigResult::Opened);
    EXPECT_EQ(m_settings.indexFiles, "*.csv");
    const ConvertOutcome outcome = convertCommand(m_ctx);
    EXPECT_TRUE(outcome.ranToEnd);
    EXPECT_EQ(outcome.notices, std::vector<std::string>{});

    EXPECT_TRUE(fs::exists(m_dir / "copy/out/EXMP0001/DATAGRP.XML"));
    EXPECT_TRUE(fs::exists(m_dir / "copy/out/EXMP0001/DATAGRP.SUBMIT"));
    EXPECT_TRUE(fs::exists(m_dir / "copy/out/EXMP0001/B1/0001.TIF"));
    EXPECT_FALSE(fs::exists(m_dir / "copy/images/B1/0001.TIF"));
    EXPECT_FALSE(fs::exists(m_dir / "home/out"));
    // Saved back as it was written: still relative, so the copy goes on working where it lies.
    std::ifstream saved(m_dir / "copy/example.tvr", std::ios::binary);
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_EQ(text.str().substr(0, 24), "*.csv\r\nout/DATAGRP.XML\r\n");
}

} // namespace
} // namespace tollavar::testing
