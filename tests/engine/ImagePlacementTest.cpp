#include "engine/ImagePlacement.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "filetools/Beneath.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

using A = MessageAnswer;
namespace fs = std::filesystem;

// What is at a path, a link not followed.
fs::file_type typeAt(const std::string& path)
{
    return fs::symlink_status(path).type();
}

struct ComponentWalkGuard
{
    ~ComponentWalkGuard() { faults::forceComponentWalk(false); }
};

class ImagePlacementTest : public ::testing::Test
{
protected:
    ImagePlacementTest()
    {
        m_document.buildHeader("REZI_DATAGRP", DatagroupHeader{"1", "C", "DEFC", "1", "P"}, {"IMAGEPATH"}, {"text"});
    }

    // One document holding `imagePath`, placed as the run would place it.
    PlacementOutcome placeOne(const std::string& imagePath, const std::string& indexFile = "")
    {
        ImagePlacer placer(m_settings, m_services.fileTools, m_prompter, m_imageFolder,
                           indexFile.empty() ? m_dir / "in/batch.csv" : indexFile, m_xmlFile);
        m_document.beginDocument("DOCUMENT", ++m_docId);
        m_document.beginObject();
        m_document.setImagePath(imagePath);
        PlacementOutcome outcome = placer.place(imagePath, m_document);
        m_document.endDocument();
        m_moved += placer.movedCount();
        return outcome;
    }
    std::string datagroup() const { return m_dir / "out/DEFC0001"; }
    std::string xmlText() const { return m_document.serialize(); }
    bool hasFile1(const std::string& imagePath) const
    {
        return xmlText().find("<FILE1>" + imagePath + "</FILE1>") != std::string::npos;
    }

    TempDir m_dir;
    std::string m_imageFolder = m_dir / "scans";
    std::string m_xmlFile = datagroup() + "/DATAGRP.XML";
    ConversionSettings m_settings;
    FakeServices m_services;
    FakePrompter m_prompter;
    DatagroupDocument m_document;
    long m_docId = 0;
    long m_moved = 0;
};

} // namespace

TEST_F(ImagePlacementTest, ImageAndFullTextMoveUnderTheirRelativePath)
{
    writeFile(m_dir / "scans/B1/0001.TIF", "img");
    writeFile(m_dir / "scans/B1/0001.txt", "text");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), "img");
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.PVFULLTEXT"), "text");
    EXPECT_FALSE(exists(m_dir / "scans/B1/0001.TIF"));
    EXPECT_FALSE(exists(m_dir / "scans/B1/0001.txt"));
    EXPECT_EQ(m_moved, 1);
}

TEST_F(ImagePlacementTest, DuplicatesTakeTheFirstFreeNumber)
{
    m_settings.allowDuplicates = true;
    writeFile(datagroup() + "/B1/0001.TIF", "old");
    writeFile(datagroup() + "/B1/0001-0001.tif", "older");
    writeFile(m_dir / "scans/B1/0001.TIF", "new");
    writeFile(m_dir / "scans/B1/0001.txt", "words");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001-0002.tif"), "new");
    EXPECT_EQ(readFile(datagroup() + "/B1/0001-0002.PVFULLTEXT"), "words");
    EXPECT_NE(xmlText().find("<FILE1>\\B1\\0001-0002.tif</FILE1>"), std::string::npos) << xmlText();
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), "old");
}

