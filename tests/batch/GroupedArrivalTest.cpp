#include "BatchFixture.h"
#include "InProcessWatch.h"

#include "support/ExampleBatchSettings.h"
#include "support/KindPrompter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>

using namespace tollavar;
using namespace tollavar::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A station that writes the index file first and its images after.
class GroupedArrivalTest : public BatchTest
{
protected:
    void SetUp() override
    {
        m_settings = exampleBatchSettings(m_dir, "in/*.csv");
        m_settings.maxDocuments = "100000";
        m_configFile = m_dir / "batch.tvr";
        std::filesystem::create_directories(m_dir / "in");
        std::filesystem::create_directories(m_dir / "images/B1");
        m_answers.answer(MessageKind::SourceMissing, MessageAnswer::No);
        m_answers.answer(MessageKind::ConversionFailure, MessageAnswer::Ok);
        m_answers.answer(MessageKind::UndoOffer, MessageAnswer::Yes);
        m_answers.answer(MessageKind::MovedFilesStay, MessageAnswer::Ok);
    }

    static std::string indexLines(int count, const std::string& lastImage = {})
    {
        std::string text;
        for (int i = 1; i <= count; ++i) {
            const std::string image = i == count && !lastImage.empty() ? lastImage : std::to_string(i) + ".TIF";
            text += "D" + std::to_string(i) + ",\\B1\\" + image + ",1," + std::to_string(i) + "\r\n";
        }
        return text;
    }

    KindPrompter m_answers;
    CommandContext m_watchCtx{m_settings, m_configFile, m_flags,  m_services.fileTools,
                              m_answers,  m_host,       m_dialog, m_ctx.words};
};

TEST_F(GroupedArrivalTest, AnIndexFileWaitsForItsImagesAndAfterTheGroupWaitNamesTheOneMissing)
{
    WatchOptions options;
    options.settle = 1s;
    options.groupWait = 3s;
    const std::string index = m_dir / "in/batch.csv";
    Clock::time_point lastImage;
    Clock::time_point converted;
    std::string log = watchWhile(m_watchCtx, options, [&] {
        writeFile(index, indexLines(200));
        std::vector<int> order(200);
        std::iota(order.begin(), order.end(), 1);
        std::shuffle(order.begin(), order.end(), std::mt19937(32));
        for (size_t i = 0; i < order.size(); ++i) {
            writeFile(m_dir / ("images/B1/" + std::to_string(order[i]) + ".TIF"), "II*");
            if (i % 20 == 19)
                std::this_thread::sleep_for(300ms);
        }
        lastImage = Clock::now();
        EXPECT_TRUE(waitFor([&] { return !exists(index); }, 15s));
        converted = Clock::now();
    });
    EXPECT_EQ(occurrences(log, "converted " + index), 1) << log;
    EXPECT_EQ(occurrences(log, "failed"), 0) << log;
    EXPECT_EQ(occurrences(log, "images named by " + index), 1) << log;
    EXPECT_TRUE(m_answers.seen.empty()) << m_answers.seen.front().text;
    EXPECT_LE(converted - lastImage, options.settle + 2s) << log;
    EXPECT_TRUE(exists(m_dir / "out/EXMP0001/B1/200.TIF"));

    // One image never comes: after the group wait the run itself says which.
    for (int i = 1; i <= 2; ++i)
        writeFile(m_dir / ("images/B1/late" + std::to_string(i) + ".TIF"), "II*");
    const std::string second = m_dir / "in/second.csv";
    Clock::time_point written;
    log = watchWhile(m_watchCtx, options, [&] {
        writeFile(second, "L1,\\B1\\late1.TIF,1,1\r\nL2,\\B1\\late2.TIF,1,2\r\nL3,\\B1\\never.TIF,1,3\r\n");
        written = Clock::now();
        EXPECT_TRUE(waitFor([&] { return m_answers.count(MessageKind::SourceMissing) > 0; }, 15s));
    });
    EXPECT_GE(Clock::now() - written, options.settle + *options.groupWait) << log;
    EXPECT_NE(m_answers.last(MessageKind::SourceMissing).text.find("never.TIF"), std::string::npos);
    EXPECT_EQ(occurrences(log, "waiting for 1 images named by " + second), 1) << log;
    EXPECT_EQ(occurrences(log, "failed " + second), 1) << log;
}
