#include "batch/RunHistory.h"
#include "app/HistoryCommand.h"
#include "app/LongOptions.h"
#include "app/RunHistoryLog.h"
#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "engine/ConversionSettings.h"
#include "filetools/LineLog.h"
#include "support/ExampleBatchSettings.h"
#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tollavar {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// A window-less Convert command over two index files, one of whose images is missing and left out by
// the answer to the question: the record it appends, and what --history makes of the history.
TEST(RunHistory, RecordsEachIndexFileAndHistoryPrintsItSkippingDamagedLines)
{
    TempDir dir;
    writeFile(dir / "images/B1/0001.TIF", "II*\0first");
    writeFile(dir / "images/B1/0002.TIF", "II*\0second");
    writeFile(dir / "images/B2/0003.TIF", "II*\0third");
    writeFile(dir / "images/B2/0003.txt", "full text");
    const std::string first = "Smith,\\B1\\0001.TIF,1,42\r\n\r\nJones,\\B1\\0002.TIF,2,43\r\n";
    const std::string second = "Brown,\\B2\\0003.TIF,1,44\r\nGreen,\\B2\\0009.TIF,1,45\r\n";
    writeFile(dir / "in/a.csv", first);
    writeFile(dir / "in/b.csv", second);

    ConversionSettings settings = testing::exampleBatchSettings(dir, "in/*.csv");
    std::string configFile = dir / "batch.tvr";
    writeFile(configFile, serializeConfig(settings));
    RunFlags flags;
    testing::FakeServices services;
    testing::FakePrompter prompter;
    testing::FakeHost host;
    testing::FakeDialog dialog;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
    std::ostringstream warnings;
    const std::string log = dir / "state/tollavar/runs.jsonl";
    RunHistoryLog history(log, warnings);
    ctx.runRecords = &history;
    ctx.runMode = "unattended";
    prompter.expect("Source File is Missing", MessageAnswer::Yes);

    const ConvertOutcome outcome = convertCommand(ctx);
    ASSERT_TRUE(prompter.scriptDone());
    const RunRecord& r = outcome.record;
    EXPECT_EQ(r.outcome, "converted");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.mode, "unattended");
    EXPECT_EQ(r.configFile, configFile);
    EXPECT_EQ(r.datagroupFolder, dir / "out/EXMP0001");
    EXPECT_FALSE(r.datagroupFull);
    EXPECT_FALSE(r.recoveryRan);
    EXPECT_FALSE(r.started.empty());
    EXPECT_FALSE(r.user.empty());
    ASSERT_EQ(r.files.size(), 2u);

    struct Expected
    {
        std::string path;
        const std::string& bytes;
        long documents, firstDocId, lastDocId, images, fullTexts, skipped;
        size_t questions;
    };
    const Expected expected[] = {
        {dir / "in/a.csv", first, 2, 1, 2, 2, 0, 1, 0},
        {dir / "in/b.csv", second, 1, 3, 4, 1, 1, 1, 1},
    };
    for (size_t i = 0; i < 2; ++i) {
        const IndexFileRecord& f = r.files[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.path);
        EXPECT_EQ(f.path, e.path);
        EXPECT_TRUE(f.converted);
        EXPECT_EQ(f.facts.bytes, static_cast<long long>(e.bytes.size()));
        EXPECT_EQ(f.facts.fingerprint, files::contentFingerprint(e.bytes));
        EXPECT_EQ(f.facts.documentsAdded, e.documents);
        EXPECT_EQ(f.facts.firstDocId, e.firstDocId);
        EXPECT_EQ(f.facts.lastDocId, e.lastDocId);
        EXPECT_EQ(f.facts.imagesMoved, e.images);
        EXPECT_EQ(f.facts.fullTextsMoved, e.fullTexts);
        EXPECT_EQ(f.facts.linesSkipped, e.skipped);
        EXPECT_EQ(f.questions.size(), e.questions);
    }
    ASSERT_EQ(r.files[1].questions.size(), 1u);
    EXPECT_EQ(r.files[1].questions[0].caption, "Source File is Missing");
    EXPECT_EQ(r.files[1].questions[0].answer, "Yes");
    EXPECT_EQ(r.documentsAdded(), 3);

    // The file holds the same record, read back whole.
    const std::string line = readFile(log);
    ASSERT_TRUE(line.ends_with("\n"));
    EXPECT_EQ(line, runRecordJson(r) + "\n");
    const std::optional<RunRecord> back = runRecordFromJson(line.substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(runRecordJson(*back), runRecordJson(r));
    EXPECT_EQ(warnings.str(), "");

    // A line cut short by a full disk and one that is no record at all are skipped and counted.
    files::appendWholeLine(log, line.substr(0, line.size() / 2));
    files::appendWholeLine(log, "[1,2,3]");
    files::appendWholeLine(log, runRecordJson(r));
    LongOptions options;
    options.history = true;
    options.logFile = log;
    const char* const count[] = {"5"};
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(printRunHistory(options, 1, count, out, err), 0);
    const std::string table = out.str();
    EXPECT_TRUE(table.starts_with("When ")) << table;
    EXPECT_NE(table.find("Documents"), std::string::npos);
    size_t rows = 0;
    for (size_t at = table.find(r.started); at != std::string::npos; at = table.find(r.started, at + 1))
        ++rows;
    EXPECT_EQ(rows, 2u) << table;
    EXPECT_NE(table.find("3         "), std::string::npos) << table;
    EXPECT_NE(table.find("converted"), std::string::npos) << table;
    EXPECT_NE(err.str().find("skipped 2 damaged lines"), std::string::npos) << err.str();

    const char* const justOne[] = {"1", "--json"};
    std::ostringstream json;
    EXPECT_EQ(printRunHistory(options, 2, justOne, json, err), 0);
    EXPECT_EQ(json.str(), runRecordJson(r) + "\n");

    // A history that cannot be written is one warning, however many commands run.
    writeFile(dir / "plain", "a file where a folder should be");
    RunHistoryLog unwritable(dir / "plain/runs.jsonl", warnings);
    unwritable.recordRun(r);
    unwritable.recordRun(r);
    EXPECT_EQ(warnings.str().find("tollavar: warning: the run history cannot be written"), 0u) << warnings.str();
    EXPECT_EQ(warnings.str().find('\n'), warnings.str().size() - 1) << warnings.str();
}

