#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "support/ExampleBatchSettings.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tollavar {
namespace {

using testing::exists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The real program without a display or a terminal, with its own settings folder.
class OperatorProcess
{
public:
    OperatorProcess(const TempDir& dir, const std::vector<std::string>& arguments) : m_dir(dir)
    {
        m_pid = testing::startProgram(arguments, dir / "home", dir / "stderr.txt", dir / "stdout.txt");
        EXPECT_GT(m_pid, 0);
    }
    ~OperatorProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // The exit status; -1 (and the process killed) when it has not ended within `limit`.
    int wait(std::chrono::milliseconds limit = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the program did not end:\n" << err();
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int stop()
    {
        ::kill(m_pid, SIGTERM);
        return wait();
    }
    void signal(int number) const { ::kill(m_pid, number); }
    bool running() const { return ::waitpid(m_pid, nullptr, WNOHANG) == 0; }
    std::string out() const { return exists(m_dir / "stdout.txt") ? readFile(m_dir / "stdout.txt") : ""; }
    std::string err() const { return exists(m_dir / "stderr.txt") ? readFile(m_dir / "stderr.txt") : ""; }

private:
    const TempDir& m_dir;
    pid_t m_pid = -1;
};

// Every entry below the folder with its kind, link target, bytes and time stamp.
std::map<std::string, std::string> snapshot(const std::string& root)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        if (path.ends_with("stdout.txt") || path.ends_with("stderr.txt"))
            continue;
        std::string what;
        if (entry.is_symlink())
            what = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            what = "folder";
        else
            what = readFile(path);
        what += " @" + std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
        entries[path] = what;
    }
    return entries;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

ConversionSettings batchSettings(const TempDir& dir)
{
    return testing::exampleBatchSettings(dir, "in/*.csv");
}

TEST(CheckModeTest, ReportsEveryKindOfProblemAndChangesNothing)
{
    TempDir dir;
    for (const char* name : {"0001.TIF", "0002.TIF", "0003.TIF", "0004.TIF"})
        writeFile(dir / "images/B1/" + name, std::string("II*") + name);
    writeFile(dir / "images/B1/0001.txt", "full text");
    fs::create_directories(dir / "images/B1/folder.TIF");
    writeFile(dir / "elsewhere/0005.TIF", "II*");
    fs::create_directory_symlink(dir / "elsewhere", dir / "images/B2");
    writeFile(dir / "out/EXMP0001/DATAGRP.XML",
              "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<REZI_DATAGRP><DGNUMBER>1</DGNUMBER><PROJECT "
              "PROJID=\"1\"><NAME>P</NAME><DOCINDEXFIELDS/><DOCUMENTS><DOCUMENT DOCID=\"1\"/><DOCUMENT "
              "DOCID=\"2\"/></DOCUMENTS></PROJECT></REZI_DATAGRP>");
    writeFile(dir / "out/EXMP0001/B1/0002.TIF", "II*older");
    writeFile(dir / "in/a.csv", "Caf\xE9,\\B1\\0001.TIF,1,1\r\n"
                                "Missing,\\B1\\0009.TIF,1,2\r\n"
                                "Climbs,..\\..\\secret.TIF,1,3\r\n"
                                "Taken,\\B1\\0002.TIF,1,4\r\n"
                                "Wide,\\B1\\0003.TIF,1,5,extra\r\n"
                                "Control,\\B1\\0004.TIF,1,6\x01 7\r\n"
                                "Linked,\\B2\\0005.TIF,1,8\r\n"
                                "Folder,\\B1\\folder.TIF,1,9\r\n"
                                "Again,\\B1\\0001.TIF,1,10\r\n");
    std::string many = "\xEF\xBB\xBF";
    for (int i = 1; i <= 22; ++i) {
        writeFile(dir / ("images/B3/" + std::to_string(i) + ".TIF"), "II*");
        writeFile(dir / ("images/B3/" + std::to_string(i) + ".txt"), "text");
        many += "M" + std::to_string(i) + ",\\B3\\" + std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    }
    // Taken first: its name sorts before a.csv.
    writeFile(dir / "in/0.csv", many + "   \r\n");
    writeFile(dir / "in/notes.txt", "not an index file");
    ConversionSettings settings = batchSettings(dir);
    settings.maxDocuments = "30";
    writeFile(dir / "batch.tvr", serializeConfig(settings));
    const auto before = snapshot(dir.path());

    OperatorProcess text(dir, {"--check", dir / "batch.tvr"});
    ASSERT_EQ(text.wait(), 1) << text.err();
    std::string expected =
        "Configuration: <dir>/batch.tvr\n"
        "Datagroup folder: <dir>/out/EXMP0001 (exists, with DATAGRP.XML)\n"
        "Read without the datagroup's lock (taking it would write a lock file): a conversion may be running\n"
        "Next DOCID: 3\n"
        "Maximum per datagroup: 30; after this command the last DOCID would be 24, within the maximum\n"
        "Index files: 2\n"
        "\n"
        "Index file 1 of 2: <dir>/in/0.csv\n"
        "  Lines: 23, documents: 22 (DOCID 3 to 24), encoding: UTF-8 with byte-order mark\n"
        "  Images missing: 0\n"
        "  Images whose place in the datagroup is taken: 0\n"
        "  Other questions: 0\n"
        "  Errors that stop the conversion: 0\n"
        "  Full-text files that travel with their images: 22\n";
    for (int i = 1; i <= 20; ++i)
        expected += "    <dir>/images/B3/" + std::to_string(i) + ".txt\n";
    expected += "    ... and 2 more\n"
                "\n"
                "Index file 2 of 2: <dir>/in/a.csv\n"
                "  Lines: 9, documents: 2, encoding: windows-1252; not converted\n"
                "  Images missing: 1\n"
                "    line 2: Source File is Missing: Source File: <dir>/images\\B1\\0009.TIF Index File: "
                "<dir>/in/a.csv Skip file and continue processing? [an unattended run answers No]\n"
                "  Images whose place in the datagroup is taken: 0\n"
                "  Other questions: 1\n"
                "    line 2: Undo Changes?: An error has occured during the conversion to XML.  Do you want to undo "
                "changes to the DATAGRP.XML file? [an unattended run answers Yes]\n"
                "  Errors that stop the conversion: 1\n"
                "    line 2: Conversion Error: 23 - Source file not found. Line # 17\n"
                "  Full-text files that travel with their images: 0\n"
                "  The run stops here: line 2: Source File is Missing: Source File: "
                "<dir>/images\\B1\\0009.TIF Index File: <dir>/in/a.csv Skip file and continue processing?\n"
                "  Found past the stop: fix these too: 6\n"
                "    Images missing: 2\n"
                "      line 8: Source File is Missing: Source File: <dir>/images\\B1\\folder.TIF Index File: "
                "<dir>/in/a.csv Skip file and continue processing? [the check went on with Yes]\n"
                "      line 9: Source File is Missing: Source File: <dir>/images\\B1\\0001.TIF Index File: "
                "<dir>/in/a.csv Skip file and continue processing? [the check went on with Yes]\n"
                "    Images whose place in the datagroup is taken: 1\n"
                "      line 4: File Exists: Image file already exists! <dir>/out/EXMP0001\\B1\\0002.TIF.  Do you want "
                "to replace this with the new file? [the check went on with No]\n"
                "    Errors that stop the conversion: 3\n"
                "      line 3: Conversion Error: 75 - Image path leaves its folder: ..\\..\\secret.TIF Line # 17\n"
                "      line 6: Conversion Error: 5 - Field 'ID' holds a character XML cannot carry Line # 16\n"
                "      line 7: Conversion Error: 75 - Image path leaves its folder: \\B2\\0005.TIF Line # 17\n"
                "\n"
                "Changes it would make (none made): images moved 22, full-text files moved 22, folders created 1, "
                "files removed 0, files written 3\n"
                "The run stops at line 2 of <dir>/in/a.csv: Source File is Missing: Source File: "
                "<dir>/images\\B1\\0009.TIF Index File: <dir>/in/a.csv Skip file and continue processing?\n"
                "Result: the conversion would meet 3 questions or errors; past its stop the check found 6 more "
                "problems.\n";
    EXPECT_EQ(replaceAll(text.out(), dir.path(), "<dir>"), expected);

    OperatorProcess json(dir, {"--check", "--json", dir / "batch.tvr"});
    ASSERT_EQ(json.wait(), 1) << json.err();
    QJsonParseError error{};
    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(json.out()), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out();
    EXPECT_EQ(report["nextDocId"].toInt(), 3);
    EXPECT_EQ(report["lastDocIdAfter"].toInt(), 24);
    EXPECT_FALSE(report["wouldPassMaximum"].toBool());
    EXPECT_EQ(report["blocking"].toInt(), 3);
    EXPECT_TRUE(report["readUnlocked"].toBool());
    const QJsonArray files = report["files"].toArray();
    ASSERT_EQ(files.size(), 2);
    const std::map<QString, std::pair<int, int>> counts{{"missingImages", {0, 1}},
                                                        {"duplicateImages", {0, 0}},
                                                        {"questions", {0, 1}},
                                                        {"errors", {0, 1}},
                                                        {"fullTextFiles", {22, 0}}};
    for (const auto& [key, expectedCounts] : counts) {
        EXPECT_EQ(files[0].toObject()[key].toObject()["count"].toInt(), expectedCounts.first) << key.toStdString();
        EXPECT_EQ(files[1].toObject()[key].toObject()["count"].toInt(), expectedCounts.second) << key.toStdString();
    }
    EXPECT_EQ(files[0].toObject()["fullTextFiles"].toObject()["examples"].toArray().size(), 20);
    EXPECT_EQ(files[1].toObject()["encoding"].toString(), "windows-1252");
    EXPECT_EQ(report["stop"].toObject()["line"].toInt(), 2);
    EXPECT_EQ(files[1].toObject()["pastStop"].toObject()["missingImages"].toObject()["count"].toInt(), 2);
    EXPECT_EQ(report["pastStop"].toInt(), 6);

    EXPECT_EQ(snapshot(dir.path()), before) << "the check changed the file tree";
    EXPECT_FALSE(exists(dir / "home"));

    // A configuration that cannot be read.
    writeFile(dir / "short.tvr", "only\r\nfive\r\nlines\r\nof\r\nit\r\n");
    for (const std::string& config : {dir / "none.tvr", dir / "short.tvr"}) {
        OperatorProcess unreadable(dir, {"--check", config});
        EXPECT_EQ(unreadable.wait(), 2) << config;
    }
    // A missing configuration named with /c: is run with the defaults, as the unattended run does: no XML
    // location, so the command stops at once.
    OperatorProcess missing(dir, {"--check", "/c:" + dir / "none.tvr"});
    EXPECT_EQ(missing.wait(), 1) << missing.err();
    EXPECT_NE(missing.out().find("Error in Convert - Reading Configuration: Missing XML file setting"),
              std::string::npos)
        << missing.out();
}

class WatchModeTest : public ::testing::Test
{
protected:
    WatchModeTest()
    {
        fs::create_directories(m_dir / "in");
        for (int i = 1; i <= 6; ++i)
            writeFile(m_dir / ("images/B1/" + std::to_string(i) + ".TIF"), "II*" + std::to_string(i));
    }

