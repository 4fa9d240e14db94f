#include "BatchFixture.h"
#include "InProcessWatch.h"

#include "batch/RunMetrics.h"
#include "support/ExampleBatchSettings.h"
#include "support/KindPrompter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace tollavar;
using namespace tollavar::testing;
using namespace std::chrono_literals;

class RunMetricsTest : public BatchTest
{
protected:
    void SetUp() override
    {
        m_settings = exampleBatchSettings(m_dir, "in/*.csv");
        m_settings.maxDocuments = "2500";
        std::filesystem::create_directories(m_dir / "in");
        m_configFile = m_dir / "batch.tvr";
    }

    // The value of the sample whose line begins with `name` and holds `label`; -1 when there is none.
    static double sample(const std::string& text, const std::string& name, const std::string& label = {})
    {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(name + "{") && line.find(label) != std::string::npos)
                return std::stod(line.substr(line.rfind(' ') + 1));
        }
        return -1;
    }

    std::string m_metrics = m_dir / "tollavar.prom";
};

TEST_F(RunMetricsTest, AWatchOverThreeFilesOneFailingWritesWhatPromtoolAccepts)
{
    for (int i = 1; i <= 3; ++i)
        writeFile(m_dir / ("images/B1/" + std::to_string(i) + ".TIF"), "II*");
    writeFile(m_dir / "in/a.csv", "A,\\B1\\1.TIF,1,1\r\nB,\\B1\\2.TIF,1,2\r\n");
    writeFile(m_dir / "in/b.csv", "C,\\B1\\3.TIF,1,3\r\n");
    writeFile(m_dir / "in/c.csv", "D,\\B1\\missing.TIF,1,4\r\n");
    KindPrompter answers;
    answers.answer(MessageKind::SourceMissing, MessageAnswer::No);
    answers.answer(MessageKind::ConversionFailure, MessageAnswer::Ok);
    answers.answer(MessageKind::UndoOffer, MessageAnswer::Yes);
    answers.answer(MessageKind::MovedFilesStay, MessageAnswer::Ok);
    CommandContext ctx{m_settings, m_configFile, m_flags, m_services.fileTools, answers, m_host, m_dialog, m_ctx.words};
    RunMetrics metrics(m_metrics, m_settings, m_configFile);
    WatchOptions options;
    options.settle = 0ms;
    options.metrics = &metrics;
    const std::string log = watchWhile(ctx, options, [&] {
        EXPECT_TRUE(waitFor(
            [&] {
                return exists(m_metrics) && sample(readFile(m_metrics), "tollavar_index_files_waiting") == 1 &&
                       sample(readFile(m_metrics), "tollavar_documents_total") == 3;
            },
            10s));
    });

    const std::string text = readFile(m_metrics);
    const std::string config = "config=\"" + m_configFile + "\"";
    EXPECT_EQ(sample(text, "tollavar_documents_total", config), 3) << text << log;
    EXPECT_EQ(sample(text, "tollavar_commands_total", "outcome=\"failed\""), 1) << text;
    EXPECT_EQ(sample(text, "tollavar_commands_total", "outcome=\"converted\""), -1) << text;
    EXPECT_EQ(sample(text, "tollavar_index_files_waiting", config), 1) << text;
    EXPECT_GE(sample(text, "tollavar_oldest_waiting_seconds", config), 0) << text;
    EXPECT_EQ(sample(text, "tollavar_datagroup_number", config), 1) << text;
    EXPECT_EQ(sample(text, "tollavar_datagroup_documents", config), 3) << text;
    EXPECT_EQ(sample(text, "tollavar_datagroup_max_documents", config), 2500) << text;
    // A command with a failure is no success.
    EXPECT_EQ(sample(text, "tollavar_last_success_timestamp_seconds", config), 0) << text;
    EXPECT_TRUE(exists(m_dir / "in/c.csv"));
    // No temporary left beside it.
    long temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        temporaries += entry.path().filename().string().find(".tmp-") != std::string::npos;
    EXPECT_EQ(temporaries, 0);

    if (!std::filesystem::exists("/usr/bin/promtool"))
        GTEST_SKIP() << "promtool is not installed (scripts/dev.sh installs the package prometheus)";
    const std::string command = "promtool check metrics < '" + m_metrics + "' > '" + m_dir / "promtool.txt" + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(m_dir / "promtool.txt") << text;
}

// Runs started one by one (cron, a timer) each write the file: their counts add up, and one that fails
// keeps the time of the last success for an alert on it.
TEST_F(RunMetricsTest, RunsOneAfterAnotherAddUpAndAFailureKeepsTheLastSuccess)
{
    RunRecord converted;
    converted.outcome = "converted";
    converted.files.emplace_back().converted = true;
    converted.files.back().facts.documentsAdded = 4;
    RunRecord failed;
    failed.outcome = "failed";
    failed.exitStatus = 1;
    failed.files.emplace_back();

    {
        RunMetrics first(m_metrics, m_settings, m_configFile);
        first.recordRun(converted);
        first.write();
    }
    const double succeeded = sample(readFile(m_metrics), "tollavar_last_success_timestamp_seconds");
    EXPECT_GT(succeeded, 0);
    {
        RunMetrics second(m_metrics, m_settings, m_configFile);
        second.recordRun(failed);
        second.recordRun(converted);
        second.write();
    }
    {
        RunMetrics third(m_metrics, m_settings, m_configFile);
        third.recordRun(failed);
        third.write();
    }
    const std::string text = readFile(m_metrics);
    EXPECT_EQ(sample(text, "tollavar_documents_total"), 8) << text;
    EXPECT_EQ(sample(text, "tollavar_commands_total", "outcome=\"converted\""), 2) << text;
    EXPECT_EQ(sample(text, "tollavar_commands_total", "outcome=\"failed\""), 2) << text;
    EXPECT_GE(sample(text, "tollavar_last_success_timestamp_seconds"), succeeded) << text;

    // Another configuration's figures are not this one's.
    std::string otherConfig = m_dir / "other.tvr";
    RunMetrics other(m_metrics, m_settings, otherConfig);
    other.write();
    EXPECT_EQ(sample(readFile(m_metrics), "tollavar_documents_total"), 0);
}