TEST_F(ImagePlacementTest, OnlyTheFileNamesOwnExtensionIsReplaced)
{
    const struct
    {
        const char* imagePath;
        const char* fullTextSource; // below the image folder
        const char* numbered;       // FILE1 of the duplicate, below the datagroup
        const char* fullTextPlaced;
    } cases[] = {
        {"\\x.TIF\\0001.TIF", "x.TIF/0001.txt", "\\x.TIF\\0001-0001.tif", "x.TIF/0001-0001.PVFULLTEXT"},
        {"\\a.tif.d\\b.TIF.TIF", "a.tif.d/b.TIF.txt", "\\a.tif.d\\b.TIF-0001.tif", "a.tif.d/b.TIF-0001.PVFULLTEXT"},
        {"/c.jpg/d.Jpg", "c.jpg/d.txt", "/c.jpg/d-0001.jpg", "c.jpg/d-0001.PVFULLTEXT"},
    };
    m_settings.allowDuplicates = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imagePath);
        const std::string below = files::relativeBelow(c.imagePath);
        writeFile(datagroup() + "/" + below, "old");
        writeFile(m_imageFolder + "/" + below, "new");
        writeFile(m_imageFolder + "/" + c.fullTextSource, "words");
        EXPECT_EQ(placeOne(c.imagePath), PlacementOutcome::Placed);
        EXPECT_TRUE(hasFile1(c.numbered)) << xmlText();
        EXPECT_EQ(readFile(datagroup() + "/" + files::relativeBelow(c.numbered)), "new");
        EXPECT_EQ(readFile(datagroup() + "/" + c.fullTextPlaced), "words");
        EXPECT_EQ(readFile(datagroup() + "/" + below), "old");
    }
}

