#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/FileInventory.h"
#include "support/KindPrompter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

const struct
{
    int error;
    bool persistent;
    MessageAnswer undo;
} kPasses[] = {
    {ENOSPC, false, MessageAnswer::Yes},
    {EACCES, true, MessageAnswer::No},
    {EIO, false, MessageAnswer::No},
};

std::string passName(int error, bool persistent, long k)
{
    return "errno " + std::to_string(error) + (persistent ? " from" : " at") + " operation " + std::to_string(k);
}

// One window's worth of command state over a work folder, answering every message by its kind.
struct Window
{
    explicit Window(const std::string& root)
    {
        settings.indexFiles = root + "/in/*.idx";
        settings.xmlFilePath = root + "/out/DATAGRP.XML";
        settings.companyId = "DEFC";
        settings.datagroupNumber = "1";
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
        settings.fieldTypes = "text|text|number";
        settings.imageFolder = root + "/scans";
        settings.maxDocuments = "3";
        settings.removeProcessedFiles = true;
        configFile = root + "/setup.tvr";
        for (MessageKind kind :
             {MessageKind::ConversionFailure, MessageKind::MovedFilesStay, MessageKind::ConfigSaveFailure,
              MessageKind::CommandFailure, MessageKind::InterruptedRun})
            prompter.answer(kind, MessageAnswer::Ok);
    }

    ConversionSettings settings;
    std::string configFile;
    RunFlags flags;
    FakeServices services;
    KindPrompter prompter;
    FakeHost host;
    FakeDialog dialog;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
};

class CommandFaults : public ::testing::Test
{
protected:
    ~CommandFaults() override { faults::disarm(); }

    TempDir m_seed;
    TempDir m_work;
};

} // namespace

TEST_F(CommandFaults, SaveConfigLeavesOneWholeConfiguration)
{
    Window window(m_work.path());
    const std::string path = window.configFile;
    const std::string before = "previous contents\r\n";
    const std::string after = serializeConfig(window.settings);
    writeFile(path, before);
    faults::arm({});
    saveConfig(window.ctx, path);
    const long operations = faults::operationsSinceArmed();
    faults::disarm();
    ASSERT_EQ(readFile(path), after);

    for (const auto& pass : kPasses) {
        for (long k = 1; k <= operations; ++k) {
            SCOPED_TRACE(passName(pass.error, pass.persistent, k));
            writeFile(path, before);
            window.prompter.seen.clear();
            faults::arm({k, pass.error, pass.persistent});
            saveConfig(window.ctx, path);
            faults::disarm();
            ASSERT_EQ(window.prompter.seen.size(), 1u);
            EXPECT_EQ(window.prompter.seen[0].kind, MessageKind::ConfigSaveFailure);
            EXPECT_TRUE(window.prompter.seen[0].text.starts_with(
                std::to_string(errorNumber(errorCodeForErrno(pass.error))) + " - "))
                << window.prompter.seen[0].text;
            const std::string left = readFile(path);
            EXPECT_TRUE(left == before || left == after);
            EXPECT_EQ(leftoverTemporary(m_work.path()), "");
        }
    }
}

