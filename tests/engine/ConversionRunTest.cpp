#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "filetools/FaultInjection.h"
#include "support/FakeHost.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

using A = MessageAnswer;

// A datagroup folder and an image folder in a temporary folder, with the run's fakes.
class ConversionRunTest : public ::testing::Test
{
public:
    ConversionRunTest()
    {
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
        settings.fieldTypes = "text|text|number|number";
        settings.imageFolder = dir / "scans";
        settings.maxDocuments = "2500";
    }
    ~ConversionRunTest() override { faults::disarm(); }

    std::string xml() const { return dir / "out/DEFC0001/DATAGRP.XML"; }
    std::string index(const std::string& name = "batch.csv") const { return dir / ("in/" + name); }
    void image(const std::string& relative, const std::string& bytes = "image")
    {
        writeFile(dir / ("scans" + relative), bytes);
    }
    bool run(const std::string& indexFile)
    {
        ConversionContext context{settings, flags, services.fileTools, prompter, host};
        return convertIndexFile(context, indexFile, xml(), "REZI_DATAGRP", "DOCUMENT");
    }
    static std::vector<std::string> docIds(const std::string& xmlText)
    {
        std::vector<std::string> ids;
        const std::string key = "DOCID=\"";
        for (size_t at = xmlText.find(key); at != std::string::npos; at = xmlText.find(key, at + 1)) {
            const size_t start = at + key.size();
            ids.push_back(xmlText.substr(start, xmlText.find('"', start) - start));
        }
        return ids;
    }
    std::string lastMessageText() const { return prompter.seen().empty() ? "" : prompter.seen().back().text; }

    TempDir dir;
    ConversionSettings settings;
    RunFlags flags;
    FakeServices services;
    FakePrompter prompter;
    FakeHost host;
};

} // namespace

TEST_F(ConversionRunTest, ListChecksStopBeforeAnythingIsTouched)
{
    writeFile(index(), "a,/x.tif,1,2\r\n");
    settings.fieldTypes = "text|text|number";
    prompter.expect("Error converting file", A::Ok);
    EXPECT_FALSE(run(index()));
    EXPECT_EQ(prompter.seen().back().text, "Different number of field names and types.  Conversion canceled.");

    settings.fieldNames = "Name|Image|PAGECOUNT";
    prompter.expect("Missing Field", A::Ok);
    EXPECT_FALSE(run(index()));
    EXPECT_EQ(prompter.seen().back().text, "ImagePath field is missing!  Cannot process file!");
    EXPECT_EQ(prompter.seen().back().icon, MessageIcon::Warning);

    EXPECT_FALSE(flags.batchCanceled);
    EXPECT_FALSE(exists(dir / "out"));
    EXPECT_EQ(host.panelWrites, 0);
}

