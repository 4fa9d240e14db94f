#include "engine/RunJournal.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/JournalReader.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "support/FakeHost.h"
#include "support/FakeServices.h"
#include "support/FileInventory.h"
#include "support/KindPrompter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <set>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

std::string record(const std::string& fields)
{
    return fields + "\t" + journal::hex(journal::checksum(fields.data(), fields.size()), 8) + "\n";
}

std::string headWith(const std::string& identity, const std::string& original)
{
    std::string head = std::string(journal::kMagic) + "folder\t/o/D\ncwd\t/\nindex\t/i/a.idx" + identity +
                       "\nimages\t/s\nxml\t/o/D/DATAGRP.XML\n" + original +
                       "\nremove\t1\nconfig\t\nhost\th\nboot\tb\nprocess\t1\t2\n";
    return head + "head\t" + journal::hex(journal::checksum(head.data(), head.size()), 8) + "\n";
}

} // namespace

// The index file's inode is unsigned, and network file systems hand out ones at or above 2^63; sizes,
// times and DOCIDs are signed. Each reads back exactly what was written, at the edges of its range.
TEST(RunJournal, NumbersReadBackAtTheEdgesOfTheirRange)
{
    const struct
    {
        uint64_t device, inode;
        int64_t size, modified;
        uint64_t originalSize, originalHash;
        long lastDocId;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, 0},
        {UINT64_MAX, uint64_t(1) << 63, INT64_MAX, INT64_MIN, UINT64_MAX, UINT64_MAX, LONG_MAX},
        {1, UINT64_MAX, -1, -1, 1, 0x8000000000000000ull, LONG_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.inode));
        const std::string bytes =
            headWith("\t" + std::to_string(c.device) + "\t" + std::to_string(c.inode) + "\t" + std::to_string(c.size) +
                         "\t" + std::to_string(c.modified),
                     "original\t" + std::to_string(c.originalSize) + "\t" + journal::hex(c.originalHash, 16)) +
            record("S\t" + std::to_string(c.lastDocId) + "\t" + std::to_string(c.originalSize) + "\t" +
                   journal::hex(c.originalHash, 16) + "\t/o/D/DATAGRP.XML");
        const JournalContents read = parseRunJournal(bytes, "journal");
        EXPECT_EQ(read.indexIdentity, (FileIdentity{c.device, c.inode, c.size, c.modified}));
        EXPECT_EQ(read.original, (Fingerprint{c.originalSize, c.originalHash}));
        EXPECT_EQ(read.lastDocId, c.lastDocId);
        EXPECT_EQ(read.saved, (Fingerprint{c.originalSize, c.originalHash}));
    }
    // One past the edge is no number at all.
    EXPECT_THROW(parseRunJournal(headWith("\t1\t18446744073709551616\t0\t0", "original\tnone"), "journal"), Failure);
    EXPECT_THROW(parseRunJournal(headWith("\t1\t-1\t0\t0", "original\tnone"), "journal"), Failure);
}