// Two index files through the real conversion into a new datagroup that the second one fills: the
// marker, the number and the configuration on disk must tell the same story whatever failed (the
// lock and the recovery journal's own writes included), and the next command, run as it is, must
// end where the clean command ends.
TEST_F(CommandFaults, ConvertCommandKeepsMarkerNumberAndFilesConsistent)
{
    writeFile(m_seed / "scans/B1/0001.TIF", "img-1");
    writeFile(m_seed / "scans/B1/0001.txt", "text-1");
    writeFile(m_seed / "scans/B1/0002.TIF", "img-2");
    writeFile(m_seed / "scans/B2/0003.TIF", "img-3");
    writeFile(m_seed / "scans/B2/0004.TIF", "img-4");
    writeFile(m_seed / "in/a.idx", "A,\\B1\\0001.TIF,1\r\nB,\\B1\\0002.TIF,1\r\n");
    writeFile(m_seed / "in/b.idx", "C,\\B2\\0003.TIF,1\r\nD,\\B2\\0004.TIF,1\r\n");
    const auto resetWork = [&] {
        std::filesystem::remove_all(m_work.path());
        std::filesystem::copy(m_seed.path(), m_work.path(), std::filesystem::copy_options::recursive);
        Window fresh(m_work.path());
        writeFile(fresh.configFile, serializeConfig(fresh.settings));
    };
    const std::string xmlPath = m_work / "out/DEFC0001/DATAGRP.XML";
    const std::string marker = m_work / "out/DEFC0001/DATAGRP.SUBMIT";

    // The clean command, keeping DATAGRP.XML as each conversion left it.
    resetWork();
    const auto seedFiles = filesUnder(m_work / "scans");
    Window clean(m_work.path());
    const std::string configBefore = serializeConfig(clean.settings);
    std::vector<std::string> versions;
    const IndexFileConverter recording = [&](ConversionContext& c, const std::string& i, const std::string& x,
                                             const std::string& r, const std::string& d) {
        const bool ok = convertIndexFile(c, i, x, r, d);
        versions.push_back(readFile(x));
        return ok;
    };
    faults::arm({});
    ASSERT_TRUE(convertCommand(clean.ctx, recording).ranToEnd);
    const long operations = faults::operationsSinceArmed();
    faults::disarm();
    ASSERT_TRUE(clean.prompter.seen.empty());
    ASSERT_EQ(versions.size(), 2u);
    ASSERT_EQ(clean.settings.datagroupNumber, "2");
    const std::string configAfter = serializeConfig(clean.settings);
    ASSERT_EQ(readFile(clean.configFile), configAfter);
    std::map<std::string, std::pair<std::string, std::string>> places;
    for (const auto& [path, bytes] : seedFiles)
        places[bytes].first = "scans/" + path;
    for (const auto& [path, bytes] : filesUnder(m_work / "out/DEFC0001")) {
        if (!path.starts_with("DATAGRP"))
            places[bytes].second = "out/DEFC0001/" + path;
    }
    ASSERT_EQ(places.size(), seedFiles.size()) << "every file's bytes are unique";

    for (const auto& pass : kPasses) {
        for (long k = 1; k <= operations; ++k) {
            SCOPED_TRACE(passName(pass.error, pass.persistent, k));
            resetWork();
            Window window(m_work.path());
            window.prompter.answer(MessageKind::UndoOffer, pass.undo);
            faults::arm({k, pass.error, pass.persistent});
            const ConvertOutcome outcome = convertCommand(window.ctx);
            faults::disarm();
            ASSERT_FALSE(window.prompter.seen.empty()) << "a failure went unreported";

            // The advance and then the marker, only at the command's end: a failure to write the marker
            // itself leaves the advanced datagroup for the next command to mark.
            const bool markerFailed = !outcome.ranToEnd && window.settings.datagroupNumber == "2";
            EXPECT_EQ(exists(marker), outcome.ranToEnd);
            EXPECT_EQ(window.settings.datagroupNumber, outcome.ranToEnd || markerFailed ? "2" : "1");
            const std::string config = readFile(window.configFile);
            EXPECT_TRUE(config == configBefore || config == configAfter);
            EXPECT_TRUE(config == configBefore || outcome.ranToEnd || markerFailed);

            // DATAGRP.XML: none yet, the empty file of the new datagroup, or one conversion's whole result;
            // an index file is gone only when its documents are in it.
            const std::optional<std::string> xml =
                exists(xmlPath) ? std::optional<std::string>(readFile(xmlPath)) : std::nullopt;
            const int done = !xml || xml->empty() ? 0 : xml == versions[0] ? 1 : xml == versions[1] ? 2 : -1;
            ASSERT_NE(done, -1) << "DATAGRP.XML is no version of the run:\n" << *xml;
            EXPECT_TRUE(!outcome.ranToEnd || done == 2);
            EXPECT_TRUE(exists(m_work / "in/a.idx") || done >= 1);
            EXPECT_TRUE(exists(m_work / "in/b.idx") || done == 2);
            for (const auto& [path, bytes] : filesUnder(m_work / "out/DEFC0001")) {
                EXPECT_TRUE(!path.starts_with("DATAGRP-") || bytes == versions[0] || bytes == versions[1]) << path;
            }

            // Every image and full-text file in exactly one of its two places, no temporary file.
            std::map<std::string, int> seen;
            for (const auto& [folder, prefix] :
                 {std::pair{m_work / "scans", "scans/"}, {m_work / "out/DEFC0001", "out/DEFC0001/"}}) {
                for (const auto& [path, bytes] : filesUnder(folder)) {
                    if (!places.count(bytes) || path.starts_with("DATAGRP"))
                        continue;
                    EXPECT_TRUE(prefix + path == places[bytes].first || prefix + path == places[bytes].second) << path;
                    ++seen[bytes];
                }
            }
            EXPECT_EQ(seen.size(), seedFiles.size()) << "a file was lost";
            for (const auto& [bytes, count] : seen)
                EXPECT_EQ(count, 1) << places[bytes].first;
            EXPECT_EQ(leftoverTemporary(m_work.path()), "");

            // Which error struck matters little to the recovery; once over every operation is enough. With
            // the undo taken the user has been told to move the files back: the journal ends there.
            if (&pass != &kPasses[1])
                continue;
            Window again(m_work.path());
            EXPECT_TRUE(convertCommand(again.ctx).ranToEnd);
            EXPECT_EQ(again.prompter.count(MessageKind::ConversionFailure), 0u);
            ASSERT_TRUE(exists(xmlPath));
            EXPECT_EQ(readFile(xmlPath), versions[1]);
            EXPECT_FALSE(exists(m_work / "in/a.idx") || exists(m_work / "in/b.idx"));
            EXPECT_TRUE(exists(marker));
            for (const auto& [bytes, where] : places)
                EXPECT_TRUE(exists(m_work / where.second)) << where.second;
            const auto left = filesUnder(m_work / "out/DEFC0001");
            EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const auto& f) { return f.first.starts_with("."); }),
                      0)
                << "no lock, journal or temporary file stays";
        }
    }
}
