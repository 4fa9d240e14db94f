#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "batch/DryRun.h"
#include "batch/DryRunCheck.h"
#include "batch/UnattendedAnswer.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionSettings.h"
#include "engine/RunJournal.h"

#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"
#include "ui/MessageTable.h"
#include "ui/ShowingPrompter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sys/stat.h>

using namespace tollavar;
using namespace tollavar::testing;
namespace fs = std::filesystem;

namespace {

// What the unattended run meets: every message, answered as a run with nobody behind it answers.
class UnattendedPrompter : public ShowingPrompter
{
public:
    MessageAnswer show(const Message& message) override
    {
        seen.push_back(message);
        return unattendedAnswer(message);
    }
    bool showWait(const std::string&, const std::function<bool()>&) override { return false; }
    std::vector<Message> seen;
};

struct RunFacts : ConversionObserver
{
    void indexFileEnded(const IndexFileFacts& facts, bool) override
    {
        images += facts.imagesMoved;
        fullTexts += facts.fullTextsMoved;
        documents += facts.documentsAdded;
        lastDocId = facts.lastDocId > 0 ? facts.lastDocId : lastDocId;
    }
    long images = 0;
    long fullTexts = 0;
    long documents = 0;
    long lastDocId = 0;
};

// Every entry below the folder with its kind, bytes and modification time.
std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st
        {
        };
        ::lstat(entry.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode))
            what += ":" + readFile(entry.path().string());
        entries[entry.path().string()] = what;
    }
    return entries;
}

// Images in the datagroup under a numbered name ("1-0001.tif"), as Allow Duplicates gives them.
long numberedImages(const std::string& datagroup)
{
    long count = 0;
    if (!fs::exists(datagroup))
        return 0;
    for (const auto& entry : fs::recursive_directory_iterator(datagroup)) {
        const std::string name = entry.path().filename().string();
        const size_t dash = name.rfind('-');
        count += dash != std::string::npos && name.size() > dash + 5 && name.compare(dash + 5, 4, ".tif") == 0 ? 1 : 0;
    }
    return count;
}

std::string existingXml(long documents)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<REZI_DATAGRP><DGNUMBER>1</DGNUMBER>"
                      "<PROJECT PROJID=\"1\"><NAME>P</NAME><DOCINDEXFIELDS/><DOCUMENTS>";
    for (long id = 1; id <= documents; ++id)
        xml += "<DOCUMENT DOCID=\"" + std::to_string(id) + "\"/>";
    return xml + "</DOCUMENTS></PROJECT></REZI_DATAGRP>";
}

// A scratch folder on a file system in memory where there is one: the run syncs what it writes, and 240
// runs on a disk would take long.
class Scratch
{
public:
    const std::string& path() const { return m_shm.path().empty() ? m_temp.path() : m_shm.path(); }
    std::string operator/(std::string_view relative) const { return path() + "/" + std::string(relative); }

private:
    ShmDir m_shm;
    TempDir m_temp;
};

