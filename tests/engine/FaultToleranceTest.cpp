#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/FileSystem.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/FileInventory.h"
#include "support/KindPrompter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

constexpr const char* kDatagroup = "out/DEFC0001";

std::string imagePath(int line)
{
    char path[32];
    std::snprintf(path, sizeof path, "\\B%d\\%04d.TIF", line <= 10 ? 1 : 2, line);
    return path;
}

// A 20-line batch converted into a datagroup that already holds two documents, one of whose images
// has the name a line of the batch brings again (duplicates allowed). Every line has its image, every
// fourth its full-text file.
class ConversionFaults : public ::testing::Test
{
protected:
    ConversionFaults()
    {
        writeFile(m_seed / "scans/B1/0003.TIF", "old-3");
        writeFile(m_seed / "scans/B0/0000.TIF", "old-0");
        writeFile(m_seed / "in/batch.csv", "Old,\\B1\\0003.TIF,1,0\r\nOld,\\B0\\0000.TIF,1,0\r\n");
        KindPrompter quiet;
        EXPECT_TRUE(run(m_seed.path(), quiet));
        m_previous = readFile(m_seed / kDatagroup + "/DATAGRP.XML");

        std::string batch;
        for (int line = 1; line <= 20; ++line) {
            const std::string image = imagePath(line);
            const std::string onDisk = m_seed / ("scans" + files::nativePath(image));
            writeFile(onDisk, "img-" + std::to_string(line));
            if (line % 4 == 0)
                writeFile(onDisk.substr(0, onDisk.size() - 4) + ".txt", "text-" + std::to_string(line));
            batch += "Name " + std::to_string(line) + "," + image + ",1," + std::to_string(line) + "\r\n";
        }
        writeFile(m_seed / "in/batch.csv", batch);
    }
    ~ConversionFaults() override { faults::disarm(); }

    bool run(const std::string& root, Prompter& prompter)
    {
        ConversionSettings settings;
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
        settings.fieldTypes = "text|text|number|number";
        settings.imageFolder = root + "/scans";
        settings.allowDuplicates = true;
        RunFlags flags;
        FakeHost host;
        ConversionContext context{settings, flags, m_services.fileTools, prompter, host};
        return convertIndexFile(context, root + "/in/batch.csv", root + "/" + kDatagroup + "/DATAGRP.XML",
                                "REZI_DATAGRP", "DOCUMENT");
    }

    // A fresh copy of the seed, so that every run starts from the same disk.
    void resetWork()
    {
        std::filesystem::remove_all(m_work.path());
        std::filesystem::copy(m_seed.path(), m_work.path(), std::filesystem::copy_options::recursive);
    }

    // Where each file's bytes may be after a run: at the seed's place or at the clean run's.
    std::map<std::string, std::pair<std::string, std::string>>
    placesByContent(const std::map<std::string, std::string>& before,
                    const std::map<std::string, std::string>& after) const
    {
        std::map<std::string, std::pair<std::string, std::string>> places;
        for (const auto& [path, bytes] : before)
            places[bytes].first = path;
        for (const auto& [path, bytes] : after)
            places[bytes].second = path;
        return places;
    }

    static long lastDocId(const std::string& bytes)
    {
        DatagroupDocument document;
        document.parseExisting(bytes);
        return document.locateDocuments();
    }

    TempDir m_seed;
    TempDir m_work;
    FakeServices m_services;
    std::string m_previous;
};

bool isDatagroupXml(const std::string& path)
{
    return path.ends_with(".XML") && path.find("DATAGRP") != std::string::npos;
}

std::map<std::string, std::string> withoutXml(std::map<std::string, std::string> files)
{
    std::erase_if(files, [](const auto& entry) { return isDatagroupXml(entry.first); });
    return files;
}

} // namespace

