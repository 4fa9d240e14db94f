#include "batch/CommandContext.h"
#include "batch/CommandRecord.h"
#include "batch/ConfigFile.h"
#include "batch/ConvertCommand.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/RunJournal.h"
#include "engine/StopRequest.h"
#include "filetools/FaultInjection.h"
#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/FileInventory.h"
#include "support/KindPrompter.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

// A scanning station's folders and one window's worth of command state over them, answering by kind.
struct Station
{
    explicit Station(const TempDir& work) : root(work.path())
    {
        settings.indexFiles = root + "/in/*.idx";
        settings.xmlFilePath = root + "/out/DATAGRP.XML";
        settings.companyId = "DEFC";
        settings.datagroupNumber = "1";
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
        settings.fieldTypes = "text|text|number";
        settings.imageFolder = root + "/scans";
        settings.maxDocuments = "100";
        settings.removeProcessedFiles = true;
        configFile = root + "/setup.tvr";
        writeFile(configFile, serializeConfig(settings));
        // Journals set aside go to the state folder: the station's own.
        ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
        for (MessageKind kind :
             {MessageKind::ConversionFailure, MessageKind::MovedFilesStay, MessageKind::InterruptedRun})
            prompter.answer(kind, MessageAnswer::Ok);
    }

    std::string datagroup(const std::string& below = "") const { return root + "/out/DEFC0001/" + below; }
    std::string scans(const std::string& below) const { return root + "/scans/" + below; }
    Message last(MessageKind kind) const { return prompter.last(kind); }
    // Names in the datagroup folder and below that start with a dot.
    std::vector<std::string> hidden() const
    {
        std::vector<std::string> names;
        for (const auto& [path, bytes] : filesUnder(datagroup()))
            if (std::filesystem::path(path).filename().string().starts_with("."))
                names.push_back(path);
        return names;
    }

    std::string root;
    ConversionSettings settings;
    std::string configFile;
    RunFlags flags;
    FakeServices services;
    KindPrompter prompter;
    FakeHost host;
    FakeDialog dialog;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
};

} // namespace

// A replace that a later line's failure cuts short: whatever the answer to the undo offer, the replaced
// image and its full-text file come back to the datagroup at once, its replacement goes back to its
// source, and the next run converts with nothing left to recover.
TEST(Recovery, AReplacedImageComesBackAfterAFailureWithOrWithoutItsFullText)
{
    const struct
    {
        const char* name;
        bool fullText;
        MessageAnswer undo;
    } cases[] = {
        {"undo taken", false, MessageAnswer::Yes},
        {"undo taken, full text", true, MessageAnswer::Yes},
        {"undo declined", false, MessageAnswer::No},
        {"undo declined, full text", true, MessageAnswer::No},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        Station first(work);
        writeFile(first.scans("B1/0001.TIF"), "old-img");
        if (c.fullText)
            writeFile(first.scans("B1/0001.txt"), "old-text");
        writeFile(work / "in/first.idx", "Old,\\B1\\0001.TIF,1\r\n");
        ASSERT_TRUE(convertCommand(first.ctx).ranToEnd);
        const std::string xmlBefore = readFile(first.datagroup("DATAGRP.XML"));

        writeFile(first.scans("B1/0001.TIF"), "new-img");
        if (c.fullText)
            writeFile(first.scans("B1/0001.txt"), "new-text");
        writeFile(work / "in/second.idx", "New,\\B1\\0001.TIF,1\r\nLate,\\B1\\0009.TIF,1\r\n");
        Station failing(work);
        failing.prompter.answer(MessageKind::ImageExists, MessageAnswer::Yes);
        failing.prompter.answer(MessageKind::SourceMissing, MessageAnswer::No);
        failing.prompter.answer(MessageKind::UndoOffer, c.undo);
        EXPECT_FALSE(convertCommand(failing.ctx).ranToEnd);
        EXPECT_EQ(readFile(failing.datagroup("DATAGRP.XML")), xmlBefore);
        EXPECT_EQ(readFile(failing.datagroup("B1/0001.TIF")), "old-img");
        EXPECT_EQ(readFile(failing.scans("B1/0001.TIF")), "new-img");
        if (c.fullText) {
            EXPECT_EQ(readFile(failing.datagroup("B1/0001.PVFULLTEXT")), "old-text");
            EXPECT_EQ(readFile(failing.scans("B1/0001.txt")), "new-text");
        }
        EXPECT_FALSE(exists(failing.datagroup(".DATAGRP.JOURNAL"))) << "the journal ends with the run";
        EXPECT_EQ(failing.prompter.count(MessageKind::MovedFilesStay), 0u) << "everything went back";

        writeFile(failing.scans("B1/0009.TIF"), "img-9");
        Station next(work);
        next.prompter.answer(MessageKind::ImageExists, MessageAnswer::Yes);
        const ConvertOutcome converted = convertCommand(next.ctx);
        ASSERT_TRUE(converted.ranToEnd);
        // The replaced scan's document now describes the new one under its own DOCID; the line that
        // replaced it adds no document, and the next line takes the next DOCID.
        const std::string xml = readFile(next.datagroup("DATAGRP.XML"));
        EXPECT_NE(xml.find("<DOCUMENT DOCID=\"1\">"), std::string::npos) << xml;
        EXPECT_NE(xml.find("<VALUE>New</VALUE>"), std::string::npos) << xml;
        EXPECT_EQ(xml.find("<VALUE>Old</VALUE>"), std::string::npos) << xml;
        EXPECT_EQ(xml.find("DOCID=\"3\""), std::string::npos) << xml;
        ASSERT_EQ(converted.record.files.size(), 1u);
        const IndexFileFacts& facts = converted.record.files[0].facts;
        EXPECT_EQ(facts.linesSkipped, 1);
        EXPECT_EQ(facts.documentsAdded, 1);
        EXPECT_EQ(facts.firstDocId, 2);
        EXPECT_EQ(next.prompter.count(MessageKind::InterruptedRun), 0u);
        EXPECT_EQ(readFile(next.datagroup("B1/0001.TIF")), "new-img");
        EXPECT_EQ(readFile(next.datagroup("B1/0009.TIF")), "img-9");
        if (c.fullText) {
            EXPECT_EQ(readFile(next.datagroup("B1/0001.PVFULLTEXT")), "new-text");
        }
        EXPECT_EQ(next.hidden(), std::vector<std::string>{}) << "set-aside files go once DATAGRP.XML is saved";
        EXPECT_TRUE(filesUnder(work / "scans").empty());
    }
}