// One generated batch below `dir`; returns what it holds, for the failure message.
std::string generateBatch(std::mt19937& rng, const Scratch& dir, ConversionSettings& s, std::string& configFile)
{
    const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string story;
    const bool pattern = chance(60);
    s = ConversionSettings{};
    // "a*.csv" selects every .csv file while some file matches it: removing a.csv ends the selection.
    s.indexFiles = dir / (!pattern ? "in/a.csv" : chance(50) ? "in/*.csv" : "in/a*.csv");
    s.xmlFilePath = dir / "out/DATAGRP.XML";
    s.datagroupNumber = "1";
    s.companyId = "EXMP";
    s.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.fieldTypes = "text|text|number|number";
    s.imageFolder = dir / "images";
    s.removeProcessedFiles = chance(50);
    s.allowDuplicates = chance(40);
    s.maxDocuments = chance(25) ? "3" : "1000";
    story += s.indexFiles.substr(dir.path().size() + 1) + (s.removeProcessedFiles ? ", remove" : "") +
             (s.allowDuplicates ? ", duplicates allowed" : "") + ", max " + s.maxDocuments;
    const std::string dg = dir / "out/EXMP0001";
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "images/B1");

    switch (pick(9) % 5) {
    case 0:
        break; // a new datagroup
    case 1:
        fs::create_directories(dg);
        story += ", empty datagroup folder";
        break;
    case 2:
        writeFile(dg + "/DATAGRP.XML", existingXml(2 + pick(3)));
        story += ", datagroup with documents";
        break;
    case 3:
        writeFile(dg + "/DATAGRP.XML", existingXml(4));
        s.maxDocuments = "3";
        story += ", full datagroup";
        break;
    case 4:
        if (chance(50))
            break;
        writeFile(dg + "/DATAGRP.XML", "");
        story += ", empty DATAGRP.XML";
        break;
    }
    if (chance(10)) {
        fs::create_directories(dg + "/DATAGRP.SUBMIT");
        story += ", marker cannot be created";
    }
    fs::create_directories(dir / "elsewhere");
    writeFile(dir / "elsewhere/0005.TIF", "II*5");
    fs::create_directory_symlink(dir / "elsewhere", dir / "images/B2");

    int image = 0;
    std::vector<std::string> used;
    const int files = pattern ? 1 + pick(3) : 1;
    // A third of the batches are clean, so that what follows the conversions (removal, marker, advance)
    // is reached as often as the questions.
    const bool clean = chance(33);
    for (int file = 0; file < files; ++file) {
        std::string lines;
        const int count = 1 + pick(5);
        for (int line = 0; line < count; ++line) {
            std::string path;
            const std::string name = "\\B1\\" + std::to_string(++image) + ".TIF";
            const std::string native = dir / ("images/B1/" + std::to_string(image));
            const int what = clean ? 0 : pick(20) - 10;
            switch (what < 0 ? 0 : what) {
            case 0: // an image, sometimes with its full text
                writeFile(native + ".TIF", "II*");
                if (chance(40))
                    writeFile(native + ".txt", "text");
                path = name;
                break;
            case 3:
                path = name; // missing
                story += ", missing image";
                break;
            case 4:
                fs::create_directories(native + ".TIF");
                path = name;
                story += ", folder as image";
                break;
            case 5:
                ::mkfifo((native + ".TIF").c_str(), 0600);
                path = name;
                story += ", pipe as image";
                break;
            case 6:
                if (used.empty()) {
                    writeFile(native + ".TIF", "II*");
                    path = name;
                } else {
                    path = used[static_cast<size_t>(pick(static_cast<int>(used.size())))];
                    story += ", duplicate line";
                }
                break;
            case 7:
                writeFile(native + ".TIF", "II*");
                writeFile(dg + "/B1/" + std::to_string(image) + ".TIF", "older");
                path = name;
                story += ", taken image destination";
                break;
            case 8:
                writeFile(native + ".TIF", "II*");
                writeFile(native + ".txt", "text");
                writeFile(dg + "/B1/" + std::to_string(image) + ".PVFULLTEXT", "older");
                path = name;
                story += ", taken full-text destination";
                break;
            case 9: {
                const char* hostile[] = {"..\\..\\secret.TIF", "C:\\x.TIF", "\\\\server\\share\\x.TIF",
                                         "\\B2\\0005.TIF"};
                path = hostile[pick(4)];
                story += ", hostile path " + path;
                break;
            }
            case 10:
                path = ""; // a line without an image
                break;
            case 1:
            case 2:
                writeFile(native + ".TIF", "II*");
                path = name;
                break;
            }
            if (!path.empty())
                used.push_back(path);
            lines += "Doc" + std::to_string(image) + "," + path + ",1," + std::to_string(image) + "\r\n";
        }
        writeFile(dir / ("in/" + std::string(1, static_cast<char>('a' + file)) + ".csv"), lines);
    }
    if (!pattern && chance(35)) {
        // The same batch scanned twice, each index file beside its images: the second one's images find
        // their places taken by the first one's.
        fs::create_directories(dir / "twin");
        for (const auto& entry : fs::recursive_directory_iterator(dir / "images")) {
            const std::string twin = dir / ("twin" + entry.path().string().substr((dir / "images").size()));
            if (entry.is_symlink())
                fs::create_directory_symlink(fs::read_symlink(entry.path()), twin);
            else if (entry.is_directory())
                fs::create_directories(twin);
            else if (entry.is_fifo())
                ::mkfifo(twin.c_str(), 0600);
            else
                fs::copy_file(entry.path(), twin);
        }
        fs::copy_file(dir / "in/a.csv", dir / "images/a.csv");
        fs::copy_file(dir / "in/a.csv", dir / "twin/a.csv");
        s.indexFiles = (dir / "images/a.csv") + "|" + (dir / "twin/a.csv");
        s.imageFolder = "";
        story += ", the batch twice, each beside its images";
    }
    configFile = dir / "batch.tvr";
    writeFile(configFile, serializeConfig(s));

    if (chance(20)) {
        // A conversion of a.csv killed, or failed and told so, with its first image moved.
        fs::create_directories(dg);
        writeFile(dir / "images/J/journalled.TIF", "II*");
        // Recovery acts only for an index file the configuration selects.
        const bool foreign = chance(30);
        if (foreign) {
            writeFile(dir / "other/a.csv", "Doc,\\J\\journalled.TIF,1,1\r\n");
            story += ", journal of a file not selected";
        }
        {
            RunJournal journal(dg, configFile, s.removeProcessedFiles);
            journal.begin(dir / (foreign ? "other/a.csv" : "in/a.csv"), dg + "/DATAGRP.XML", dir / "images",
                          fs::exists(dg + "/DATAGRP.XML") ? readFile(dg + "/DATAGRP.XML") : "");
            journal.beforeMove(dir / "images/J/journalled.TIF", dg + "/J/journalled.TIF");
            journal.makeDurable();
            fs::create_directories(dg + "/J");
            fs::rename(dir / "images/J/journalled.TIF", dg + "/J/journalled.TIF");
            if (chance(40)) {
                fs::remove(dir / "images/J"); // recovery makes it again to put the image back
                story += ", its source folder gone";
            }
            if (chance(50)) {
                journal.markFailed();
                story += ", journal of a reported failure";
            } else {
                story += ", journal of a kill";
            }
        }
    }
    return story;
}

