#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "support/FileInventory.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace tollavar {
namespace {

using testing::exists;
using testing::filesUnder;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

constexpr int kLines = 3000;
constexpr int kSeedLines = 5;

// Every text between `open` and `close` in `text`, in order.
std::vector<std::string> between(const std::string& text, const std::string& open, const std::string& close)
{
    std::vector<std::string> found;
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        at += open.size();
        const size_t end = text.find(close, at);
        if (end == std::string::npos)
            break;
        found.push_back(text.substr(at, end - at));
    }
    return found;
}

// Two stations (two cron jobs) converting their own batches into one existing datagroup at the same
// moment: the second run must wait for the first and extend its result, never save over it.
class ConcurrentRunTest : public ::testing::Test
{
protected:
    ConcurrentRunTest()
    {
        for (const std::string station : {"A", "B"}) {
            std::string batch;
            for (int line = 1; line <= kLines; ++line) {
                const std::string image = "\\" + station + "\\" + std::to_string(line) + ".TIF";
                writeFile(m_work / ("images/" + station + "/" + std::to_string(line) + ".TIF"), station + "-img");
                batch += station + " " + std::to_string(line) + "," + image + ",1\r\n";
                m_expectedImages.push_back(image);
            }
            writeFile(m_work / ("in/" + station + ".csv"), batch);
            writeConfig(station, m_work / ("in/" + station + ".csv"));
        }
        std::string seed;
        for (int line = 1; line <= kSeedLines; ++line) {
            const std::string image = "\\S\\" + std::to_string(line) + ".TIF";
            writeFile(m_work / ("images/S/" + std::to_string(line) + ".TIF"), "seed");
            seed += "Seed," + image + ",1\r\n";
            m_expectedImages.push_back(image);
        }
        writeFile(m_work / "in/S.csv", seed);
        writeConfig("S", m_work / "in/S.csv");
    }

    void writeConfig(const std::string& station, const std::string& index)
    {
        ConversionSettings s;
        s.indexFiles = index;
        s.xmlFilePath = m_work / "out/DATAGRP.XML";
        s.companyId = "EXMP";
        s.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
        s.fieldTypes = "text|text|number";
        s.imageFolder = m_work / "images";
        s.maxDocuments = "100000";
        writeFile(m_work / (station + ".tvr"), serializeConfig(s));
    }

    // Puts the images back at their stations and the datagroup back to its seed.
    void resetRound()
    {
        for (const std::string station : {"A", "B", "S"}) {
            const std::string moved = m_datagroup + "/" + station;
            if (!exists(moved))
                continue;
            for (const auto& [name, bytes] : filesUnder(moved))
                std::filesystem::rename(moved + "/" + name, m_work / ("images/" + station + "/" + name));
            std::filesystem::remove_all(moved);
        }
        std::filesystem::remove_all(m_datagroup);
    }

    TempDir m_work;
    std::string m_datagroup = m_work / "out/EXMP0001";
    std::vector<std::string> m_expectedImages;
};

TEST_F(ConcurrentRunTest, TwoRunsIntoOneDatagroupListEveryDocumentOnce)
{
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        resetRound();
        const pid_t seed = testing::startProgram({m_work / "S.tvr"}, m_work / "home", m_work / "seed.txt");
        ASSERT_EQ(testing::exitStatusOf(seed), 0) << readFile(m_work / "seed.txt");

        const pid_t a = testing::startProgram({m_work / "A.tvr"}, m_work / "home", m_work / "a.txt");
        const pid_t b = testing::startProgram({m_work / "B.tvr"}, m_work / "home", m_work / "b.txt");
        EXPECT_EQ(testing::exitStatusOf(a), 0) << readFile(m_work / "a.txt");
        EXPECT_EQ(testing::exitStatusOf(b), 0) << readFile(m_work / "b.txt");

        const std::string xml = readFile(m_datagroup + "/DATAGRP.XML");
        const std::vector<std::string> ids = between(xml, "<DOCUMENT DOCID=\"", "\"");
        ASSERT_EQ(ids.size(), size_t(2 * kLines + kSeedLines));
        for (size_t i = 0; i < ids.size(); ++i)
            ASSERT_EQ(ids[i], std::to_string(i + 1)) << "DOCIDs are unique and consecutive";
        std::map<std::string, int> listed;
        for (const std::string& image : between(xml, "<FILE1>", "</FILE1>"))
            ++listed[image];
        ASSERT_EQ(listed.size(), m_expectedImages.size());
        for (const std::string& image : m_expectedImages) {
            ASSERT_EQ(listed[image], 1) << image;
            std::string onDisk = image;
            std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
            ASSERT_TRUE(exists(m_datagroup + onDisk)) << image;
        }
    }
}

} // namespace
} // namespace tollavar