TEST_F(ImagePlacementTest, NameWithoutExtensionStillFindsAFreeDuplicate)
{
    m_settings.allowDuplicates = true;
    writeFile(datagroup() + "/B1/scan", "old");
    writeFile(m_dir / "scans/B1/scan", "new");
    EXPECT_EQ(placeOne("/B1/scan"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/scan-0001"), "new");
}

TEST_F(ImagePlacementTest, TakenDestinationAsksWhatToDo)
{
    // A line with a name and a page count, placed as the run places it.
    const auto placeLine = [&](const std::string& name, const std::string& pages) {
        ImagePlacer placer(m_settings, m_services.fileTools, m_prompter, m_imageFolder, m_dir / "in/batch.csv",
                           m_xmlFile);
        m_document.beginDocument("DOCUMENT", ++m_docId);
        m_document.beginObject();
        m_document.setImagePath("\\B1\\0001.TIF");
        m_document.setPages(pages);
        m_document.addIndexField("Name", name, true);
        const PlacementOutcome outcome = placer.place("\\B1\\0001.TIF", m_document);
        m_document.endDocument();
        return outcome;
    };
    const auto docIdShown = [&](long docId) {
        return xmlText().find("DOCID=\"" + std::to_string(docId) + "\"") != std::string::npos;
    };
    const struct
    {
        A answer;
        const char* destinationAfter;
        bool sourceStays;
        PlacementOutcome outcome;
        bool documentKept;
    } cases[] = {
        {A::No, "old", true, PlacementOutcome::Dropped, false},
        // No document names the file yet: the new one does.
        {A::Yes, "new", false, PlacementOutcome::Placed, true},
        // The document that names the file now describes the new scan; the line adds none.
        {A::Yes, "new", false, PlacementOutcome::ReplacedEarlier, false},
    };
    int line = 0;
    for (const auto& c : cases) {
        const std::string number = std::to_string(++line);
        SCOPED_TRACE(number);
        writeFile(datagroup() + "/B1/0001.TIF", "old");
        writeFile(m_dir / "scans/B1/0001.TIF", "new");
        m_prompter.expect("File Exists", c.answer);
        EXPECT_EQ(placeLine("Line " + number, number), c.outcome);
        EXPECT_EQ(m_prompter.seen().back().text, "Image file already exists! " + datagroup() +
                                                     "\\B1\\0001.TIF.  Do you want to replace this with the new file?");
        EXPECT_EQ(m_prompter.seen().back().buttons, MessageButtons::YesNoCancel);
        EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), c.destinationAfter);
        EXPECT_EQ(exists(m_dir / "scans/B1/0001.TIF"), c.sourceStays);
        EXPECT_EQ(docIdShown(m_docId), c.documentKept) << xmlText();
    }
    const std::string xml = xmlText();
    EXPECT_TRUE(docIdShown(2)) << "the earlier document keeps its DOCID";
    EXPECT_NE(xml.find("<VALUE>Line 3</VALUE>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<PAGES>3</PAGES>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("Line 2"), std::string::npos) << "the replaced scan's values go with it";
    EXPECT_EQ(xml.find("<FILE1>"), xml.rfind("<FILE1>")) << "one document names the image";
    DatagroupDocument reread;
    reread.parseExisting(xml);
    EXPECT_EQ(reread.locateDocuments(), 2) << "the file reads back";

    writeFile(m_dir / "scans/B1/0001.TIF", "newest");
    m_prompter.expect("File Exists", A::Cancel);
    try {
        placeOne("\\B1\\0001.TIF");
        FAIL() << "Cancel stops the run";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 21);
        EXPECT_EQ(f.source(), "Copy Image File");
        EXPECT_EQ(f.description(), "Image file aleady exists.");
    }
    EXPECT_EQ(readFile(m_dir / "scans/B1/0001.TIF"), "newest");
}

// The old image's set-aside name is longer than it; where that is longer than a file name may be, the
// replacement fails and leaves both images where they were.
TEST_F(ImagePlacementTest, ReplacingAnImageWhoseSetAsideNameIsTooLongFails)
{
    const std::string name = std::string(250, 'n') + ".TIF";
    writeFile(datagroup() + "/B1/" + name, "old");
    writeFile(m_dir / ("scans/B1/" + name), "new");
    m_prompter.expect("File Exists", A::Yes);
    try {
        placeOne("\\B1\\" + name);
        FAIL() << "the old image cannot be set aside";
    } catch (const Failure& f) {
        EXPECT_EQ(f.source(), "Find File");
        EXPECT_NE(f.subject().find(".set-aside"), std::string::npos) << f.subject();
    }
    EXPECT_EQ(readFile(datagroup() + "/B1/" + name), "old");
    EXPECT_EQ(readFile(m_dir / ("scans/B1/" + name)), "new");
}

TEST_F(ImagePlacementTest, MissingSourceCanBeSkippedOrStopsTheRun)
{
    m_prompter.expect("Source File is Missing", A::Yes);
    EXPECT_EQ(placeOne("\\B1\\0009.TIF"), PlacementOutcome::Dropped);
    EXPECT_TRUE(exists(datagroup() + "/B1")) << "the folder is made before the source is looked at";
    EXPECT_EQ(m_prompter.seen().back().icon, MessageIcon::Warning);

    m_prompter.expect("Source File is Missing", A::No);
    try {
        placeOne("\\B1\\0009.TIF");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 23);
        EXPECT_EQ(f.source(), "Missing Source File");
        EXPECT_EQ(f.description(), "Source file not found.");
    }
}

TEST_F(ImagePlacementTest, NothingIsPlacedFromInsideTheDatagroupOrOutsideTheImageFolder)
{
    writeFile(datagroup() + "/B1/0001.TIF", "in place");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF", datagroup() + "/batch.csv"), PlacementOutcome::NothingToPlace);
    EXPECT_EQ(placeOne(""), PlacementOutcome::NothingToPlace);

    writeFile(m_dir / "private.key", "secret");
    for (const char* hostile : {"\\..\\private.key", "/../private.key", "/B1/../../private.key", ".."}) {
        SCOPED_TRACE(hostile);
        EXPECT_THROW(placeOne(hostile), Failure);
    }
    EXPECT_EQ(readFile(m_dir / "private.key"), "secret");
    EXPECT_FALSE(imagePathLeavesItsFolder("\\B1\\..x\\a..tif"));
    EXPECT_EQ(m_moved, 0);
}