// The check runs the Convert command dry, then the real unattended command runs on the same files: the
// check must have met exactly the run's messages, moved what the run moves, changed nothing, and agree
// on the exit status.
TEST(DryRunComparison, TheCheckMeetsWhatTheUnattendedRunMeets)
{
    const char* fixed = std::getenv("TOLLAVAR_CHECK_SEED");
    const unsigned first = fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : 20261207u;
    const int cases = fixed ? 1 : 240;
    for (int i = 0; i < cases; ++i) {
        const unsigned seed = first + static_cast<unsigned>(i);
        std::mt19937 rng(seed);
        Scratch dir;
        ConversionSettings settings;
        std::string configFile;
        const std::string story = generateBatch(rng, dir, settings, configFile);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (TOLLAVAR_CHECK_SEED=" + std::to_string(seed) + "): " + story);
        FakeServices services;
        FakeHost host;
        FakeDialog dialog;
        UnattendedPrompter unused;

        const auto before = snapshot(dir.path());
        const long numberedBefore = numberedImages(dir / "out/EXMP0001");
        RunFlags checkFlags;
        CommandContext checkCtx{settings, configFile, checkFlags, services.fileTools,
                                unused,   host,       dialog,     messageTable()};
        const CheckReport report = checkBatch(checkCtx);
        ASSERT_EQ(snapshot(dir.path()), before) << "the check changed the files";
        EXPECT_TRUE(unused.seen.empty()) << "the check showed a message";

        UnattendedPrompter prompter;
        RunFlags flags;
        RunFacts moves;
        CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
        ctx.progress = &moves;
        const ConvertOutcome outcome = convertCommand(ctx);
        bool asked = false;
        std::vector<std::string> run;
        for (const Message& message : prompter.seen) {
            asked = asked || isQuestion(message) || message.icon == MessageIcon::Error ||
                    message.kind == MessageKind::CommandFailure;
            run.push_back(message.caption + ": " + message.text);
        }
        std::vector<std::string> checked;
        for (const CheckMessage& message : report.messages)
            checked.push_back(message.caption + ": " + message.text);
        EXPECT_EQ(checked, run) << "the check's messages are not the run's";
        EXPECT_EQ(report.imagesMoved, moves.images);
        long numbered = 0;
        for (const IndexFileCheck& file : report.files)
            numbered += settings.allowDuplicates ? file[CheckKind::TakenDestination].count : 0;
        // A file that fails puts its numbered images back with the rest: only a run that converted every
        // file keeps them.
        if (outcome.ranToEnd && outcome.allConverted) {
            EXPECT_EQ(numbered, numberedImages(dir / "out/EXMP0001") - numberedBefore)
                << "images the check says would get a numbered name";
        }
        EXPECT_EQ(report.fullTextsMoved, moves.fullTexts);
        long documents = 0;
        for (const IndexFileCheck& file : report.files)
            documents += file.documents;
        EXPECT_EQ(documents, moves.documents);
        if (moves.lastDocId > 0) {
            EXPECT_EQ(report.lastDocIdAfter, moves.lastDocId);
        }
        const bool runExitsZero =
            outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
        EXPECT_EQ(report.exitStatus() == 0, runExitsZero && !asked);
        if (::testing::Test::HasFailure())
            return; // one failing case says enough, with its seed
    }
}

} // namespace