// A failure puts every moved image back at once: an operator who then moves or deletes files by hand
// meets no journal, and the next run converts as usual.
TEST(Recovery, ATouchedFileAfterAFailureBlocksOnlyOneRun)
{
    TempDir work;
    Station failing(work);
    for (const char* name : {"0001", "0002", "0003"})
        writeFile(failing.scans(std::string("B1/") + name + ".TIF"), std::string("img-") + name);
    writeFile(work / "in/batch.idx", "A,\\B1\\0001.TIF,1\r\nB,\\B1\\0002.TIF,1\r\nC,\\B1\\0003.TIF,1\r\n"
                                     "D,\\B1\\0009.TIF,1\r\n");
    writeFile(failing.scans("B1/0009.TIF"), "img-9");
    writeFile(failing.datagroup("B1/0009.TIF"), "earlier img-9");
    failing.prompter.answer(MessageKind::ImageExists, MessageAnswer::Cancel);
    EXPECT_FALSE(convertCommand(failing.ctx).ranToEnd);
    for (const char* name : {"0001", "0002", "0003"})
        EXPECT_TRUE(exists(failing.scans(std::string("B1/") + name + ".TIF"))) << name;
    EXPECT_FALSE(exists(failing.datagroup(".DATAGRP.JOURNAL")));
    std::filesystem::remove(failing.scans("B1/0003.TIF"));

    Station next(work);
    next.prompter.answer(MessageKind::SourceMissing, MessageAnswer::Yes);
    next.prompter.answer(MessageKind::ImageExists, MessageAnswer::No);
    EXPECT_TRUE(convertCommand(next.ctx).ranToEnd);
    EXPECT_EQ(next.prompter.count(MessageKind::InterruptedRun), 0u);
    EXPECT_EQ(next.prompter.count(MessageKind::SourceMissing), 1u) << "only the deleted image is asked for";
    for (const char* name : {"0001", "0002", "0009"})
        EXPECT_TRUE(exists(next.datagroup(std::string("B1/") + name + ".TIF"))) << name;
}