// Names that are no UTF-8 stay apart in a record and come back byte for byte; the history shows them as
// windows-1252, as the index files' text is read.
TEST(RunHistory, NamesThatAreNoUtf8StayApartAndComeBackWhole)
{
    RunRecord r;
    r.started = "2026-01-02T03:04:05+00:00";
    r.outcome = "converted";
    r.configFile = "/jobs/caf\xE9.tvr";
    r.datagroupFolder = "/out/EXMP0001";
    for (const char* name : {"/in/caf\xE9.idx", "/in/caf\xE8.idx", "/in/plain.idx"}) {
        IndexFileRecord file;
        file.path = name;
        file.converted = true;
        r.files.push_back(file);
    }
    r.notices.push_back("Index file in use, left for the next run: /in/caf\xE9.idx");

    const std::string line = runRecordJson(r);
    EXPECT_NE(line.find("\"path\":\"/in/caf\u00e9.idx\",\"pathBytes\":\"L2luL2NhZukuaWR4\""), std::string::npos)
        << line;
    EXPECT_NE(line.find("\"path\":\"/in/caf\u00e8.idx\",\"pathBytes\":"), std::string::npos) << line;
    EXPECT_NE(line.find("\"path\":\"/in/plain.idx\",\"size\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"configFileBytes\":"), std::string::npos) << line;
    EXPECT_EQ(line.find("datagroupFolderBytes"), std::string::npos) << line;
    EXPECT_NE(line.find("left for the next run: /in/caf\u00e9.idx"), std::string::npos) << line;
    EXPECT_EQ(line.find("\xEF\xBF\xBD"), std::string::npos) << "a name was replaced: " << line;

    const std::optional<RunRecord> back = runRecordFromJson(line);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->files.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(back->files[i].path, r.files[i].path);
    EXPECT_EQ(back->configFile, r.configFile);
    EXPECT_EQ(runRecordJson(*back), line);
    EXPECT_NE(runHistoryTable({*back}).find("/jobs/caf\u00e9.tvr"), std::string::npos) << runHistoryTable({*back});
}

} // namespace
} // namespace tollavar