TEST_F(ImagePlacementTest, OnlyRegularFilesArePlaced)
{
    // What else an image path may name; none of it is opened or moved, and each gets the missing file's
    // question. A FIFO on another file system once hung the run.
    fs::create_directories(m_dir / "scans/B1/folder.TIF");
    writeFile(m_dir / "scans/B1/folder.TIF/inside.TIF", "kept");
    ASSERT_EQ(::mkfifo((m_dir / "scans/B1/fifo.TIF").c_str(), 0600), 0);
    {
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = m_dir / "scans/B1/socket.TIF";
        ASSERT_LT(socketPath.size(), sizeof address.sun_path);
        socketPath.copy(address.sun_path, socketPath.size());
        ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(sock);
    }
    struct Case
    {
        std::string folder;
        std::string path;
        fs::file_type type;
    };
    std::vector<Case> cases = {
        {m_dir / "scans", "\\B1\\folder.TIF", fs::file_type::directory},
        {m_dir / "scans", "\\B1\\fifo.TIF", fs::file_type::fifo},
        {m_dir / "scans", "\\B1\\socket.TIF", fs::file_type::socket},
        {m_dir / "scans", "\\B1\\", fs::file_type::directory},
    };
    if (::mknod((m_dir / "scans/B1/device.TIF").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        cases.push_back({m_dir / "scans", "\\B1\\device.TIF", fs::file_type::character});
    ShmDir shm;
    if (shm.separateFrom(m_dir.path())) {
        fs::create_directories(shm / "B1");
        ASSERT_EQ(::mkfifo((shm / "B1/fifo.TIF").c_str(), 0600), 0);
        cases.push_back({shm.path(), "\\B1\\fifo.TIF", fs::file_type::fifo});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + c.path);
        m_imageFolder = c.folder;
        const std::string below = files::relativeBelow(c.path);
        m_prompter.expect("Source File is Missing", A::Yes);
        EXPECT_EQ(placeOne(c.path), PlacementOutcome::Dropped);
        EXPECT_EQ(m_prompter.seen().back().text.rfind("Source File: " + c.folder + c.path + "\r", 0), 0u);
        EXPECT_EQ(typeAt(c.folder + "/" + below), c.type) << "left where it was";
        if (!below.ends_with('/')) {
            EXPECT_EQ(typeAt(datagroup() + "/" + below), fs::file_type::not_found);
        }
    }
    EXPECT_EQ(readFile(m_dir / "scans/B1/folder.TIF/inside.TIF"), "kept");
    m_imageFolder = m_dir / "scans";
    m_prompter.expect("Source File is Missing", A::No);
    try {
        placeOne("\\B1\\fifo.TIF");
        FAIL() << "No stops the run";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), 23);
    }

    // A full-text "file" that is a FIFO stays where it is, unopened; the image moves alone.
    writeFile(m_dir / "scans/B2/0001.TIF", "img");
    ASSERT_EQ(::mkfifo((m_dir / "scans/B2/0001.txt").c_str(), 0600), 0);
    EXPECT_EQ(placeOne("\\B2\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B2/0001.TIF"), "img");
    EXPECT_EQ(typeAt(m_dir / "scans/B2/0001.txt"), fs::file_type::fifo);
    EXPECT_EQ(typeAt(datagroup() + "/B2/0001.PVFULLTEXT"), fs::file_type::not_found);
    EXPECT_EQ(m_moved, 1);
}

