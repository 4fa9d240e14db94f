#include "ui/MessageTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace tollavar {
namespace {

Prompt prompt(MessageKind kind, std::string path = {}, std::vector<std::string> paths = {}, std::string reason = {})
{
    Prompt p{kind};
    p.path = std::move(path);
    p.paths = std::move(paths);
    p.reason = std::move(reason);
    return p;
}

Prompt recovery(RecoveryFacts::Outcome outcome, const std::function<void(RecoveryFacts&)>& set = {})
{
    Prompt p{MessageKind::InterruptedRun};
    p.recovery.outcome = outcome;
    p.recovery.indexFile = "/in/a.idx";
    if (set)
        set(p.recovery);
    return p;
}

// The messages whose words no run-through test pins down: each is composed from its values, and a
// slip in a space, a separator or a clause would reach users and scripts that read these lines.
TEST(MessageTable, ComposedMessagesKeepTheirWordsSpacingAndButtons)
{
    using Outcome = RecoveryFacts::Outcome;
    using Fate = RecoveryFacts::IndexFileFate;
    const std::string kept = "  The journal was kept as /dg/.DATAGRP.JOURNAL-1.";
    const std::string interrupted = "Interrupted Conversion";
    const struct
    {
        Prompt prompt;
        Message expected;
    } cases[] = {
        {prompt(MessageKind::DatagroupBusyWait, "/dg/EXMP0001"),
         {"Another conversion is writing to the datagroup /dg/EXMP0001.  Wait for it to finish?\r(Yes waits until it "
          "is free; "
          "No gives up and converts nothing.)",
          "Datagroup in Use", MessageIcon::Question, MessageButtons::YesNo}},
        {prompt(MessageKind::DatagroupBusyWaiting, "/dg/EXMP0001"),
         {"Waiting for the conversion in /dg/EXMP0001\u2026", "Datagroup in Use", MessageIcon::None}},
        {prompt(MessageKind::DatagroupUnlockable, "/dg/EXMP0001"),
         {"The datagroup folder /dg/EXMP0001 cannot be locked (its file system does not support locks).  Converting "
          "without a lock: do not run two conversions into it at the same time.",
          "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::ConversionStillRunning),
         {"A conversion is running. Close Tollavar when it has finished.", "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::ManualNotFound, "", {"/opt/tollavar", "/usr/share/doc/tollavar"}),
         {"The user manual TLManual.pdf was not found. Tollavar looked for it in:\r/opt/tollavar\r"
          "/usr/share/doc/tollavar",
          "Tollavar", MessageIcon::Warning}},
        {prompt(MessageKind::WebSiteNotOpened, "https://example.invalid/", {}, "no handler"),
         {"Tollavar could not open the web site:\rhttps://example.invalid/\r\rno handler\r\rCheck that a program for "
          "it is installed, or open it yourself.",
          "Tollavar", MessageIcon::Warning}},
        {recovery(Outcome::PutBack,
                  [](RecoveryFacts& f) {
                      f.filesPutBack = 3;
                      f.saveUndone = true;
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted before DATAGRP.XML was saved.  3 moved "
          "file(s) were put back where they came from, and DATAGRP.XML is as it was before (its save, cut short, was "
          "undone); the index file can be converted again.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedAfterSave,
                  [](RecoveryFacts& f) {
                      f.configSaved = true;
                      f.indexFileFate = Fate::Removed;
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted after DATAGRP.XML was saved with its "
          "documents.  Its remaining steps were done: the configuration was saved, the index file was removed, and "
          "the files it replaced were deleted.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedAfterSave,
                  [](RecoveryFacts& f) {
                      f.indexFileFate = Fate::KeptChanged;
                      f.notPutBack = {"/s/1.TIF", "/s/2.TIF"};
                      f.keptAs = "/dg/.DATAGRP.JOURNAL-1";
                  }),
         {"The conversion of /in/a.idx into this datagroup was interrupted after DATAGRP.XML was saved with its "
          "documents.  Its remaining steps were done: the index file was kept because it has changed since, and the "
          "files it replaced were deleted.  These files could not be put back: /s/1.TIF, /s/2.TIF." +
              kept,
          interrupted, MessageIcon::Warning}},
        {recovery(Outcome::FinishedCommand, [](RecoveryFacts& f) { f.advancedTo = "2"; }),
         {"The conversion command that converted /in/a.idx last was interrupted after its last file.  Its remaining "
          "steps were done: the datagroup was marked for import and its number advanced to 2.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::FinishedCommand),
         {"The conversion command that converted /in/a.idx last was interrupted after its last file.  Its remaining "
          "steps were done: the datagroup was marked for import.",
          interrupted, MessageIcon::Information}},
        {recovery(Outcome::Damaged,
                  [](RecoveryFacts& f) {
                      f.reason = "line 3 is damaged";
                      f.keptAs = "/dg/.DATAGRP.JOURNAL-1";
                  }),
         {"line 3 is damaged; nothing was changed." + kept, interrupted, MessageIcon::Warning}},
    };
    for (const auto& c : cases) {
        const Message said = promptMessage(c.prompt);
        EXPECT_EQ(said, c.expected) << said.caption << ": " << said.text;
        EXPECT_EQ(said.kind, c.prompt.kind) << said.text;
        EXPECT_EQ(messageTable().prompt(c.prompt), said);
    }
}

// Why recovery left a readable journal alone: the reason sits inside the sentence the operator reads.
TEST(MessageTable, JournalsNotActedOnSayWhy)
{
    using R = RecoveryFacts::Refusal;
    const struct
    {
        R refusal;
        const char* named;
        const char* expected;
        std::string reason;
    } cases[] = {
        {R::OtherDatagroup, "/dg/B", "/dg/A", "it was written for the datagroup /dg/B, not for /dg/A"},
        {R::OtherXmlFile, "/dg/B/DATAGRP.XML", "/dg/A/DATAGRP.XML",
         "it names /dg/B/DATAGRP.XML instead of /dg/A/DATAGRP.XML"},
        {R::OtherImageFolder, "/scans", "", "its image folder /scans is not the configuration's"},
        {R::OwnSetAsideName, "/dg/A/1.TIF", "", "it sets aside /dg/A/1.TIF under a name of its own"},
        {R::OtherSaveTarget, "/etc/passwd", "", "it names /etc/passwd as the file DATAGRP.XML is saved to"},
        {R::IndexFileChanged, "/in/a.idx", "", "its index file /in/a.idx is missing or has changed since"},
        {R::IndexFileNotSelected, "/in/a.idx", "", "its index file /in/a.idx is not one the configuration converts"},
        {R::OutsideFolder, "/dg/A/../x", "/dg/A", "/dg/A/../x lies outside /dg/A"},
        {R::XmlChangedElsewhere, "", "", "DATAGRP.XML was changed by someone else since"},
        {R::XmlNeitherBeforeNorSaved, "", "", "DATAGRP.XML is neither as it was nor as the run saved it"},
    };
    for (const auto& c : cases) {
        const Prompt p = recovery(RecoveryFacts::Outcome::NotActedOn, [&c](RecoveryFacts& f) {
            f.journalPath = "/dg/A/.DATAGRP.JOURNAL";
            f.refusal = c.refusal;
            f.named = c.named;
            f.expected = c.expected;
            f.keptAs = "/dg/A/.DATAGRP.JOURNAL-1";
        });
        EXPECT_EQ(promptMessage(p).text,
                  "The recovery journal /dg/A/.DATAGRP.JOURNAL of an earlier conversion was not "
                  "acted on: " +
                      c.reason + ".  Nothing was changed.  The journal was kept as /dg/A/.DATAGRP.JOURNAL-1.");
    }
}

Notice notice(NoticeKind kind, std::string path = {}, long count = 0, const std::function<void(Notice&)>& set = {})
{
    Notice n{kind, std::move(path)};
    n.count = count;
    if (set)
        set(n);
    return n;
}

// The hot folder's log lines and the notices that scripts and operators read, where no run-through test
// pins the whole line: a lost space, separator or unit would go unnoticed until someone's grep failed.
TEST(MessageTable, NoticesKeepTheirWordsAndSpacing)
{
    using K = NoticeKind;
    const auto reason = [](std::string why) { return [why](Notice& n) { n.reason = why; }; };
    const auto text = [](std::string value) { return [value](Notice& n) { n.text = value; }; };
    const auto into = [](std::string folder) { return [folder](Notice& n) { n.folder = folder; }; };
    const auto files = [](std::vector<std::string> names, std::string folder) {
        return [names, folder](Notice& n) {
            n.paths = names;
            n.folder = folder;
        };
    };
    const struct
    {
        Notice notice;
        std::string expected;
    } cases[] = {
        {notice(K::ConvertedByInterruptedCommand, "/in/a.idx"),
         "Converted already by the interrupted command: /in/a.idx"},
        {notice(K::ItemNamesNoFolder, "", 0, text("*.idx")), "the item \"*.idx\" names no folder to watch"},
        {notice(K::ItemFolderMissing, "/in", 0, text("/in/*.idx")),
         "the folder /in of the item \"/in/*.idx\" does not exist"},
        {notice(K::NothingToWatch), "no item of the configuration has a folder that can be watched"},
        {notice(K::WatchingStarted, "", 2000),
         "watching for index files; a file is converted once it is closed, held open by no one and unchanged for 2 s"},
        {notice(K::WatchingStarted, "", 500), "watching for index files; a file is converted once it is closed, held "
                                              "open by no one and unchanged for 0.5 s"},
        {notice(K::CommandStoppedEarly), "the Convert command stopped before its end (see above); watching goes on"},
        {notice(K::DatagroupFull, "", 0, text("8")),
         "the datagroup is full; the next files go into datagroup number 8"},
        {notice(K::WaitsForDatagroup, "/in/a.idx"), "/in/a.idx waits for the datagroup to free"},
        {notice(K::TriedAgain, "/in/a.idx"), "/in/a.idx is tried again"},
        {notice(K::NotConverted, "/in/a.idx", 300),
         "/in/a.idx was not converted (see above); it is tried again when it changes or in 300 s"},
        {notice(K::BeingWrittenAgain, "/in/a.idx"), "/in/a.idx is being written again; left for later"},
        {notice(K::ConversionFailed, "/in/a.idx", 300),
         "failed /in/a.idx; it stays where it is and is tried again when it changes or in 300 s (see above)"},
        {notice(K::Converted, "/in/a.idx", 0, into("/dg/EXMP0001")), "converted /in/a.idx into /dg/EXMP0001"},
        {notice(K::ConvertedButChanged, "/in/a.idx", 0, into("/dg/EXMP0001")),
         "converted /in/a.idx into /dg/EXMP0001, but it changed meanwhile: kept, to be converted again"},
        {notice(K::ConvertedNotRemoved, "/in/a.idx", 0, reason("Permission denied")),
         "converted /in/a.idx but could not remove it: Permission denied; it is not converted again unless it changes"},
        {notice(K::BurstFailed, "", 3, files({"a.idx", "b.idx"}, "EXMP0001")),
         "failed a.idx, b.idx: 3 documents into EXMP0001"},
        {notice(K::BurstWithoutFiles, "", 0, [](Notice& n) { n.text = "nothing to convert"; }), "nothing to convert"},
        {notice(K::BurstWithoutFiles, "", 0,
                [](Notice& n) {
                    n.text = "failed";
                    n.folder = "EXMP0001";
                }),
         "failed in EXMP0001"},
        {notice(K::WatchedByInotify, "/in"), "/in: inotify"},
        {notice(K::PolledOnRequest, "/in", 5), "/in: polling every 5 s (--poll)"},
        {notice(K::PolledNetworkMount, "/in", 2, text("SMB/CIFS")),
         "/in: polling every 2 s: SMB/CIFS mount, where the kernel sees no writes made elsewhere"},
        {notice(K::PolledWithoutInotify, "/in", 2), "/in: polling every 2 s: no inotify"},
        {notice(K::PolledWithoutWatch, "/in", 2), "/in: polling every 2 s: no inotify watch"},
        {notice(K::PolledFolderGone, "/in"), "/in: polling: the watched folder went away"},
        {notice(K::InotifyWatchLimit, "/in"),
         "The inotify watch limit is reached (see fs.inotify.max_user_watches): polling /in instead"},
        {notice(K::InotifyInstanceLimit, "/in"),
         "The inotify instance limit is reached (see fs.inotify.max_user_instances): polling every folder instead"},
        {notice(K::InotifyUnavailable, "/in", 0, reason("Function not implemented")),
         "inotify is not available (Function not implemented): polling /in instead"},
        {notice(K::EventQueueOverflowed), "The inotify event queue overflowed (see fs.inotify.max_queued_events): "
                                          "looking at every watched folder again"},
        {notice(K::WatchedFolderGone, "/in"), "The folder /in was removed or moved: polling its path"},
        {notice(K::WaitingForFilesFailed, "", 0, reason("Bad file descriptor")),
         "Waiting for files failed: Bad file descriptor"},
        {notice(K::WaitingForNamedFiles, "/in/a.csv", 3, text("/img/B1/7.TIF")),
         "waiting for 3 images named by /in/a.csv (first: /img/B1/7.TIF)"},
        {notice(K::GroupWaitOver, "/in/a.csv", 1),
         "nothing new arrived for /in/a.csv: converting it with 1 images still missing or unsettled"},
        {notice(K::RewrittenConvertedWhole, "/in/a.csv"),
         "/in/a.csv was rewritten since part of it was converted: converted whole, as a new file"},
        {notice(K::ConvertingAppendedLines, "/in/a.csv", 2105),
         "converting the lines appended to /in/a.csv after its first 2105 bytes, which were converted before"},
        {notice(K::MetricsNotWritten, "/m/t.prom", 0, reason("Permission denied")),
         "The metrics file /m/t.prom cannot be written: Permission denied"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(noticeText(c.notice), c.expected);
        EXPECT_EQ(messageTable().notice(c.notice), c.expected);
    }
}

} // namespace
} // namespace tollavar

namespace tollavar {
namespace {

// The rows of the manual's table of messages, "| text (caption) | meaning |".
std::vector<std::string> manualMessageRows()
{
    std::ifstream file(std::string(TOLLAVAR_TEST_DATA_DIR) + "/../../docs/manual.md");
    std::vector<std::string> rows;
    bool inSection = false;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("## "))
            inSection = line.find("Messages and what to do") != std::string::npos;
        else if (inSection && line.starts_with("| "))
            rows.push_back(line);
    }
    return rows;
}

// Every message the program can show is in the manual's table, by its caption and the words it opens
// with, so that a new message cannot be added without telling the user what to do about it.
TEST(MessageTable, TheManualListsEveryMessage)
{
    const std::vector<std::string> rows = manualMessageRows();
    ASSERT_GT(rows.size(), 10u) << "the manual's table of messages was not found";
    std::vector<Message> messages;
    // Every kind, the ones added later included; a kind that comes as a failure words nothing here.
    for (int kind = 0; kind < 100; ++kind) {
        Prompt p{static_cast<MessageKind>(kind)};
        p.path = "PATH";
        Message said = messageTable().prompt(p);
        if (!said.text.empty())
            messages.push_back(std::move(said));
    }
    for (FailedWork work : {FailedWork::ConversionRun, FailedWork::ConvertCommand, FailedWork::OpeningConfig,
                            FailedWork::SavingConfig, FailedWork::StartingUp})
        messages.push_back(messageTable().failure(FailureReport{work, Failure(ErrorCode::InvalidCall, "Source", "")}));
    for (const Message& message : messages) {
        // The words before the first value, a line break or a number the failure gives.
        std::string opening = message.text.substr(0, message.text.find_first_of("\r\n"));
        opening = opening.substr(0, std::min(opening.find("PATH"), size_t{24}));
        if (message.kind == MessageKind::CommandFailure || opening.starts_with("5 - "))
            opening.clear();
        // A count or a list's separator before the words; the manual writes one space where the box has two.
        opening.erase(0, opening.find_first_not_of("0123456789;, "));
        opening = opening.substr(0, opening.find_first_of("0123456789"));
        for (size_t twice; (twice = opening.find("  ")) != std::string::npos;)
            opening.erase(twice, 1);
        std::string caption = message.caption;
        if (caption.starts_with("Error in Convert - "))
            caption = "Error in Convert - ";
        const bool listed = std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
            return row.find(caption) != std::string::npos && row.find(opening) != std::string::npos;
        });
        EXPECT_TRUE(listed) << "not in the manual: \"" << opening << "...\" (" << message.caption << ")";
    }
}

} // namespace
} // namespace tollavar