// A real journal cut at every byte: cut in its head it is refused; cut anywhere after, it says exactly
// what its whole records say, and a record cut short counts for nothing.
TEST(RunJournal, AJournalCutAtEveryByteIsReadAsItsWholeRecordsOrRefused)
{
    TempDir dir;
    writeFile(dir / "in/a.idx", "A,\\B1\\1.TIF,1\r\n");
    const std::string folder = dir / "out/D";
    std::filesystem::create_directories(folder);
    std::string bytes;
    {
        RunJournal writer(folder, dir / "setup.tvr", true);
        writer.begin(dir / "in/a.idx", folder + "/DATAGRP.XML", dir / "scans", "<old/>");
        writer.beforeMove(dir / "scans/B1/1.TIF", folder + "/B1/1.TIF");
        writer.beforeMove(dir / "scans/B1/2.TIF", folder + "/B1/2.TIF");
        writer.moveNotMade();
        writer.beforeSetAside(folder + "/B1/3.TIF", folder + "/B1/.3.TIF.set-aside");
        writer.beforeMove(dir / "scans/B1\\3.TIF", folder + "/B1/3.TIF");
        writer.markSaving(3, fingerprintOf("<new/>"), folder + "/DATAGRP.XML");
        writer.markFailed();
        const std::string mapped = readFile(RunJournal::pathFor(folder));
        bytes = mapped.substr(0, mapped.find('\0'));
    }
    const JournalContents whole = parseRunJournal(bytes, "journal");
    ASSERT_EQ(whole.steps.size(), 3u);
    EXPECT_EQ(whole.steps[2].from, dir / "scans/B1/3.TIF");
    EXPECT_TRUE(whole.steps[1].setAside);

    // After each whole record: the steps there are, whether the save and the failure were recorded.
    const struct
    {
        size_t steps;
        bool saving;
        bool failed;
    } states[] = {{0, false, false}, {1, false, false}, {2, false, false}, {1, false, false},
                  {2, false, false}, {3, false, false}, {3, true, false},  {3, true, true}};
    const size_t headEnd = bytes.find("\nhead\t") + 1 + bytes.substr(bytes.find("\nhead\t") + 1).find('\n') + 1;
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string prefix = bytes.substr(0, cut) + std::string(16, '\0');
        if (cut < headEnd) {
            EXPECT_THROW(parseRunJournal(prefix, "journal"), Failure);
            continue;
        }
        const JournalContents read = parseRunJournal(prefix, "journal");
        const size_t records = static_cast<size_t>(std::count(bytes.begin() + headEnd, bytes.begin() + cut, '\n'));
        ASSERT_LT(records, std::size(states));
        EXPECT_EQ(read.steps.size(), states[records].steps);
        EXPECT_EQ(read.saving, states[records].saving);
        EXPECT_EQ(!read.failedOn.empty(), states[records].failed);
        for (size_t i = 0; i < read.steps.size() && i < whole.steps.size() && records != 3 && records != 2; ++i)
            EXPECT_EQ(read.steps[i].to, whole.steps[i].to);
    }
}

// A failure just as the journal is made durable stands for a kill there: no move of the batch whose
// records were being synced has been made, and every image in the datagroup has its record.
TEST(RunJournal, NoMoveOfABatchIsMadeBeforeItsRecordsAreDurable)
{
    constexpr int kLines = 4200;
    const auto setUp = [](const TempDir& dir) {
        std::string lines;
        for (int i = 1; i <= kLines; ++i) {
            writeFile(dir / ("scans/B1/" + std::to_string(i) + ".TIF"), "img");
            lines += "Doc,\\B1\\" + std::to_string(i) + ".TIF,1\r\n";
        }
        writeFile(dir / "in/a.idx", lines);
    };
    ConversionSettings settings;
    settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
    settings.fieldTypes = "text|text|number";
    settings.maxDocuments = "10000";
    const auto convert = [&](const TempDir& dir, KindPrompter& prompter) {
        settings.imageFolder = dir / "scans";
        RunFlags flags;
        FakeServices services;
        FakeHost host;
        RunJournal journal(dir / "out/D", "", false);
        ConversionContext context{settings, flags, services.fileTools, prompter, host};
        context.journal = &journal;
        return convertIndexFile(context, dir / "in/a.idx", dir / "out/D/DATAGRP.XML", "REZI_DATAGRP", "DOCUMENT");
    };
    long syncs = 0;
    {
        TempDir dir;
        setUp(dir);
        KindPrompter prompter;
        faults::arm({0, 0, false, "Sync File"});
        ASSERT_TRUE(convert(dir, prompter));
        syncs = faults::operationsSinceArmed();
        faults::disarm();
    }
    ASSERT_GE(syncs, 3);
    for (long k = 1; k <= syncs; ++k) {
        SCOPED_TRACE("sync " + std::to_string(k));
        TempDir dir;
        setUp(dir);
        KindPrompter prompter;
        prompter.answer(MessageKind::ConversionFailure, MessageAnswer::Ok);
        faults::arm({k, EIO, false, "Sync File"});
        const bool converted = convert(dir, prompter);
        faults::disarm();
        std::set<std::string> moved;
        for (const auto& [path, bytes] : filesUnder(dir / "out/D/B1"))
            moved.insert(dir / ("out/D/B1/" + path));
        if (converted)
            continue; // the save's own sync: every move was made before it
        EXPECT_TRUE(moved.size() % 4096 == 0 || moved.size() == size_t(kLines)) << moved.size() << " images moved";
        if (!exists(dir / "out/D/.DATAGRP.JOURNAL"))
            continue;
        const JournalContents read = parseRunJournal(readFile(dir / "out/D/.DATAGRP.JOURNAL"), "journal");
        std::set<std::string> recorded;
        for (const auto& step : read.steps)
            recorded.insert(step.to);
        for (const std::string& path : moved)
            EXPECT_TRUE(recorded.count(path)) << path << " has no record";
    }
}