    void writeConfig(const std::string& maxFiles)
    {
        ConversionSettings s = batchSettings(m_dir);
        s.maxDocuments = maxFiles;
        writeFile(m_config, serializeConfig(s));
    }

    // The program has said how it watches the folder: from here on it sees every arrival.
    static bool watching(const OperatorProcess& watch, const std::string& folder)
    {
        return watch.err().find(folder + ": ") != std::string::npos;
    }

    long documentsIn(const std::string& folder) const
    {
        if (!exists(folder + "/DATAGRP.XML"))
            return 0;
        DatagroupDocument document;
        document.parseExisting(readFile(folder + "/DATAGRP.XML"));
        return document.locateDocuments();
    }

    TempDir m_dir;
    std::string m_config = m_dir / "batch.tvr";
    std::string m_datagroup = m_dir / "out/EXMP0001";
};

TEST_F(WatchModeTest, ASlowlyWrittenIndexFileIsConvertedOnlyAfterItIsClosed)
{
    writeConfig("1000");
    OperatorProcess watch(m_dir, {"--watch", "--settle=1", m_config});
    ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();

    {
        std::ofstream index(m_dir / "in/slow.csv", std::ios::binary);
        for (int i = 1; i <= 3; ++i) {
            index << "Doc" << i << ",\\B1\\" << i << ".TIF,1," << i << "\r\n" << std::flush;
            std::this_thread::sleep_for(1200ms);
            EXPECT_FALSE(exists(m_datagroup + "/DATAGRP.XML")) << "converted while still open, after piece " << i;
        }
    }
    ASSERT_TRUE(waitFor([&] { return exists(m_datagroup + "/DATAGRP.SUBMIT"); }, 10s)) << watch.err();
    EXPECT_FALSE(exists(m_dir / "in/slow.csv"));
    EXPECT_EQ(documentsIn(m_datagroup), 3);
    EXPECT_TRUE(exists(m_datagroup + "/B1/3.TIF"));
    EXPECT_EQ(watch.stop(), 0);
    EXPECT_NE(watch.err().find("converted " + m_dir / "in/slow.csv"), std::string::npos) << watch.err();
    EXPECT_NE(watch.err().find("Remove Processed Files is on"), std::string::npos) << watch.err();
}

TEST_F(WatchModeTest, TwoBatchesInQuickSuccessionEndInOneDatagroup)
{
    // The first batch fills the datagroup: only one Convert command puts the second there too.
    writeConfig("2");
    OperatorProcess watch(m_dir, {"--watch", "--settle=1", m_config});
    ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();
    writeFile(m_dir / "in/a.csv", "A1,\\B1\\1.TIF,1,1\r\nA2,\\B1\\2.TIF,1,2\r\nA3,\\B1\\3.TIF,1,3\r\n");
    std::this_thread::sleep_for(300ms);
    writeFile(m_dir / "in/b.csv", "B1,\\B1\\4.TIF,1,4\r\n");
    ASSERT_TRUE(waitFor([&] { return exists(m_datagroup + "/DATAGRP.SUBMIT"); }, 10s)) << watch.err();
    EXPECT_FALSE(exists(m_dir / "in/a.csv"));
    EXPECT_FALSE(exists(m_dir / "in/b.csv"));
    EXPECT_EQ(watch.stop(), 0);
    EXPECT_EQ(documentsIn(m_datagroup), 4);
    EXPECT_FALSE(exists(m_dir / "out/EXMP0002"));
    // The full datagroup advanced the number once, for the next arrivals.
    EXPECT_NE(readFile(m_config).find("\r\n2\r\n"), std::string::npos);
}

TEST_F(WatchModeTest, SigtermEndsWithStatusZeroAndNothingHalfDone)
{
    constexpr int kLines = 3000;
    std::string index;
    for (int i = 1; i <= kLines; ++i) {
        writeFile(m_dir / ("images/B2/" + std::to_string(i) + ".TIF"), "II*");
        index += "D" + std::to_string(i) + ",\\B2\\" + std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    }
    writeConfig("100000");
    OperatorProcess watch(m_dir, {"--watch", "--settle=0", m_config});
    ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();
    writeFile(m_dir / "in/big.tmp", index);
    fs::rename(m_dir / "in/big.tmp", m_dir / "in/big.csv");
    // The signal comes as the Convert command begins (it creates the datagroup folder first).
    ASSERT_TRUE(waitFor([&] { return exists(m_datagroup); }, 10s)) << watch.err();
    EXPECT_EQ(watch.stop(), 0) << watch.err();

    const long moved = exists(m_datagroup + "/B2")
                           ? long(std::distance(fs::directory_iterator(m_datagroup + "/B2"), fs::directory_iterator()))
                           : 0;
    RecordProperty("convertedBeforeStopping", !exists(m_dir / "in/big.csv"));
    if (exists(m_dir / "in/big.csv")) {
        EXPECT_EQ(moved, 0);
        EXPECT_EQ(documentsIn(m_datagroup), 0);
    } else {
        EXPECT_EQ(moved, kLines);
        EXPECT_EQ(documentsIn(m_datagroup), kLines);
        EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT"));
    }
    EXPECT_NE(watch.err().find("stopped by SIGTERM"), std::string::npos) << watch.err();
}

// A hot folder under an operator's and a station's ways: files arriving by link, a line appended while
// its file is converted, signals while waiting and mid-conversion, a datagroup another run holds, a
// file that fails beside one that does not, and an edit to the configuration while watching.
TEST_F(WatchModeTest, TheWatcherKeepsEveryLineConvertsLinksRetriesAndHearsSignals)
{
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    std::string big;
    for (int i = 1; i <= 3000; ++i) {
        writeFile(m_dir / ("images/B2/" + std::to_string(i) + ".TIF"), "II*");
        big += "D" + std::to_string(i) + ",\\B2\\" + std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    }
    writeFile(m_dir / "images/B1/late.TIF", "II*late");
    writeConfig("100000");

    {
        SCOPED_TRACE("links, a late line, SIGHUP mid-conversion, an operator's edit");
        OperatorProcess watch(m_dir, {"--watch", "--settle=1", m_config});
        ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();

        // A hard link and a symbolic link from the station's own folder; a link to a pipe is no file.
        writeFile(m_dir / "station/hard.csv", "H,\\B1\\1.TIF,1,1\r\n");
        writeFile(m_dir / "station/soft.csv", "S,\\B1\\2.TIF,1,2\r\n");
        ASSERT_EQ(::mkfifo((m_dir / "station/pipe").c_str(), 0666), 0);
        ASSERT_EQ(::link((m_dir / "station/hard.csv").c_str(), (m_dir / "in/hard.csv").c_str()), 0);
        ASSERT_EQ(::symlink((m_dir / "station/soft.csv").c_str(), (m_dir / "in/soft.csv").c_str()), 0);
        ASSERT_EQ(::symlink((m_dir / "station/pipe").c_str(), (m_dir / "in/pipe.csv").c_str()), 0);
        ASSERT_TRUE(
            waitFor([&] { return !exists(m_dir / "in/hard.csv") && !fs::is_symlink(m_dir / "in/soft.csv"); }, 15s))
            << watch.err();
        EXPECT_TRUE(exists(m_datagroup + "/B1/1.TIF"));
        EXPECT_TRUE(exists(m_datagroup + "/B1/2.TIF"));
        EXPECT_TRUE(fs::is_symlink(m_dir / "in/pipe.csv"));

        // An operator changes the company name while the watcher runs.
        ConversionSettings edited = batchSettings(m_dir);
        edited.maxDocuments = "100000";
        edited.companyName = "Renamed Company";
        writeFile(m_config, serializeConfig(edited));

        // The big file is being converted when the station appends a line and a hang-up comes.
        writeFile(m_dir / "in/big.tmp", big);
        fs::rename(m_dir / "in/big.tmp", m_dir / "in/big.csv");
        ASSERT_TRUE(waitFor([&] { return exists(m_datagroup + "/B2"); }, 15s)) << watch.err();
        watch.signal(SIGHUP);
        {
            std::ofstream append(m_dir / "in/big.csv", std::ios::binary | std::ios::app);
            append << "Late,\\B1\\late.TIF,1,9999\r\n";
        }
        ASSERT_TRUE(waitFor([&] { return watch.err().find("was read again") != std::string::npos; }, 20s))
            << watch.err();
        ASSERT_TRUE(waitFor([&] { return documentsIn(m_datagroup) >= 3002; }, 20s)) << watch.err();
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(watch.running()) << "a hang-up does not end the watcher:\n" << watch.err();
        // Every big line went in; the late line is either in the datagroup too or still waits in its
        // file beside its image: never lost.
        const std::string xml = readFile(m_datagroup + "/DATAGRP.XML");
        EXPECT_EQ(long(std::distance(fs::directory_iterator(m_datagroup + "/B2"), fs::directory_iterator())), 3000);
        const bool lateConverted = xml.find("late.TIF") != std::string::npos;
        EXPECT_TRUE(lateConverted || (readFile(m_dir / "in/big.csv").find("Late,") != std::string::npos &&
                                      exists(m_dir / "images/B1/late.TIF")))
            << watch.err();
        EXPECT_NE(readFile(m_config).find("Renamed Company"), std::string::npos) << "the edit survived the saves";
        RecordProperty("lateLineConvertedAtOnce", lateConverted);
        EXPECT_EQ(watch.stop(), 0);
    }

    {
        SCOPED_TRACE("a failing file beside a good one, tried again after --retry");
        fs::remove_all(m_dir / "in");
        fs::create_directories(m_dir / "in");
        ConversionSettings s = batchSettings(m_dir);
        s.skipHeaderLine = true;
        s.datagroupNumber = "2";
        writeFile(m_config, serializeConfig(s));
        writeFile(m_dir / "in/a.csv", "Name,IMAGEPATH,PAGECOUNT,ID\r\nA,\\B1\\never.TIF,1,9\r\n");
        writeFile(m_dir / "in/b.csv", "Name,IMAGEPATH,PAGECOUNT,ID\r\nB,\\B1\\3.TIF,1,3\r\n");
        OperatorProcess watch(m_dir, {"--watch", "--settle=0", "--retry=1", m_config});
        ASSERT_TRUE(waitFor([&] { return !exists(m_dir / "in/b.csv"); }, 15s)) << watch.err();
        EXPECT_TRUE(exists(m_dir / "out/EXMP0002/B1/3.TIF"));
        std::this_thread::sleep_for(3500ms);
        EXPECT_EQ(watch.stop(), 0);
        EXPECT_TRUE(exists(m_dir / "in/a.csv"));
        const std::string log = watch.err();
        // Tried again each second or so, one line each time, the command's own report once.
        const long tries =
            count(log, "failed " + m_dir / "in/a.csv") + count(log, "still failing: " + m_dir / "in/a.csv");
        EXPECT_GE(tries, 2) << log;
        EXPECT_LE(tries, 6) << log;
        EXPECT_EQ(count(log, "\nConversion Error"), 1) << log;
    }

    {
        SCOPED_TRACE("a busy datagroup, then SIGTERM while waiting");
        fs::remove_all(m_dir / "in");
        fs::create_directories(m_dir / "in");
        writeConfig("100000");
        fs::create_directories(m_datagroup);
        const std::string lockFile = m_datagroup + "/.DATAGRP.LOCK";
        int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);

        OperatorProcess busy(m_dir, {"--wait=1", "--watch", "--settle=0", m_config});
        writeFile(m_dir / "in/c.csv", "C,\\B1\\4.TIF,1,4\r\n");
        ASSERT_TRUE(waitFor([&] { return busy.err().find("Gave up") != std::string::npos; }, 15s)) << busy.err();
        ::unlink(lockFile.c_str());
        ::close(held);
        ASSERT_TRUE(waitFor([&] { return !exists(m_dir / "in/c.csv"); }, 15s)) << "tried again once free\n"
                                                                               << busy.err();
        EXPECT_TRUE(exists(m_datagroup + "/B1/4.TIF"));
        EXPECT_EQ(busy.stop(), 0);

        held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        OperatorProcess waiting(m_dir, {"--watch", "--settle=0", m_config});
        writeFile(m_dir / "in/d.csv", "D,\\B1\\5.TIF,1,5\r\n");
        ASSERT_TRUE(waitFor([&] { return waiting.err().find("Datagroup in Use") != std::string::npos; }, 15s))
            << waiting.err();
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(waiting.stop(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s) << waiting.err();
        EXPECT_TRUE(exists(m_dir / "in/d.csv"));
        ::unlink(lockFile.c_str());
        ::close(held);
    }
}

// A file that fails again and again the same way is one line a try; the whole account comes the first
// time, and again when the failure changes.
TEST_F(WatchModeTest, ARetryThatFailsAsBeforeIsOneLine)
{
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    writeConfig("1000");
    const std::string index = m_dir / "in/a.csv";
    OperatorProcess watch(m_dir, {"--watch", "--settle=0", "--retry=1", m_config});
    ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();
    writeFile(index, "A,\\B1\\missing.TIF,1,1\r\n");
    ASSERT_TRUE(waitFor([&] { return count(watch.err(), "still failing: " + index) >= 2; }, 15s)) << watch.err();
    std::string log = watch.err();
    EXPECT_EQ(count(log, "Skip file and continue processing?"), 1) << log;
    EXPECT_EQ(count(log, "failed " + index), 1) << log;
    EXPECT_EQ(count(log, "the Convert command stopped"), 1) << log;
    EXPECT_NE(log.find("still failing: " + index + ": Source File is Missing: Source File: "), std::string::npos)
        << log;
    EXPECT_NE(log.find(" 2 tries)"), std::string::npos) << log;
    EXPECT_NE(log.find(" 3 tries)"), std::string::npos) << log;

    // It fails another way now: the whole account again.
    writeFile(index, "A,\\B1\\other.TIF,1,1\r\n");
    ASSERT_TRUE(waitFor([&] { return count(watch.err(), "failed " + index) == 2; }, 15s)) << watch.err();
    EXPECT_EQ(count(watch.err(), "the Convert command stopped"), 2) << watch.err();
    EXPECT_EQ(watch.stop(), 0);
}

// An operator empties, then removes, the configuration while the watcher runs: the watcher converts on
// with the settings it has, writes over neither, says so once, notes each advance of the datagroup
// number, and saves again once the file reads as a configuration.
TEST_F(WatchModeTest, AConfigurationThatDoesNotReadIsNotWrittenOver)
{
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    // Every file fills a datagroup: each advances the number.
    writeConfig("1");
    const std::string good = readFile(m_config);
    OperatorProcess watch(m_dir, {"--watch", "--settle=0", m_config});
    ASSERT_TRUE(waitFor([&] { return watching(watch, m_dir / "in"); }, 10s)) << watch.err();

    writeFile(m_config, "");
    writeFile(m_dir / "in/a.csv", "A,\\B1\\1.TIF,1,1\r\nA,\\B1\\2.TIF,1,2\r\n");
    ASSERT_TRUE(waitFor([&] { return !exists(m_dir / "in/a.csv"); }, 10s)) << watch.err();
    EXPECT_TRUE(waitFor([&] { return watch.err().find("datagroup number is now 2") != std::string::npos; }, 5s))
        << watch.err();
    EXPECT_EQ(readFile(m_config), "");

    ::unlink(m_config.c_str());
    watch.signal(SIGHUP);
    writeFile(m_dir / "in/b.csv", "B,\\B1\\3.TIF,1,3\r\nB,\\B1\\4.TIF,1,4\r\n");
    ASSERT_TRUE(waitFor([&] { return !exists(m_dir / "in/b.csv"); }, 10s)) << watch.err();
    EXPECT_TRUE(exists(m_dir / "out/EXMP0002/B1/3.TIF")) << "the advanced number was kept in memory";
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(exists(m_config)) << "a removed configuration was made again";

    writeFile(m_config, good);
    writeFile(m_dir / "in/c.csv", "C,\\B1\\5.TIF,1,5\r\nC,\\B1\\6.TIF,1,6\r\n");
    ASSERT_TRUE(waitFor([&] { return !exists(m_dir / "in/c.csv"); }, 10s)) << watch.err();
    EXPECT_TRUE(waitFor([&] { return readFile(m_config).find("\r\n4\r\n") != std::string::npos; }, 5s))
        << readFile(m_config);
    EXPECT_EQ(watch.stop(), 0);
    const std::string log = watch.err();
    EXPECT_EQ(count(log, "cannot be read; its settings are kept in memory"), 1) << log;
    EXPECT_NE(log.find("datagroup number is now 3"), std::string::npos) << log;
    EXPECT_TRUE(exists(m_dir / "out/EXMP0003/B1/6.TIF"));
    EXPECT_EQ(log.find("was read again"), std::string::npos) << log;
}

} // namespace
} // namespace tollavar