TEST_F(ImagePlacementTest, NoPathLeavesItsFoldersThroughLinksOrAbsoluteNames)
{
    writeFile(m_dir / "private/0001.TIF", "secret");
    writeFile(m_dir / "private/0001.txt", "secret text");
    fs::create_directories(m_dir / "scans/B1");
    fs::create_directory_symlink(m_dir / "private", m_dir / "scans/Out");
    fs::create_directory_symlink("../private", m_dir / "scans/Up");
    fs::create_symlink(m_dir / "private/0001.TIF", m_dir / "scans/B1/away.TIF");
    writeFile(m_dir / "scans/B1/0002.TIF", "img-2");
    fs::create_symlink("0002.TIF", m_dir / "scans/B1/near.TIF");
    writeFile(m_dir / "scans/B2/0001.TIF", "img-b2");
    fs::create_symlink(m_dir / "private/0001.txt", m_dir / "scans/B2/0001.txt");
    // A link that reached the datagroup earlier must not lead a later index file out of it.
    writeFile(m_dir / "scans/Planted/0001.TIF", "img-planted");
    fs::create_directories(datagroup());
    fs::create_directory_symlink(m_dir / "private", datagroup() + "/Planted");

    const struct
    {
        const char* imagePath;
        const char* named;
    } hostile[] = {
        {"\\Out\\0001.TIF", "\\Out\\0001.TIF"},
        {"\\Up\\0001.TIF", "\\Up\\0001.TIF"},
        {"\\B1\\away.TIF", "\\B1\\away.TIF"},
        {"\\B1\\near.TIF", "\\B1\\near.TIF"},
        {"\\B2\\0001.TIF", "\\B2\\0001.txt"},
        {"\\Planted\\0001.TIF", "\\Planted\\0001.TIF"},
        {"C:\\Scans\\0001.TIF", "C:\\Scans\\0001.TIF"},
        {"c:0001.TIF", "c:0001.TIF"},
        {"\\\\server\\share\\0001.TIF", "\\\\server\\share\\0001.TIF"},
        {"//server/share/0001.TIF", "//server/share/0001.TIF"},
    };
    ComponentWalkGuard guard;
    for (const bool walk : {false, true}) {
        faults::forceComponentWalk(walk);
        for (const auto& c : hostile) {
            SCOPED_TRACE(std::string(c.imagePath) + (walk ? " (component walk)" : " (kernel)"));
            try {
                placeOne(c.imagePath);
                ADD_FAILURE() << "placed";
            } catch (const Failure& f) {
                EXPECT_EQ(f.description(), std::string("Image path leaves its folder: ") + c.named);
            }
        }
    }
    EXPECT_TRUE(m_prompter.seen().empty());
    EXPECT_EQ(m_moved, 0);
    std::set<std::string> privateFiles;
    for (const auto& entry : fs::directory_iterator(m_dir / "private"))
        privateFiles.insert(entry.path().filename().string());
    EXPECT_EQ(privateFiles, (std::set<std::string>{"0001.TIF", "0001.txt"}));
    EXPECT_EQ(readFile(m_dir / "private/0001.TIF"), "secret");
    EXPECT_EQ(readFile(m_dir / "scans/B1/0002.TIF"), "img-2");
    EXPECT_EQ(readFile(m_dir / "scans/B2/0001.TIF"), "img-b2");
    EXPECT_EQ(readFile(m_dir / "scans/Planted/0001.TIF"), "img-planted");
    EXPECT_EQ(typeAt(m_dir / "scans/B1/away.TIF"), fs::file_type::symlink);
    for (const auto& entry : fs::directory_iterator(m_dir / "out"))
        EXPECT_EQ(entry.path().filename(), "DEFC0001") << "nothing beside the datagroup";

    // Links that stay inside are followed, and both folders may themselves be reached through links.
    fs::create_directory_symlink("B3", m_dir / "scans/Alias");
    fs::create_directory_symlink(m_dir / "scans", m_dir / "scans-link");
    fs::create_directory_symlink(m_dir / "out", m_dir / "out-link");
    m_imageFolder = m_dir / "scans-link";
    m_xmlFile = m_dir / "out-link/DEFC0001/DATAGRP.XML";
    for (const bool walk : {false, true}) {
        faults::forceComponentWalk(walk);
        const std::string name = walk ? "0004.TIF" : "0003.TIF";
        writeFile(m_dir / "scans/B3/" + name, name);
        EXPECT_EQ(placeOne("\\Alias\\" + name), PlacementOutcome::Placed);
        EXPECT_EQ(readFile(datagroup() + "/Alias/" + name), name);
    }
}