// A journal written by hand into a datagroup, naming files outside the image folder or the datagroup,
// is set aside unacted: nothing moves, the command stops once, and the next one converts.
TEST(Recovery, AForgedJournalIsSetAsideAndNothingMoves)
{
    const struct
    {
        const char* name;
        std::string from; // below the work folder
        std::string to;
        bool setAside = false;
    } cases[] = {
        {"source outside the image folder", "private/key.txt", "out/DEFC0001/B1/key.txt"},
        {"destination outside the datagroup", "scans/B1/0001.TIF", "private/0001.TIF"},
        {"climbs out by its text", "scans/../private/key.txt", "out/DEFC0001/B1/key.txt"},
        {"set aside under a name of its own", "out/DEFC0001/B1/0001.TIF", "out/DEFC0001/B1/elsewhere", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        Station station(work);
        writeFile(work / "private/key.txt", "secret");
        writeFile(work / "private/0001.TIF", "someone's");
        writeFile(work / "out/DEFC0001/B1/key.txt", "planted");
        writeFile(station.scans("B1/0001.TIF"), "img-1");
        writeFile(work / "in/batch.idx", "A,\\B1\\0001.TIF,1\r\n");
        const auto before = filesUnder(work.path());
        {
            RunJournal forged(station.datagroup(), station.configFile, true);
            forged.begin(work / "in/batch.idx", station.datagroup("DATAGRP.XML"), work / "scans", "");
            if (c.setAside)
                forged.beforeSetAside(work / c.from, work / c.to);
            else
                forged.beforeMove(work / c.from, work / c.to);
            forged.makeDurable();
        }
        station.prompter.answer(MessageKind::CommandFailure, MessageAnswer::Ok);
        EXPECT_FALSE(convertCommand(station.ctx).ranToEnd);
        EXPECT_NE(station.last(MessageKind::CommandFailure).text.find("was not acted on"), std::string::npos);
        auto after = filesUnder(work.path());
        EXPECT_EQ(std::erase_if(after,
                                [](const auto& entry) {
                                    return entry.first.starts_with("state/tollavar/set-aside/DEFC0001-") &&
                                           entry.first.ends_with(".journal");
                                }),
                  1u)
            << "the journal leaves the datagroup for the state folder";
        EXPECT_EQ(after, before);

        Station next(work);
        EXPECT_TRUE(convertCommand(next.ctx).ranToEnd);
        EXPECT_EQ(readFile(next.datagroup("B1/0001.TIF")), "img-1");
        EXPECT_EQ(readFile(work / "private/key.txt"), "secret");
    }
}

// A run whose lock file was removed while it ran, or that runs on, keeps its journal locked: the next
// command leaves that journal and everything it names alone.
TEST(Recovery, ALiveRunsJournalIsLeftAlone)
{
    TempDir work;
    Station station(work);
    writeFile(station.scans("B1/0001.TIF"), "img-1");
    writeFile(work / "in/batch.idx", "A,\\B1\\0001.TIF,1\r\n");
    std::filesystem::create_directories(station.datagroup("B1"));
    std::filesystem::rename(station.scans("B1/0001.TIF"), station.datagroup("B1/0001.TIF"));
    RunJournal live(station.datagroup(), station.configFile, true);
    live.begin(work / "in/batch.idx", station.datagroup("DATAGRP.XML"), work / "scans", "");
    live.beforeMove(station.scans("B1/0001.TIF"), station.datagroup("B1/0001.TIF"));
    live.makeDurable();

    station.prompter.answer(MessageKind::CommandFailure, MessageAnswer::Ok);
    EXPECT_FALSE(convertCommand(station.ctx).ranToEnd);
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(station.last(MessageKind::CommandFailure).text,
              "A conversion on " + std::string(host) + " (process " + std::to_string(::getpid()) +
                  ") may still be running; if it is not, remove " + station.datagroup(".DATAGRP.JOURNAL"));
    EXPECT_TRUE(exists(station.datagroup("B1/0001.TIF")));
    EXPECT_TRUE(exists(station.datagroup(".DATAGRP.JOURNAL")));
    EXPECT_TRUE(exists(work / "in/batch.idx"));
}

// A stop that arrives once a file's save has begun lets that file finish: its removal, the marker and the
// advance all happen, the command says what it left, and no lock or journal stays behind.
TEST(Recovery, AStopDuringASaveFinishesThatFileAndTheDatagroup)
{
    const struct
    {
        const char* stopAfter;
        long left;
    } cases[] = {{"a.idx", 1}, {"b.idx", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopAfter);
        TempDir work;
        Station station(work);
        station.settings.maxDocuments = "1";
        writeFile(station.scans("B1/0001.TIF"), "img-1");
        writeFile(station.scans("B1/0002.TIF"), "img-2");
        writeFile(work / "in/a.idx", "A,\\B1\\0001.TIF,1\r\nB,\\B1\\0002.TIF,1\r\n");
        writeFile(work / "in/b.idx", "C,\\B1\\0003.TIF,1\r\n");
        writeFile(station.scans("B1/0003.TIF"), "img-3");
        const IndexFileConverter stoppedDuringSave = [&](ConversionContext& context, const std::string& index,
                                                         const std::string& xml, const std::string& root,
                                                         const std::string& document) {
            const bool converted = convertIndexFile(context, index, xml, root, document);
            if (index.ends_with(c.stopAfter))
                requestStop(SIGTERM);
            return converted;
        };
        const ConvertOutcome outcome = convertCommand(station.ctx, stoppedDuringSave);
        clearStopRequest();
        EXPECT_TRUE(outcome.ranToEnd);
        EXPECT_TRUE(outcome.stoppedBetweenFiles);
        EXPECT_EQ(outcome.allConverted, c.left == 0);
        ASSERT_FALSE(outcome.notices.empty());
        EXPECT_EQ(outcome.notices.back(), "Stopped by SIGTERM after converting " + work / "in/" + c.stopAfter + "; " +
                                              std::to_string(c.left) + " selected index file(s) left for the next run");
        EXPECT_FALSE(exists(work / ("in/" + std::string(c.stopAfter))));
        EXPECT_EQ(exists(work / "in/b.idx"), c.left == 1);
        EXPECT_TRUE(exists(station.datagroup("DATAGRP.SUBMIT")));
        EXPECT_EQ(station.settings.datagroupNumber, "2");
        EXPECT_NE(readFile(station.configFile).find("\r\n2\r\n"), std::string::npos);
        const std::vector<std::string> hidden = station.hidden();
        EXPECT_EQ(hidden.size(), c.left == 0 ? 0u : 1u);
        EXPECT_TRUE(hidden.empty() || hidden.front().starts_with(".DATAGRP.COMMAND-"))
            << "no lock file in a marked datagroup, only the record of what is left";
    }

    // Killed past its last file, before or after the advance of its full datagroup: its last journal (with
    // its save and its end), its record and perhaps its lock file are left in the marked datagroup. The next
    // run finishes that datagroup without touching an image (a scan put back at its source stays), leaves
    // nothing hidden in it, and converts only the new index file, into the next datagroup.
    const struct
    {
        const char* name;
        bool advanced;
    } kills[] = {{"killed before the advance", false}, {"killed after the advance", true}};
    for (const auto& k : kills) {
        SCOPED_TRACE(k.name);
        TempDir work;
        const auto configure = [&](Station& station, const char* number) {
            station.settings.maxDocuments = "1";
            station.settings.removeProcessedFiles = false;
            station.settings.datagroupNumber = number;
            writeFile(station.configFile, serializeConfig(station.settings));
        };
        Station first(work);
        configure(first, "1");
        writeFile(first.scans("B1/0001.TIF"), "img-1");
        writeFile(first.scans("B1/0002.TIF"), "img-2");
        writeFile(work / "in/a.idx", "A,\\B1\\0001.TIF,1\r\nB,\\B1\\0002.TIF,1\r\n");
        ASSERT_TRUE(convertCommand(first.ctx).ranToEnd);
        ASSERT_EQ(first.settings.datagroupNumber, "2");
        const std::string xml = first.datagroup("DATAGRP.XML");
        const std::string saved = readFile(xml);
        {
            RunJournal killed(first.datagroup(), first.configFile, false);
            killed.begin(work / "in/a.idx", xml, work / "scans", "");
            killed.beforeMove(first.scans("B1/0001.TIF"), first.datagroup("B1/0001.TIF"));
            killed.markSaving(2, fingerprintOf(saved), xml);
            killed.markCommandEnded();
        }
        CommandRecord record(first.datagroup(), first.configFile);
        record.start(first.configFile, {});
        record.select(CommandRecord::describe(work / "in/a.idx"));
        record.finish(CommandRecord::describe(work / "in/a.idx"));
        if (k.advanced)
            writeFile(first.datagroup(".DATAGRP.LOCK"), "");
        writeFile(first.scans("B1/0001.TIF"), "img-1");
        writeFile(first.scans("B1/0003.TIF"), "img-3");
        writeFile(work / "in/b.idx", "C,\\B1\\0003.TIF,1\r\n");

        Station next(work);
        configure(next, k.advanced ? "2" : "1");
        ASSERT_TRUE(convertCommand(next.ctx).ranToEnd);
        EXPECT_EQ(next.settings.datagroupNumber, "2");
        EXPECT_EQ(next.hidden(), std::vector<std::string>{}) << "nothing hidden left in the marked datagroup";
        EXPECT_TRUE(exists(next.datagroup("DATAGRP.SUBMIT")));
        EXPECT_EQ(readFile(xml), saved);
        EXPECT_EQ(readFile(next.scans("B1/0001.TIF")), "img-1") << "an image was touched";
        const std::string following = readFile(work / "out/DEFC0002/DATAGRP.XML");
        EXPECT_NE(following.find("0003.TIF"), std::string::npos);
        EXPECT_EQ(following.find("0001.TIF"), std::string::npos) << "a file the killed command finished came again";
        for (const auto& [path, bytes] : filesUnder(work / "out/DEFC0002"))
            EXPECT_FALSE(path.starts_with(".DATAGRP.COMMAND")) << path;
        if (!k.advanced) {
            EXPECT_NE(next.last(MessageKind::InterruptedRun).text.find("its number advanced to 2"), std::string::npos)
                << next.last(MessageKind::InterruptedRun).text;
        }
    }
}

// A DATAGRP.XML with a second name is saved into the file itself. A run killed part-way through that
// write (here by the file-size limit) leaves a torn file; the next run writes the kept original back and
// then ends where an uninterrupted command ends.
TEST(Recovery, ASaveCutShortInsideTheFileIsUndoneFromTheKeptOriginal)
{
    const auto lines = [](int from, int to) {
        std::string text;
        for (int i = from; i <= to; ++i)
            text += "Document number " + std::to_string(i) + ",\\B1\\" + std::to_string(i) + ".TIF,1\r\n";
        return text;
    };
    const auto prepare = [&](const TempDir& work, Station& station) {
        for (int i = 1; i <= 600; ++i)
            writeFile(station.scans("B1/" + std::to_string(i) + ".TIF"), "img-" + std::to_string(i));
        writeFile(work / "in/first.idx", lines(1, 300));
        EXPECT_TRUE(convertCommand(station.ctx).ranToEnd);
        ::link(station.datagroup("DATAGRP.XML").c_str(), (work / "backup.xml").c_str());
        writeFile(work / "in/second.idx", lines(301, 600));
    };
    TempDir reference;
    Station clean(reference);
    prepare(reference, clean);
    Station cleanSecond(reference);
    ASSERT_TRUE(convertCommand(cleanSecond.ctx).ranToEnd);
    const std::string finished = readFile(clean.datagroup("DATAGRP.XML"));

    TempDir work;
    Station station(work);
    prepare(work, station);
    const std::string original = readFile(station.datagroup("DATAGRP.XML"));
    ASSERT_GT(original.size(), size_t(100) << 10) << "larger than the journal's first room";
    const pid_t child = ::fork();
    if (child == 0) {
        const rlim_t limit = original.size() + 4096;
        const rlimit small{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &small);
        Station killed(work);
        convertCommand(killed.ctx);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the save was not cut short";
    const std::string torn = readFile(station.datagroup("DATAGRP.XML"));
    ASSERT_NE(torn, original);
    ASSERT_NE(torn, finished);

    Station next(work);
    EXPECT_TRUE(convertCommand(next.ctx).ranToEnd);
    EXPECT_NE(next.last(MessageKind::InterruptedRun).text.find("its save, cut short, was undone"), std::string::npos)
        << next.last(MessageKind::InterruptedRun).text;
    EXPECT_EQ(readFile(next.datagroup("DATAGRP.XML")), finished);
    EXPECT_EQ(readFile(work / "backup.xml"), finished) << "the second name is kept";
    EXPECT_EQ(next.hidden(), std::vector<std::string>{});
}

// A copy-move across file systems, journalled in its two steps, killed on the way: cut inside the copy
// (a hidden partial copy beside its name), or after the whole copy and before the source's removal (the
// image in both places). The next run keeps the image in one place and converts it; a source that is
// no longer the copied file (rescanned meanwhile) is never deleted nor overwritten, and is named.
TEST(Recovery, AnImageCopiedButNotYetRemovedEndsInOnePlace)
{
    ShmDir shm;
    TempDir probe;
    if (!shm.separateFrom(probe.path()))
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    const struct
    {
        const char* name;
        bool copyDone;
        const char* atDestination; // nullptr: only a hidden partial copy there
        const char* atSource;
        bool converted;
    } cases[] = {
        {"cut inside the copy", false, nullptr, "img-1", true},
        {"cut after the copy, before the source's removal", true, "img-1", "img-1", true},
        {"cut after the copy, the source rescanned since", true, "img-1", "rescan", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        const std::string images = shm / c.name;
        Station station(work);
        station.settings.imageFolder = images;
        writeFile(station.configFile, serializeConfig(station.settings));
        writeFile(images + "/B1/0001.TIF", c.atSource);
        if (c.atDestination)
            writeFile(station.datagroup("B1/0001.TIF"), c.atDestination);
        else
            writeFile(station.datagroup("B1/.0001.TIF.tmp-a1b2c3"), "im");
        writeFile(work / "in/batch.idx", "A,\\B1\\0001.TIF,1\r\n");
        {
            RunJournal killed(station.datagroup(), station.configFile, true);
            killed.begin(work / "in/batch.idx", station.datagroup("DATAGRP.XML"), images, "");
            const files::FileAt from{-1, "0001.TIF", images + "/B1/0001.TIF"};
            const files::FileAt to{-1, "0001.TIF", station.datagroup("B1/0001.TIF")};
            killed.beforeMove(from.shown, to.shown);
            killed.makeDurable();
            killed.copyBegun(from, to);
            if (c.copyDone)
                killed.copyDone(from, to);
        }
        station.prompter.answer(MessageKind::CommandFailure, MessageAnswer::Ok);
        EXPECT_EQ(convertCommand(station.ctx).ranToEnd, c.converted);
        if (c.converted) {
            EXPECT_FALSE(exists(images + "/B1/0001.TIF"));
            EXPECT_EQ(readFile(station.datagroup("B1/0001.TIF")), "img-1");
            EXPECT_EQ(station.hidden(), std::vector<std::string>{});
            EXPECT_NE(readFile(station.datagroup("DATAGRP.XML")).find("0001.TIF"), std::string::npos);
        } else {
            EXPECT_EQ(readFile(images + "/B1/0001.TIF"), "rescan");
            EXPECT_EQ(readFile(station.datagroup("B1/0001.TIF")), "img-1");
            EXPECT_EQ(filesUnder(work / "state/tollavar/set-aside").size(), 1u);
            EXPECT_EQ(station.hidden(), std::vector<std::string>{});
            EXPECT_NE(station.last(MessageKind::CommandFailure).text.find(images + "/B1/0001.TIF"), std::string::npos)
                << station.last(MessageKind::CommandFailure).text;
        }
    }
}

// A multi-file command killed on the way, run again with the same configuration, recovers the file in
// hand and converts only what it had not finished, with Remove Processed Files on or off: the datagroup
// and the index files left are the uninterrupted command's. A command that ran to its end leaves no record.
TEST(Recovery, AKilledCommandResumesWhereItStopped)
{
    const struct
    {
        const char* name;
        bool remove;
        bool afterSave; // killed once the third file is saved, else just before it begins
    } cases[] = {
        {"remove on, after a save", true, true},
        {"remove off, after a save", false, true},
        {"remove off, between files", false, false},
    };
    const auto prepare = [](const TempDir& work, bool remove) {
        for (int file = 1; file <= 5; ++file) {
            std::string lines;
            for (int line = 1; line <= 3; ++line) {
                const std::string name = std::to_string(file) + "-" + std::to_string(line);
                writeFile(work / ("scans/B1/" + name + ".TIF"), "img-" + name);
                writeFile(work / ("scans/B1/" + name + ".txt"), "text-" + name);
                lines += "Doc " + name + ",\\B1\\" + name + ".TIF,1\r\n";
            }
            writeFile(work / ("in/" + std::to_string(file) + ".idx"), lines);
        }
        Station station(work);
        station.settings.removeProcessedFiles = remove;
        writeFile(station.configFile, serializeConfig(station.settings));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir reference;
        prepare(reference, c.remove);
        Station clean(reference);
        clean.settings.removeProcessedFiles = c.remove;
        ASSERT_TRUE(convertCommand(clean.ctx).ranToEnd);
        EXPECT_EQ(clean.hidden(), std::vector<std::string>{});

        TempDir work;
        prepare(work, c.remove);
        const pid_t child = ::fork();
        if (child == 0) {
            Station killed(work);
            killed.settings.removeProcessedFiles = c.remove;
            convertCommand(killed.ctx, [&](ConversionContext& context, const std::string& index, const std::string& xml,
                                           const std::string& root, const std::string& document) {
                const bool third = index.ends_with("/3.idx");
                if (third && !c.afterSave)
                    ::raise(SIGKILL);
                const bool converted = convertIndexFile(context, index, xml, root, document);
                if (third)
                    ::raise(SIGKILL);
                return converted;
            });
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        Station again(work);
        again.settings.removeProcessedFiles = c.remove;
        ASSERT_TRUE(convertCommand(again.ctx).ranToEnd);
        EXPECT_EQ(again.prompter.count(MessageKind::SourceMissing), 0u);
        EXPECT_EQ(readFile(again.datagroup("DATAGRP.XML")), readFile(clean.datagroup("DATAGRP.XML")));
        EXPECT_EQ(filesUnder(again.datagroup()), filesUnder(clean.datagroup()));
        EXPECT_EQ(filesUnder(work / "in"), filesUnder(reference / "in"));
        EXPECT_TRUE(filesUnder(work / "scans").empty());
    }
}

namespace {

// Every entry under `root` (a folder with a trailing "/") with a file's bytes, `root` in them written as
// "@", but for the undo's backups, whose names the answer to the undo offer chooses.
std::map<std::string, std::string> treeUnder(const std::string& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = std::filesystem::relative(entry.path(), root).string();
        const std::string name = entry.path().filename().string();
        if (name.starts_with("DATAGRP-") && name.ends_with(".XML"))
            continue;
        std::string bytes = entry.is_regular_file() ? readFile(entry.path()) : "";
        for (size_t at = bytes.find(root); at != std::string::npos; at = bytes.find(root, at + 1))
            bytes.replace(at, root.size(), "@");
        tree[entry.is_directory() ? path + "/" : path] = std::move(bytes);
    }
    return tree;
}

// The entries that differ between two trees, named.
std::string differences(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want)
{
    std::string said;
    for (const auto& [path, bytes] : got) {
        const auto other = want.find(path);
        if (other == want.end())
            said += " +" + path;
        else if (other->second != bytes)
            said += " ~" + path;
    }
    for (const auto& [path, bytes] : want) {
        if (!got.count(path))
            said += " -" + path;
    }
    return said;
}

std::string batchLines(long lines)
{
    std::string text;
    for (long n = 1; n <= lines; ++n) {
        const std::string name = std::to_string(10000 + n).substr(1);
        text += "Doc" + name + ",\\B1\\" + name + ".TIF,1\r\n";
    }
    return text;
}

std::string imageName(long n)
{
    return "B1/" + std::to_string(10000 + n).substr(1) + ".TIF";
}

} // namespace

// However a conversion ends before its save (an answer that stops it, a signal, a full disk, the DOCID
// cap), the datagroup and the image folder are as they were before the index file, whatever the answer
// to the undo offer; a failure past the save leaves them as the save made them. Once the cause is fixed,
// the next run gives what an uninterrupted one gives.
TEST(Recovery, AConversionThatEndsEarlyLeavesEverythingAsItWas)
{
    using Arrange = std::function<void(Station&)>;
    const Arrange nothing = [](Station&) {};
    const auto stopAtLine = [](long line) {
        return [line](Station& s) {
            s.host.onEvents = [line](int round) {
                if (round == line)
                    requestStop(SIGTERM);
            };
        };
    };
    const struct
    {
        const char* name;
        long lines;
        Arrange breakIt; // on the disk, before the run that ends early
        Arrange during;  // what ends that run
        Arrange fixIt;   // on the disk and in the answers, before the run that follows
        bool existingOnly = false;
        bool pastSave = false;
    } rows[] = {
        {"no to a missing image at line 1", 6, [](Station& s) { std::filesystem::remove(s.scans(imageName(1))); },
         [](Station& s) { s.prompter.answer(MessageKind::SourceMissing, MessageAnswer::No); },
         [](Station& s) { writeFile(s.scans(imageName(1)), "img-1"); }},
        {"no to a missing image at line 4,097", 4100,
         [](Station& s) { std::filesystem::remove(s.scans(imageName(4097))); },
         [](Station& s) { s.prompter.answer(MessageKind::SourceMissing, MessageAnswer::No); },
         [](Station& s) { writeFile(s.scans(imageName(4097)), "img-4097"); }},
        {"no to a missing image at the last line", 6,
         [](Station& s) { std::filesystem::remove(s.scans(imageName(6))); },
         [](Station& s) { s.prompter.answer(MessageKind::SourceMissing, MessageAnswer::No); },
         [](Station& s) { writeFile(s.scans(imageName(6)), "img-6"); }},
        {"cancel to a taken image place", 6, [](Station& s) { writeFile(s.datagroup(imageName(3)), "earlier"); },
         [](Station& s) { s.prompter.answer(MessageKind::ImageExists, MessageAnswer::Cancel); },
         [](Station& s) { s.prompter.answer(MessageKind::ImageExists, MessageAnswer::Yes); }},
        {"a taken full-text place", 6,
         [](Station& s) {
             writeFile(s.scans("B1/0003.txt"), "text-3");
             writeFile(s.datagroup("B1/0003.PVFULLTEXT"), "earlier text");
         },
         [](Station& s) { s.prompter.answer(MessageKind::ImageExists, MessageAnswer::Cancel); },
         [](Station& s) { s.prompter.answer(MessageKind::ImageExists, MessageAnswer::Yes); }},
        {"SIGTERM in the per-line loop", 6, nothing, stopAtLine(4), nothing},
        {"SIGTERM between two journal batches", 4100, nothing, stopAtLine(4098), nothing},
        {"a full disk at the save", 6, nothing,
         [](Station& s) {
             s.host.onEvents = [](int round) {
                 if (round == 6)
                     faults::arm({1, ENOSPC, false, "Write File"});
             };
         },
         nothing},
        {"the DOCID cap", 6,
         [](Station& s) {
             std::string xml = readFile(s.datagroup("DATAGRP.XML"));
             const size_t at = xml.rfind("DOCID=\"2\"");
             xml.replace(at, 9, "DOCID=\"32764\"");
             writeFile(s.datagroup("DATAGRP.XML"), xml);
         },
         nothing, [](Station& s) { writeFile(s.root + "/in/batch.idx", batchLines(3)); }, true},
        {"a limit that is not a number", 6,
         [](Station& s) {
             s.settings.maxDocuments = "lots";
             writeFile(s.configFile, serializeConfig(s.settings));
         },
         nothing,
         [](Station& s) {
             s.settings.maxDocuments = "100";
             writeFile(s.configFile, serializeConfig(s.settings));
         },
         false, true},
    };
    for (const auto& row : rows) {
        for (const bool existing : {false, true}) {
            for (const bool remove : {true, false}) {
                for (const MessageAnswer undo : {MessageAnswer::Yes, MessageAnswer::No}) {
                    if ((row.existingOnly && !existing) || (!existing && undo == MessageAnswer::No))
                        continue; // a new datagroup has nothing to undo
                    SCOPED_TRACE(std::string(row.name) + (existing ? ", existing datagroup" : ", new datagroup") +
                                 (remove ? ", remove" : ", keep") + (undo == MessageAnswer::Yes ? ", undo" : ""));
                    // A station writes its configuration as it starts: with the row's settings.
                    const auto station = [&](const TempDir& work) {
                        ConversionSettings written;
                        if (exists(work / "setup.tvr"))
                            applyConfigText(readFile(work / "setup.tvr"), written);
                        auto s = std::make_unique<Station>(work);
                        s->settings.removeProcessedFiles = remove;
                        if (!written.maxDocuments.empty())
                            s->settings.maxDocuments = written.maxDocuments;
                        writeFile(s->configFile, serializeConfig(s->settings));
                        return s;
                    };
                    // The datagroup and the batch as they are before the index file.
                    const auto prepare = [&](TempDir& work, Station& s) {
                        s.settings.removeProcessedFiles = remove;
                        writeFile(s.configFile, serializeConfig(s.settings));
                        if (existing) {
                            writeFile(s.scans("E/0001.TIF"), "e-1");
                            writeFile(s.scans("E/0002.TIF"), "e-2");
                            writeFile(work / "in/earlier.idx", "E1,\\E\\0001.TIF,1\r\nE2,\\E\\0002.TIF,1\r\n");
                            ASSERT_TRUE(convertCommand(station(work)->ctx).ranToEnd);
                            std::filesystem::remove(work / "in/earlier.idx");
                        }
                        for (long n = 1; n <= row.lines; ++n)
                            writeFile(s.scans(imageName(n)), "img-" + std::to_string(n));
                        writeFile(work / "in/batch.idx", batchLines(row.lines));
                        row.breakIt(s);
                    };
                    TempDir uninterrupted;
                    {
                        Station s(uninterrupted);
                        prepare(uninterrupted, s);
                        const auto run = station(uninterrupted);
                        row.fixIt(*run);
                        ASSERT_TRUE(convertCommand(run->ctx).allConverted);
                    }
                    TempDir work;
                    Station s(work);
                    prepare(work, s);
                    const auto before = treeUnder(work.path());
                    const auto ending = station(work);
                    ending->prompter.answer(MessageKind::UndoOffer, undo);
                    row.during(*ending);
                    const ConvertOutcome ended = convertCommand(ending->ctx);
                    clearStopRequest();
                    faults::disarm();
                    EXPECT_FALSE(ended.allConverted);
                    if (row.pastSave) {
                        EXPECT_EQ(readFile(s.datagroup("DATAGRP.XML")),
                                  readFile(uninterrupted / "out/DEFC0001/DATAGRP.XML"));
                        EXPECT_EQ(filesUnder(work / "scans"), filesUnder(uninterrupted / "scans"));
                        EXPECT_EQ(exists(s.datagroup("DATAGRP.SUBMIT")), existing) << "no marker of its own";
                    } else {
                        EXPECT_EQ(differences(treeUnder(work.path()), before), "");
                        EXPECT_EQ(ending->prompter.count(MessageKind::MovedFilesStay), 0u);
                    }
                    const auto rerun = station(work);
                    row.fixIt(*rerun);
                    EXPECT_TRUE(convertCommand(rerun->ctx).allConverted);
                    EXPECT_EQ(rerun->prompter.count(MessageKind::InterruptedRun), row.pastSave ? 1u : 0u);
                    EXPECT_EQ(differences(treeUnder(work.path()), treeUnder(uninterrupted.path())), "");
                }
            }
        }
    }
}

// Two stations, each with its own configuration, write one datagroup series. Station A is killed between
// its two index files or in the middle of one, and the stations then run in either order: the datagroup
// ends with both commands' documents, each once, every image placed, nothing of either left behind.
TEST(Recovery, TwoStationsSharingADatagroupSeriesRecoverEachOther)
{
    const auto configure = [](Station& s, const char* name, bool remove) {
        s.settings.indexFiles = s.root + "/in" + name + "/*.idx";
        s.settings.imageFolder = s.root + "/scans" + name;
        s.settings.removeProcessedFiles = remove;
        s.configFile = s.root + "/setup" + name + ".tvr";
        writeFile(s.configFile, serializeConfig(s.settings));
        ::chmod(s.configFile.c_str(), 0644);
    };
    const struct
    {
        const char* name;
        bool betweenFiles;
        bool aFirst;
    } cases[] = {{"A killed between files, then B, then A", true, false},
                 {"A killed between files, then A, then B", true, true},
                 {"A killed in a file, then B, then A", false, false},
                 {"A killed in a file, then A, then B", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        std::vector<std::string> values;
        for (const char* file : {"A/a1", "A/a2", "B/b1"}) {
            std::string lines;
            const std::string station(1, file[0]);
            for (int n = 1; n <= 3; ++n) {
                const std::string name = std::string(file).substr(2) + "-" + std::to_string(n);
                writeFile(work / ("scans" + station + "/" + name + ".TIF"), "img " + name);
                lines += "V" + name + ",\\" + name + ".TIF,1\r\n";
                values.push_back("V" + name);
            }
            writeFile(work / ("in" + station + "/" + std::string(file).substr(2) + ".idx"), lines);
        }

        const pid_t child = ::fork();
        if (child == 0) {
            Station a(work);
            configure(a, "A", false);
            const IndexFileConverter killed = [&](ConversionContext& context, const std::string& index,
                                                  const std::string& xml, const std::string& root,
                                                  const std::string& document) {
                if (c.betweenFiles && index.ends_with("a2.idx"))
                    ::_exit(9);
                if (!c.betweenFiles)
                    a.host.onEvents = [](int round) {
                        if (round == 5)
                            ::_exit(9);
                    };
                return convertIndexFile(context, index, xml, root, document);
            };
            convertCommand(a.ctx, killed);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "station A was not cut short";

        for (const bool runA : {c.aFirst, !c.aFirst}) {
            Station s(work);
            configure(s, runA ? "A" : "B", !runA);
            EXPECT_TRUE(convertCommand(s.ctx).allConverted) << (runA ? "A" : "B");
        }
        const std::string xml = readFile(work / "out/DEFC0001/DATAGRP.XML");
        for (const std::string& value : values) {
            const size_t at = xml.find("<VALUE>" + value + "</VALUE>");
            EXPECT_NE(at, std::string::npos) << value;
            EXPECT_EQ(xml.find("<VALUE>" + value + "</VALUE>", at + 1), std::string::npos) << value << " twice";
        }
        EXPECT_TRUE(filesUnder(work / "scansA").empty());
        EXPECT_TRUE(filesUnder(work / "scansB").empty());
        Station look(work);
        EXPECT_EQ(look.hidden(), std::vector<std::string>{});
    }
}