TEST_F(ConversionFaults, EveryFailingOperationIsReportedAndLosesNothing)
{
    // The clean run: how many operations it makes, what it writes and where every file ends up.
    resetWork();
    const auto seedFiles = withoutXml(filesUnder(m_work.path()));
    KindPrompter quiet;
    faults::arm({});
    ASSERT_TRUE(run(m_work.path(), quiet));
    const long operations = faults::operationsSinceArmed();
    faults::disarm();
    RecordProperty("operations", static_cast<int>(operations));
    ASSERT_TRUE(quiet.seen.empty());
    const std::string converted = readFile(m_work / kDatagroup + "/DATAGRP.XML");
    ASSERT_EQ(lastDocId(m_previous), 2);
    ASSERT_EQ(lastDocId(converted), 22);
    const auto cleanFiles = withoutXml(filesUnder(m_work.path()));
    ASSERT_EQ(cleanFiles.count(std::string(kDatagroup) + "/B1/0003-0001.tif"), 1u) << "the duplicate was numbered";
    ASSERT_EQ(cleanFiles.count(std::string(kDatagroup) + "/B1/0004.PVFULLTEXT"), 1u);
    const auto places = placesByContent(seedFiles, cleanFiles);
    ASSERT_EQ(places.size(), seedFiles.size()) << "every file's bytes are unique";

    const struct
    {
        int error;
        bool persistent;
        MessageAnswer undo;
    } passes[] = {
        {ENOSPC, false, MessageAnswer::Yes},
        {EACCES, true, MessageAnswer::No},
        {EIO, false, MessageAnswer::No},
        {EIO, true, MessageAnswer::Yes},
    };
    for (const auto& pass : passes) {
        for (long k = 1; k <= operations; ++k) {
            SCOPED_TRACE("errno " + std::to_string(pass.error) + (pass.persistent ? " from" : " at") + " operation " +
                         std::to_string(k));
            resetWork();
            KindPrompter prompter;
            prompter.answer(MessageKind::ConversionFailure, MessageAnswer::Ok);
            prompter.answer(MessageKind::UndoOffer, pass.undo);
            prompter.answer(MessageKind::MovedFilesStay, MessageAnswer::Ok);
            faults::arm({k, pass.error, pass.persistent});
            const bool ok = run(m_work.path(), prompter);
            faults::disarm();

            // Every operation of a clean run is needed: its failure fails the run, and says so.
            ASSERT_FALSE(ok);
            ASSERT_FALSE(prompter.seen.empty());
            ASSERT_EQ(prompter.seen.front().kind, MessageKind::ConversionFailure);
            // "<code> - <description>\rLine # <step>"
            const std::string& text = prompter.seen.front().text;
            const size_t dash = text.find(" - ");
            const size_t line = text.rfind("\rLine # ");
            ASSERT_TRUE(dash != std::string::npos && line != std::string::npos && dash < line) << text;
            EXPECT_EQ(std::stoi(text.substr(0, dash)), errorNumber(errorCodeForErrno(pass.error)));
            const int step = std::stoi(text.substr(line + 8));
            EXPECT_TRUE(step >= 2 && step <= 19) << step;

            // DATAGRP.XML is one whole version; so is every backup. An undo that went through leaves
            // the original in place (Yes) or in the backup (No).
            const auto after = filesUnder(m_work.path());
            const std::string xml = after.at(std::string(kDatagroup) + "/DATAGRP.XML");
            EXPECT_TRUE(xml == m_previous || xml == converted);
            int backups = 0;
            for (const auto& [path, bytes] : after) {
                if (isDatagroupXml(path) && !path.ends_with("/DATAGRP.XML")) {
                    ++backups;
                    EXPECT_TRUE(bytes == m_previous || bytes == converted) << path;
                }
            }
            const bool undoAsked = prompter.count(MessageKind::UndoOffer) == 1;
            EXPECT_EQ(undoAsked, step >= 4);
            if (undoAsked && prompter.count(MessageKind::ConversionFailure) == 1) {
                EXPECT_EQ(backups, 1);
                const std::string& original =
                    pass.undo == MessageAnswer::Yes ? xml : after.at(std::string(kDatagroup) + "/DATAGRP-0001.XML");
                EXPECT_EQ(original, m_previous);
            }

            // Every image and full-text file is in exactly one of its two places.
            std::map<std::string, int> seen;
            for (const auto& [path, bytes] : withoutXml(after)) {
                ASSERT_EQ(places.count(bytes), 1u) << "unknown file " << path;
                const auto& [from, to] = places.at(bytes);
                EXPECT_TRUE(path == from || path == to) << path;
                ++seen[bytes];
            }
            EXPECT_EQ(seen.size(), places.size()) << "a file was lost";
            for (const auto& [bytes, count] : seen)
                EXPECT_EQ(count, 1) << places.at(bytes).first;
            EXPECT_EQ(leftoverTemporary(m_work.path()), "");
        }
    }
}
