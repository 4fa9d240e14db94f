#include "engine/ImagePlacement.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "filetools/Failure.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

using A = MessageAnswer;

class ImagePlacementTest : public ::testing::Test
{
protected:
    ImagePlacementTest()
    {
        document.buildHeader("REZI_DATAGRP", DatagroupHeader{"1", "C", "DEFC", "1", "P"}, {"IMAGEPATH"}, {"text"});
    }

    // One document holding `imagePath`, placed as the run would place it.
    PlacementOutcome placeOne(const std::string& imagePath, const std::string& indexFile = "")
    {
        ImagePlacer placer(settings, services.fileTools, prompter, dir / "scans",
                           indexFile.empty() ? dir / "in/batch.csv" : indexFile, datagroup() + "/DATAGRP.XML");
        document.beginDocument("DOCUMENT", ++docId);
        document.beginObject();
        document.setImagePath(imagePath);
        PlacementOutcome outcome = placer.place(imagePath, document);
        document.endDocument();
        moved += placer.movedCount();
        return outcome;
    }
    std::string datagroup() const { return dir / "out/DEFC0001"; }
    std::string xmlText() const { return document.serialize(); }

    TempDir dir;
    ConversionSettings settings;
    FakeServices services;
    FakePrompter prompter;
    DatagroupDocument document;
    long docId = 0;
    long moved = 0;
};

} // namespace

TEST_F(ImagePlacementTest, ImageAndFullTextMoveUnderTheirRelativePath)
{
    writeFile(dir / "scans/B1/0001.TIF", "img");
    writeFile(dir / "scans/B1/0001.txt", "text");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), "img");
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.PVFULLTEXT"), "text");
    EXPECT_FALSE(exists(dir / "scans/B1/0001.TIF"));
    EXPECT_FALSE(exists(dir / "scans/B1/0001.txt"));
    EXPECT_EQ(moved, 1);
}

TEST_F(ImagePlacementTest, DuplicatesTakeTheFirstFreeNumber)
{
    settings.mAllowDupes = true;
    writeFile(datagroup() + "/B1/0001.TIF", "old");
    writeFile(datagroup() + "/B1/0001-0001.tif", "older");
    writeFile(dir / "scans/B1/0001.TIF", "new");
    writeFile(dir / "scans/B1/0001.txt", "words");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001-0002.tif"), "new");
    EXPECT_EQ(readFile(datagroup() + "/B1/0001-0002.PVFULLTEXT"), "words");
    EXPECT_NE(xmlText().find("<FILE1>\\B1\\0001-0002.tif</FILE1>"), std::string::npos) << xmlText();
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), "old");

    // Every occurrence of the extension is numbered, a folder's too; the numbered folder is made.
    writeFile(datagroup() + "/x.TIF/0001.TIF", "old");
    writeFile(dir / "scans/x.TIF/0001.TIF", "new");
    EXPECT_EQ(placeOne("\\x.TIF\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/x-0001.tif/0001-0001.tif"), "new");
    EXPECT_NE(xmlText().find("<FILE1>\\x-0001.tif\\0001-0001.tif</FILE1>"), std::string::npos);
}

TEST_F(ImagePlacementTest, NameWithoutExtensionStillFindsAFreeDuplicate)
{
    settings.mAllowDupes = true;
    writeFile(datagroup() + "/B1/scan", "old");
    writeFile(dir / "scans/B1/scan", "new");
    EXPECT_EQ(placeOne("/B1/scan"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/scan-0001"), "new");
}

TEST_F(ImagePlacementTest, TakenDestinationAsksWhatToDo)
{
    const struct
    {
        A answer;
        const char* destinationAfter;
        bool sourceStays;
        bool documentKept;
    } cases[] = {
        {A::Yes, "new", false, false},
        {A::No, "old", true, false},
    };
    for (const auto& c : cases) {
        writeFile(datagroup() + "/B1/0001.TIF", "old");
        writeFile(dir / "scans/B1/0001.TIF", "new");
        prompter.expect("File Exists", c.answer);
        EXPECT_EQ(placeOne("\\B1\\0001.TIF"),
                  c.answer == A::Yes ? PlacementOutcome::Placed : PlacementOutcome::Dropped);
        EXPECT_EQ(prompter.seen().back().text, "Image file already exists! " + datagroup() +
                                                   "\\B1\\0001.TIF.  Do you want to replace this with the new file?");
        EXPECT_EQ(prompter.seen().back().buttons, MessageButtons::YesNoCancel);
        EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), c.destinationAfter);
        EXPECT_EQ(exists(dir / "scans/B1/0001.TIF"), c.sourceStays);
        EXPECT_EQ(xmlText().find("DOCID"), std::string::npos) << "the new document is dropped either way";
    }

    writeFile(dir / "scans/B1/0001.TIF", "newest");
    prompter.expect("File Exists", A::Cancel);
    try {
        placeOne("\\B1\\0001.TIF");
        FAIL() << "Cancel stops the run";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), 21);
        EXPECT_EQ(f.source(), "Copy Image File");
        EXPECT_EQ(f.description(), "Image file aleady exists.");
    }
    EXPECT_EQ(readFile(dir / "scans/B1/0001.TIF"), "newest");
}

TEST_F(ImagePlacementTest, MissingSourceCanBeSkippedOrStopsTheRun)
{
    prompter.expect("Source File is Missing", A::Yes);
    EXPECT_EQ(placeOne("\\B1\\0009.TIF"), PlacementOutcome::Dropped);
    EXPECT_TRUE(exists(datagroup() + "/B1")) << "the folder is made before the source is looked at";
    EXPECT_EQ(prompter.seen().back().icon, MessageIcon::Warning);

    prompter.expect("Source File is Missing", A::No);
    try {
        placeOne("\\B1\\0009.TIF");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), 23);
        EXPECT_EQ(f.source(), "Missing Source File");
        EXPECT_EQ(f.description(), "Source file not found.");
    }
}

TEST_F(ImagePlacementTest, NothingIsPlacedFromInsideTheDatagroupOrOutsideTheImageFolder)
{
    writeFile(datagroup() + "/B1/0001.TIF", "in place");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF", datagroup() + "/batch.csv"), PlacementOutcome::NothingToPlace);
    EXPECT_EQ(placeOne(""), PlacementOutcome::NothingToPlace);

    writeFile(dir / "private.key", "secret");
    for (const char* hostile : {"\\..\\private.key", "/../private.key", "/B1/../../private.key", ".."}) {
        SCOPED_TRACE(hostile);
        EXPECT_THROW(placeOne(hostile), Failure);
    }
    EXPECT_EQ(readFile(dir / "private.key"), "secret");
    EXPECT_FALSE(LeavesItsFolder("\\B1\\..x\\a..tif"));
    EXPECT_EQ(moved, 0);
}
