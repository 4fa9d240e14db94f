#include "BatchFixture.h"
#include "InProcessWatch.h"

#include "batch/GrownFiles.h"
#include "engine/ConversionObserver.h"
#include "support/ExampleBatchSettings.h"
#include "support/KindPrompter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tollavar;
using namespace tollavar::testing;
using namespace std::chrono_literals;

namespace {

std::string lines(int from, int to)
{
    std::string text;
    for (int i = from; i <= to; ++i)
        text += "D" + std::to_string(i) + ",\\B1\\" + std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    return text;
}

void append(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

// The station, appending to an index file the moment its conversion begins, and keeping it open for
// writing until told: the watch leaves the rest for later.
class AppendWhileConverting : public ConversionObserver
{
public:
    void indexFileStarted(std::string_view indexFile, long) override
    {
        if (pending.empty() || indexFile != file)
            return;
        writer.open(file, std::ios::binary | std::ios::app);
        writer << std::exchange(pending, {}) << std::flush;
    }
    std::string file;
    std::string pending;
    std::ofstream writer;
};

} // namespace

class GrownFileTest : public BatchTest
{
protected:
    void SetUp() override
    {
        m_settings = exampleBatchSettings(m_dir, "in/*.csv");
        m_settings.maxDocuments = "100000";
        m_settings.skipHeaderLine = true;
        m_configFile = m_dir / "batch.tvr";
        std::filesystem::create_directories(m_dir / "in");
        for (int i = 1; i <= 210; ++i)
            writeFile(m_dir / ("images/B1/" + std::to_string(i) + ".TIF"), "II*");
        m_options.settle = 0ms;
        m_options.stateFolder = m_dir / "state";
        m_watchCtx.progress = &m_station;
    }

    std::string xml() const
    {
        const std::string path = m_dir / "out/EXMP0001/DATAGRP.XML";
        return exists(path) ? readFile(path) : "";
    }

    KindPrompter m_answers;
    AppendWhileConverting m_station;
    WatchOptions m_options;
    CommandContext m_watchCtx{m_settings, m_configFile, m_flags,  m_services.fileTools,
                              m_answers,  m_host,       m_dialog, m_ctx.words};
};

TEST_F(GrownFileTest, OnlyAppendedLinesAreConvertedAcrossARestartAndARewriteIsConvertedWhole)
{
    const std::string index = m_dir / "in/batch.csv";
    m_station.file = index;
    m_station.pending = lines(101, 150);
    const GrownFiles records(m_options.stateFolder);
    std::string log = watchWhile(m_watchCtx, m_options, [&] {
        writeFile(index, "Name,IMAGEPATH,PAGECOUNT,ID\r\n" + lines(1, 100));
        EXPECT_TRUE(waitFor([&] { return records.find(index).has_value(); }, 15s));
    });
    EXPECT_TRUE(exists(index)) << log;

    // The watch is started again after the station has written more.
    m_station.writer.close();
    append(index, lines(151, 200));
    log += watchWhile(m_watchCtx, m_options, [&] { EXPECT_TRUE(waitFor([&] { return !exists(index); }, 15s)); });
    const std::string text = xml();
    EXPECT_EQ(occurrences(text, "</DOCUMENT>"), 200) << log;
    for (int i = 1; i <= 200; ++i) {
        EXPECT_EQ(occurrences(text, "\\B1\\" + std::to_string(i) + ".TIF<"), 1) << "document " << i << "\n" << log;
        EXPECT_TRUE(exists(m_dir / ("out/EXMP0001/B1/" + std::to_string(i) + ".TIF"))) << i;
    }
    EXPECT_TRUE(m_answers.seen.empty()) << m_answers.seen.front().text << "\n" << log;
    EXPECT_FALSE(records.find(index)) << "the record goes with the file";

    // A file rewritten after part of it was converted is a new file.
    const std::string rewritten = m_dir / "in/again.csv";
    m_station.file = rewritten;
    m_station.pending = lines(202, 202);
    log = watchWhile(m_watchCtx, m_options, [&] {
        writeFile(rewritten, "Name,IMAGEPATH,PAGECOUNT,ID\r\n" + lines(201, 201));
        EXPECT_TRUE(waitFor([&] { return records.find(rewritten).has_value(); }, 15s));
    });
    m_station.writer.close();
    ASSERT_TRUE(exists(rewritten)) << log;
    writeFile(rewritten, "Name,IMAGEPATH,PAGECOUNT,ID\r\n" + lines(203, 205));
    log = watchWhile(m_watchCtx, m_options, [&] { EXPECT_TRUE(waitFor([&] { return !exists(rewritten); }, 15s)); });
    EXPECT_EQ(occurrences(log, rewritten + " was rewritten since part of it was converted"), 1) << log;
    EXPECT_EQ(occurrences(xml(), "</DOCUMENT>"), 204) << log;
}