TEST_F(ConversionRunTest, NewDatagroupTakesDocumentsImagesAndFullText)
{
    image("/B1/0001.TIF");
    image("/B1/0001.txt", "words");
    image("/B1/0002.jpg");
    writeFile(index(), "Smith,\\B1\\0001.TIF,3,42\r\n   \r\nJones,\\B1\\0002.jpg,9,43\r\n");
    ASSERT_TRUE(run(index())) << lastMessageText();

    const std::string text = readFile(xml());
    EXPECT_EQ(docIds(text), (std::vector<std::string>{"1", "2"}));
    EXPECT_NE(text.find("<PAGES>3</PAGES>"), std::string::npos);
    EXPECT_NE(text.find("<PAGES>1</PAGES>"), std::string::npos) << "a jpg never takes its page count";
    EXPECT_TRUE(exists(dir / "out/DEFC0001/B1/0001.TIF"));
    EXPECT_EQ(readFile(dir / "out/DEFC0001/B1/0001.PVFULLTEXT"), "words");
    EXPECT_TRUE(exists(dir / "out/DEFC0001/B1/0002.jpg"));
    EXPECT_FALSE(exists(dir / "scans/B1/0001.TIF"));
    EXPECT_EQ(host.panel1, "batch.csv");
    EXPECT_EQ(host.panel2, "\\B1\\0002.jpg");
    EXPECT_EQ(host.eventRounds, 3) << "events once per line read, blank lines included";
    EXPECT_FALSE(flags.batchCanceled);
    EXPECT_FALSE(flags.datagroupFull);

    // A second index file continues the numbering of the same datagroup.
    image("/B2/0003.TIF");
    writeFile(index("second.csv"), "Brown,\\B2\\0003.TIF,1,44\r\n");
    ASSERT_TRUE(run(index("second.csv"))) << lastMessageText();
    EXPECT_EQ(docIds(readFile(xml())), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(ConversionRunTest, EmptyIndexFileGivesHeaderAndEmptyDocuments)
{
    writeFile(index(), "");
    ASSERT_TRUE(run(index())) << lastMessageText();
    const std::string text = readFile(xml());
    EXPECT_NE(text.find("<DOCUMENTS>"), std::string::npos);
    EXPECT_TRUE(docIds(text).empty());
    EXPECT_NE(text.find("<NAME>Name</NAME>"), std::string::npos);
    EXPECT_NE(text.find("<NAME>ID</NAME>"), std::string::npos);
}

TEST_F(ConversionRunTest, EmptyExistingFileIsOfferedForDeletion)
{
    writeFile(xml(), "");
    writeFile(index(), "");
    prompter.expect("Datagrp.xml Cleanup", A::No);
    EXPECT_FALSE(run(index()));
    EXPECT_TRUE(flags.batchCanceled);
    EXPECT_EQ(prompter.seen().size(), 1u) << "No ends the run without another message";
    EXPECT_EQ(readFile(xml()), "");

    flags = {};
    prompter.expect("Datagrp.xml Cleanup", A::Yes);
    EXPECT_TRUE(run(index()));
    EXPECT_NE(readFile(xml()).find("<REZI_DATAGRP>"), std::string::npos);
}

TEST_F(ConversionRunTest, FailuresReportTheirStep)
{
    const struct
    {
        const char* name;
        std::function<void(ConversionRunTest&)> arrange;
        const char* expectedEnd;
    } cases[] = {
        {"malformed existing file", [](ConversionRunTest& t) { writeFile(t.xml(), "<REZI_DATAGRP><oops>"); },
         "\rLine # 9"},
        {"bytes not in the declared encoding",
         [](ConversionRunTest& t) {
             writeFile(t.xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R><N>Z\xFCrich</N><P><D/></P></R>");
         },
         "\rLine # 9"},
        {"last document without a DOCID",
         [](ConversionRunTest& t) {
             writeFile(t.xml(),
                       "<R><P><DOCUMENTS><DOCUMENT DOCID=\"1\"/><DOCUMENT/><!-- by hand --></DOCUMENTS></P></R>");
         },
         "\rLine # 9"},
        {"an element after DOCUMENTS",
         [](ConversionRunTest& t) { writeFile(t.xml(), "<R><P><DOCUMENTS/><NOTE/></P></R>"); }, "\rLine # 9"},
        {"a character windows-1252 cannot write where it stands",
         [](ConversionRunTest& t) { writeFile(t.xml(), "<?note\xEF\xBB\xBF?><R><P><DOCUMENTS/></P></R>"); },
         "\rLine # 9"},
        {"missing index file", [](ConversionRunTest& t) { std::filesystem::remove(t.index()); }, "\rLine # 10"},
        {"maximum that is not a number", [](ConversionRunTest& t) { t.settings.maxDocuments = "lots"; }, "\rLine # 20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir fresh;
        std::filesystem::remove_all(dir / "out");
        writeFile(index(), "");
        settings = ConversionSettings{};
        settings.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
        settings.fieldTypes = "text|text|number|number";
        flags = {};
        prompter.clear();
        c.arrange(*this);
        prompter.expect("Conversion Error", A::Ok);
        const bool existingFile = std::string(c.expectedEnd) == "\rLine # 9";
        if (existingFile)
            prompter.expect("Undo Changes?", A::No);
        EXPECT_FALSE(run(index()));
        ASSERT_FALSE(prompter.seen().empty());
        const std::string& text = prompter.seen().front().text;
        EXPECT_TRUE(text.ends_with(c.expectedEnd)) << text;
        if (existingFile) {
            EXPECT_NE(text.find(xml()), std::string::npos) << "the message names the file: " << text;
        }
        EXPECT_EQ(prompter.seen().front().icon, MessageIcon::Error);
        EXPECT_TRUE(flags.batchCanceled);
        EXPECT_TRUE(prompter.scriptDone());
    }
}

TEST_F(ConversionRunTest, MissingSourceAnsweredNoOnNewDatagroupLeavesTheEmptyFile)
{
    writeFile(index(), "Smith,\\B1\\0001.TIF,3,42\r\n");
    prompter.expect("Source File is Missing", A::No);
    prompter.expect("Conversion Error", A::Ok);
    EXPECT_FALSE(run(index()));
    EXPECT_EQ(prompter.seen()[0].text, "Source File: " + dir / "scans" + "\\B1\\0001.TIF\rIndex File: " + index() +
                                           "\rSkip file and continue processing?");
    EXPECT_EQ(prompter.seen()[1].text, "23 - Source file not found.\rLine # 17");
    EXPECT_EQ(readFile(xml()), "") << "no undo for a new datagroup: its empty file stays";
    EXPECT_TRUE(flags.batchCanceled);
}

TEST_F(ConversionRunTest, UndoRestoresTheOriginalBytesAndKeepsTheRunsVersionAsBackup)
{
    image("/B1/0001.TIF");
    writeFile(index(), "Smith,\\B1\\0001.TIF,3,42\r\n");
    ASSERT_TRUE(run(index()));
    // The existing file is kept byte for byte, whatever its layout.
    std::string original = readFile(xml()) + "\r\n";
    writeFile(xml(), original);
    writeFile(dir / "out/DEFC0001/DATAGRP-0001.XML", "older backup");

    image("/B1/0002.TIF");
    writeFile(index(), "Jones,\\B1\\0002.TIF,1,43\r\nBrown,\\B1\\0003.TIF,1,44\r\n");
    prompter.expect("Source File is Missing", A::No);
    prompter.expect("Conversion Error", A::Ok);
    prompter.expect("Undo Changes?", A::Yes);
    prompter.expect("Canceled Batch", A::Ok);
    EXPECT_FALSE(run(index()));
    EXPECT_EQ(prompter.seen()[3].text, "1 files have been moved and will not appear in DATAGRP.XML file.  These files "
                                       "should be moved back before reprocessing.");
    EXPECT_EQ(readFile(xml()), original);
    EXPECT_EQ(readFile(dir / "out/DEFC0001/DATAGRP-0002.XML"), original) << "first free backup number";
    EXPECT_EQ(readFile(dir / "out/DEFC0001/DATAGRP-0001.XML"), "older backup");
    EXPECT_TRUE(exists(dir / "out/DEFC0001/B1/0002.TIF")) << "moved images stay moved";

    // No: the backup receives the original and DATAGRP.XML stays as it is.
    flags = {};
    prompter.clear();
    prompter.expect("Source File is Missing", A::No);
    prompter.expect("Conversion Error", A::Ok);
    prompter.expect("Undo Changes?", A::No);
    writeFile(index(), "Brown,\\B1\\0003.TIF,1,44\r\n");
    EXPECT_FALSE(run(index()));
    EXPECT_EQ(readFile(xml()), original);
    EXPECT_EQ(readFile(dir / "out/DEFC0001/DATAGRP-0003.XML"), original);
}

TEST_F(ConversionRunTest, DroppedDocumentKeepsItsNumber)
{
    image("/B1/0002.TIF");
    writeFile(index(), "Smith,\\B1\\0001.TIF,3,42\r\nJones,\\B1\\0002.TIF,1,43\r\n");
    prompter.expect("Source File is Missing", A::Yes);
    ASSERT_TRUE(run(index())) << lastMessageText();
    EXPECT_EQ(docIds(readFile(xml())), (std::vector<std::string>{"2"}));
}

TEST_F(ConversionRunTest, DatagroupIsFullOnlyAboveTheMaximum)
{
    for (int i = 1; i <= 3; ++i)
        image("/B1/000" + std::to_string(i) + ".TIF");
    writeFile(index(), "a,\\B1\\0001.TIF,1,1\r\nb,\\B1\\0002.TIF,1,2\r\n");
    settings.maxDocuments = "2";
    ASSERT_TRUE(run(index()));
    EXPECT_FALSE(flags.datagroupFull) << "equal is not enough";
    writeFile(index(), "c,\\B1\\0003.TIF,1,3\r\n");
    settings.maxDocuments = " 2.4 ";
    ASSERT_TRUE(run(index()));
    EXPECT_TRUE(flags.datagroupFull);
}

TEST_F(ConversionRunTest, SettingsChangedBetweenLinesTakeEffectAtTheirNextReading)
{
    image("/B1/0001.TIF");
    image("/B1/0002.TIF");
    writeFile(index(), "a,\\B1\\0001.TIF,1,1\r\nb;\\B1\\0002.TIF;1;2\r\n");
    host.onEvents = [this](int round) {
        if (round == 2)
            settings.delimiter = ";";
    };
    ASSERT_TRUE(run(index())) << lastMessageText();
    EXPECT_TRUE(exists(dir / "out/DEFC0001/B1/0002.TIF"));
}

TEST_F(ConversionRunTest, FailedSaveLeavesThePreviousFileWhole)
{
    image("/B1/0001.TIF");
    writeFile(index(), "a,\\B1\\0001.TIF,1,1\r\n");
    ASSERT_TRUE(run(index()));
    const std::string before = readFile(xml());

    image("/B1/0002.TIF");
    writeFile(index(), "b,\\B1\\0002.TIF,1,2\r\n");
    faults::arm({1, ENOSPC, false, "Write File"});
    prompter.expect("Conversion Error", A::Ok);
    prompter.expect("Undo Changes?", A::No);
    EXPECT_FALSE(run(index()));
    faults::disarm();
    EXPECT_TRUE(prompter.seen()[0].text.starts_with("61 - Disk full: ")) << prompter.seen()[0].text;
    EXPECT_TRUE(prompter.seen()[0].text.ends_with("\rLine # 19"));
    EXPECT_EQ(readFile(xml()), before);
    for (auto& entry : std::filesystem::directory_iterator(dir / "out/DEFC0001"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

TEST_F(ConversionRunTest, HostileValuesNeverReachTheDisk)
{
    image("/B1/0001.TIF");
    writeFile(dir / "secret", "do not move");
    const struct
    {
        const char* line;
        const char* messagePart;
    } cases[] = {
        {"a,\\..\\secret,1,1\r\n", "Image path leaves its folder: \\..\\secret"},
        {"a,\\B1\\0001.TIF,1,bad\x01value\r\n", "ID"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        prompter.clear();
        flags = {};
        std::filesystem::remove_all(dir / "out");
        writeFile(index(), c.line);
        prompter.expect("Conversion Error", A::Ok);
        EXPECT_FALSE(run(index()));
        ASSERT_FALSE(prompter.seen().empty());
        EXPECT_NE(prompter.seen()[0].text.find(c.messagePart), std::string::npos) << prompter.seen()[0].text;
        EXPECT_EQ(readFile(xml()), "");
    }
    EXPECT_EQ(readFile(dir / "secret"), "do not move");
    EXPECT_TRUE(exists(dir / "scans/B1/0001.TIF"));
}

TEST_F(ConversionRunTest, WaitsWhileAnotherProgramHoldsTheFile)
{
    writeFile(xml(), "");
    writeFile(index(), "");
    int held = open(xml().c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    struct Releaser : FakePrompter
    {
        int* fd;
        MessageAnswer show(const Message& m) override
        {
            if (m.kind == MessageKind::XmlInUseWait && *fd >= 0) {
                close(*fd);
                *fd = -1;
            }
            return FakePrompter::show(m);
        }
    };
    Releaser releasing;
    releasing.fd = &held;
    releasing.expect("Tollavar", A::Ok);
    releasing.expect("Datagrp.xml Cleanup", A::Yes);
    ConversionContext context{settings, flags, services.fileTools, releasing, host};
    EXPECT_TRUE(convertIndexFile(context, index(), xml(), "REZI_DATAGRP", "DOCUMENT"));
    EXPECT_EQ(releasing.seen()[0].text, "XML file is in use.  Click OK to try again.");
    EXPECT_EQ(releasing.seen()[0].icon, MessageIcon::Question);
}

TEST_F(ConversionRunTest, NoDocumentIsNumberedAbove32767)
{
    const struct
    {
        int lastDocIdBefore;
        int lines;
        bool converts;
    } cases[] = {
        {32765, 2, true},
        {32766, 1, true},
        {32766, 2, false}, // the second line would need 32768
        {32767, 1, false}, // full already: nothing is added, and the command advances first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lastDocIdBefore) + " + " + std::to_string(c.lines));
        std::filesystem::remove_all(dir / "out");
        flags = {};
        prompter.clear();
        writeFile(index(), "first,,1,1\r\n");
        ASSERT_TRUE(run(index()));
        std::string original = readFile(xml());
        const size_t at = original.find("DOCID=\"1\"");
        ASSERT_NE(at, std::string::npos);
        original.replace(at, 9, "DOCID=\"" + std::to_string(c.lastDocIdBefore) + "\"");
        writeFile(xml(), original);

        std::string lines;
        for (int i = 0; i < c.lines; ++i)
            lines += "next,,1," + std::to_string(i) + "\r\n";
        writeFile(index(), lines);
        const bool atCap = c.lastDocIdBefore == 32767;
        if (!c.converts && !atCap) {
            prompter.expect("Conversion Error", A::Ok);
            prompter.expect("Undo Changes?", A::Yes);
        }
        EXPECT_EQ(run(index()), c.converts);
        EXPECT_TRUE(prompter.scriptDone());
        EXPECT_EQ(flags.datagroupAtCap, atCap);
        const std::vector<std::string> ids = docIds(readFile(xml()));
        if (c.converts) {
            EXPECT_EQ(ids.back(), std::to_string(c.lastDocIdBefore + c.lines));
            EXPECT_EQ(flags.datagroupFull, c.lastDocIdBefore + c.lines == 32767) << "a datagroup at the cap is full";
            continue;
        }
        if (atCap) {
            EXPECT_TRUE(prompter.seen().empty());
            EXPECT_EQ(readFile(xml()), original);
            continue;
        }
        EXPECT_EQ(prompter.seen().front().text, "6 - Overflow: a datagroup holds at most 32,767 documents; split the "
                                                "index file or lower Max Files per Datagroup\rLine # 12");
        EXPECT_EQ(readFile(xml()), original) << "the undo restores the datagroup as it was";
        EXPECT_TRUE(flags.batchCanceled);
    }
}