TEST_F(ImagePlacementTest, FolderAndImagePathJoinWithOneSeparator)
{
    const struct
    {
        const char* folderEnd;
        const char* imagePath;
    } cases[] = {
        {"", "\\B1\\0001.TIF"}, {"/", "\\B1\\0002.TIF"}, {"/", "B1\\0003.TIF"},
        {"", "B1/0004.TIF"},    {"/", "/B1/0005.TIF"},   {"", "0006.TIF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folderEnd) + " + " + c.imagePath);
        m_imageFolder = m_dir / "scans" + c.folderEnd;
        const std::string below = files::relativeBelow(c.imagePath);
        writeFile(m_dir / "scans/" + below, below);
        EXPECT_EQ(placeOne(c.imagePath), PlacementOutcome::Placed);
        EXPECT_EQ(readFile(datagroup() + "/" + below), below);
        EXPECT_TRUE(hasFile1(c.imagePath)) << "FILE1 is written as the line wrote it";
    }
    for (const auto& entry : fs::directory_iterator(m_dir / "out"))
        EXPECT_EQ(entry.path().filename(), "DEFC0001") << "nothing beside the datagroup";
    EXPECT_EQ(m_moved, 6);

    m_imageFolder = m_dir / "scans/";
    m_prompter.expect("Source File is Missing", A::Yes);
    placeOne("\\B1\\0009.TIF");
    EXPECT_EQ(m_prompter.seen().back().text.rfind("Source File: " + m_dir / "scans/B1\\0009.TIF\r", 0), 0u);
}

TEST_F(ImagePlacementTest, ImagesMoveAcrossFileSystems)
{
    ShmDir shm;
    if (!shm.separateFrom(m_dir.path()))
        GTEST_SKIP() << "no second file system here";
    m_imageFolder = shm / "scans";
    const std::string image(3 << 20, 'i');
    writeFile(shm / "scans/B1/0001.TIF", image);
    writeFile(shm / "scans/B1/0001.txt", "words");
    ::chmod((shm / "scans/B1/0001.TIF").c_str(), 0640);
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(shm / "scans/B1/0001.TIF", stamp);

    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), image);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.PVFULLTEXT"), "words");
    EXPECT_EQ(fs::status(datagroup() + "/B1/0001.TIF").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::last_write_time(datagroup() + "/B1/0001.TIF"), stamp) << "a move keeps the file's time";
    EXPECT_FALSE(exists(shm / "scans/B1/0001.TIF"));
    EXPECT_FALSE(exists(shm / "scans/B1/0001.txt"));

    // A taken name across file systems: the duplicate's number, and the user's replacement.
    m_settings.allowDuplicates = true;
    writeFile(shm / "scans/B1/0001.TIF", "second");
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::Placed);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001-0001.tif"), "second");
    EXPECT_TRUE(hasFile1("\\B1\\0001-0001.tif"));
    m_settings.allowDuplicates = false;
    writeFile(shm / "scans/B1/0001.TIF", "third");
    m_prompter.expect("File Exists", A::Yes);
    EXPECT_EQ(placeOne("\\B1\\0001.TIF"), PlacementOutcome::ReplacedEarlier);
    EXPECT_EQ(readFile(datagroup() + "/B1/0001.TIF"), "third");
    EXPECT_FALSE(exists(shm / "scans/B1/0001.TIF"));
    for (const auto& entry : fs::directory_iterator(datagroup() + "/B1"))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_EQ(m_moved, 3);
}

TEST_F(ImagePlacementTest, NamesInAnotherLetterCaseAreFoundWhenTheyAreTheOnlyOne)
{
    const struct
    {
        const char* imagePath;
        std::vector<const char*> sources; // below the image folder
        A answer;                         // to the missing-file question; Ok: none asked
        PlacementOutcome outcome;
        std::vector<const char*> placed; // below the datagroup
        std::vector<const char*> named;  // by the question, below the image folder
    } cases[] = {
        {"\\B1\\0001.TIF", {"B1/0001.tif"}, A::Ok, PlacementOutcome::Placed, {"B1/0001.TIF"}, {}},
        {"\\B1\\0002.TIF",
         {"B1/0002.TIF", "B1/0002.TXT"},
         A::Ok,
         PlacementOutcome::Placed,
         {"B1/0002.TIF", "B1/0002.PVFULLTEXT"},
         {}},
        {"\\B1\\\xC3\xA9t\xC3\xA9.TIF",
         {"B1/\xC3\x89T\xC3\x89.tif"},
         A::Ok,
         PlacementOutcome::Placed,
         {"B1/\xC3\xA9t\xC3\xA9.TIF"},
         {}},
        {"\\B1\\0003.TIF",
         {"B1/0003.tif", "B1/0003.Tif"},
         A::Yes,
         PlacementOutcome::Dropped,
         {},
         {"B1/0003.Tif", "B1/0003.tif"}},
        {"\\B1\\0004.TIF",
         {"B1/0004.TIF", "B1/0004.TXT", "B1/0004.Txt"},
         A::Yes,
         PlacementOutcome::Placed,
         {"B1/0004.TIF"},
         {"B1/0004.TXT", "B1/0004.Txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imagePath);
        for (const char* source : c.sources)
            writeFile(m_imageFolder + "/" + source, source);
        if (c.answer != A::Ok)
            m_prompter.expect("Source File is Missing", c.answer);
        EXPECT_EQ(placeOne(c.imagePath), c.outcome);
        EXPECT_TRUE(m_prompter.scriptDone());
        if (std::string_view(c.imagePath).find('\xC3') == std::string_view::npos) { // saved in windows-1252
            EXPECT_EQ(hasFile1(c.imagePath), c.outcome == PlacementOutcome::Placed) << "FILE1 keeps the text as read";
        }
        for (const char* placed : c.placed)
            EXPECT_TRUE(exists(datagroup() + "/" + placed)) << placed;
        if (c.named.empty())
            continue;
        std::string expected = "\rFound only in other letter case:";
        for (const char* name : c.named) {
            expected += "\r" + m_imageFolder + "/" + name;
            EXPECT_TRUE(exists(m_imageFolder + "/" + name)) << "a doubtful name is left where it is";
        }
        EXPECT_NE(m_prompter.seen().back().text.find(expected + "\rIndex File: "), std::string::npos)
            << m_prompter.seen().back().text;
    }

    // A batch long enough for its folder to be listed: the listing and the other-case names agree.
    ImagePlacer placer(m_settings, m_services.fileTools, m_prompter, m_imageFolder, m_dir / "in/batch.csv", m_xmlFile);
    for (int n = 1; n <= 40; ++n) {
        const std::string name = "B2/" + std::to_string(n);
        writeFile(m_imageFolder + "/" + name + ".TIF", "image");
        writeFile(m_imageFolder + "/" + name + (n % 2 ? ".TXT" : ".txt"), "text");
    }
    for (int n = 1; n <= 40; ++n) {
        const std::string imagePath = "\\B2\\" + std::to_string(n) + ".TIF";
        m_document.beginDocument("DOCUMENT", ++m_docId);
        m_document.beginObject();
        m_document.setImagePath(imagePath);
        EXPECT_EQ(placer.place(imagePath, m_document), PlacementOutcome::Placed);
        m_document.endDocument();
        EXPECT_EQ(readFile(datagroup() + "/B2/" + std::to_string(n) + ".PVFULLTEXT"), "text") << n;
    }
}
