#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "filetools/Failure.h"
#include "support/FileInventory.h"
#include "support/ProgramRun.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tollavar {
namespace {

using testing::exists;
using testing::filesUnder;
using testing::leftoverTemporary;
using testing::readFile;
using testing::ShmDir;
using testing::TempDir;
using testing::writeFile;

constexpr int kLines = 5000;

// Names of the entries of a folder that do not start with a dot.
std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    }
    return names;
}

bool holdsTemporary(const std::string& folder)
{
    bool found = false;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir))
            found |= std::string_view(entry->d_name).starts_with(".DATAGRP.XML.tmp-");
        ::closedir(dir);
    }
    return found;
}

// The real program started as cron would start it (no display, no terminal, its own settings folder)
// on a 5,000-line batch, and killed outright at a chosen moment.
class CrashTest : public ::testing::Test
{
protected:
    CrashTest()
    {
        // Creating files is slow on some disks; the images are made once and moved back after each run.
        for (int line = 1; line <= kLines; ++line) {
            const std::string name = std::to_string(line);
            writeFile(m_work / ("images/B1/" + name + ".TIF"), "img-" + name);
            m_batch += "Doc " + name + ",\\B1\\" + name + ".TIF,1\r\n";
        }
        writeFile(m_work / "in/batch.csv", m_batch);
        ConversionSettings s;
        s.indexFiles = m_work / "in/batch.csv";
        s.xmlFilePath = m_work / "out/DATAGRP.XML";
        s.companyId = "EXMP";
        s.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
        s.fieldTypes = "text|text|number";
        s.imageFolder = m_work / "images";
        s.maxDocuments = "10000";
        // Remove Processed Files: a run interrupted after its save must not leave its index file to be
        // converted a second time.
        s.removeProcessedFiles = true;
        writeFile(m_config, serializeConfig(s));
    }

    void resetWork()
    {
        for (const std::string& name : namesIn(m_datagroup + "/B1"))
            std::filesystem::rename(m_datagroup + "/B1/" + name, m_work / ("images/B1/" + name));
        std::filesystem::remove_all(m_work / "out");
        writeFile(m_work / "in/batch.csv", m_batch);
    }

    pid_t start() { return testing::startProgram({m_config}, m_work / "home", m_work / "stderr.txt"); }

    // Runs the configuration to its end; its exit status.
    int runAgain()
    {
        const pid_t pid = start();
        return pid > 0 ? testing::exitStatusOf(pid) : -1;
    }

    // Waits until `ready` holds or the program ends by itself; false in the second case.
    static bool waitUntil(pid_t pid, const std::function<bool()>& ready, int& status)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (ready())
                return true;
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        ADD_FAILURE() << "the program neither reached the moment nor ended";
        return true;
    }

    TempDir m_work;
    std::string m_batch;
    std::string m_config = m_work / "batch.tvr";
    std::string m_datagroup = m_work / "out/EXMP0001";
};

// The first path at which two file trees differ, or "".
std::string firstDifference(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b)
{
    for (const auto& [path, bytes] : a) {
        const auto other = b.find(path);
        if (other == b.end())
            return path + " is missing";
        if (other->second != bytes)
            return path + " differs";
    }
    for (const auto& [path, bytes] : b) {
        if (!a.count(path))
            return path + " is extra";
    }
    return "";
}

TEST_F(CrashTest, AKilledRunLeavesAWholeOrEmptyDatagroupAndEveryImageAndTheNextRunFinishesIt)
{
    const std::string xmlPath = m_datagroup + "/DATAGRP.XML";
    resetWork();
    ASSERT_EQ(runAgain(), 0) << readFile(m_work / "stderr.txt");
    const auto uninterrupted = filesUnder(m_datagroup);
    ASSERT_EQ(uninterrupted.size(), size_t(kLines) + 2) << "the images, DATAGRP.XML and the marker, nothing hidden";

    // Moments spread over the run by the count of images moved, then in the save: while the temporary
    // file is written, once DATAGRP.XML holds the new text, and a little after the last move.
    struct Moment
    {
        std::string name;
        std::function<bool()> reached;
        int delayMs = 0;
    };
    std::vector<Moment> moments;
    for (long i = 0; i < 15; ++i) {
        moments.push_back({std::to_string(i * 340) + " moved", [this, i] {
                               return i == 0 ? exists(m_datagroup)
                                             : long(namesIn(m_datagroup + "/B1").size()) >= i * 340;
                           }});
    }
    moments.push_back({"temporary written", [this] { return holdsTemporary(m_datagroup); }});
    moments.push_back({"temporary written + 1 ms", [this] { return holdsTemporary(m_datagroup); }, 1});
    moments.push_back({"saved", [&] { return exists(xmlPath) && std::filesystem::file_size(xmlPath) > 0; }});
    for (int delay : {0, 2}) {
        moments.push_back({"all moved + " + std::to_string(delay) + " ms",
                           [this] { return namesIn(m_datagroup + "/B1").size() == size_t(kLines); }, delay});
    }

    int killed = 0;
    int wholeAfterKill = 0;
    int leftTemporary = 0;
    for (const Moment& moment : moments) {
        SCOPED_TRACE("kill at " + moment.name);
        resetWork();
        const pid_t pid = start();
        ASSERT_GT(pid, 0);
        int status = 0;
        if (waitUntil(pid, moment.reached, status)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(moment.delayMs));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        if (WIFSIGNALED(status)) {
            ++killed;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(m_work / "stderr.txt");
        }

        // DATAGRP.XML: absent, the empty file of the new datagroup, or whole with every document.
        if (exists(xmlPath)) {
            const std::string xml = readFile(xmlPath);
            if (!xml.empty()) {
                DatagroupDocument document;
                document.parseExisting(xml);
                long last = 0;
                EXPECT_NO_THROW(last = document.locateDocuments()) << xml.substr(0, 200);
                EXPECT_EQ(last, kLines);
                wholeAfterKill += WIFSIGNALED(status);
            }
        }
        // Every image at its source or in the datagroup, exactly once.
        std::map<std::string, int> places;
        for (const std::string& folder : {m_work / "images/B1", m_datagroup + "/B1"}) {
            for (const std::string& name : namesIn(folder))
                ++places[name];
        }
        EXPECT_EQ(places.size(), static_cast<size_t>(kLines)) << "an image was lost";
        // Beside them at most the marker and the hidden temporary file of a save cut short.
        for (const std::string& name : namesIn(m_datagroup))
            EXPECT_TRUE(name == "B1" || name == "DATAGRP.XML" || name == "DATAGRP.SUBMIT") << name;
        leftTemporary += holdsTemporary(m_datagroup);
        for (const auto& [name, count] : places)
            EXPECT_EQ(count, 1) << name;

        // Running the configuration again finishes or undoes the interrupted run by itself and ends
        // where an uninterrupted run ends.
        EXPECT_EQ(runAgain(), 0) << readFile(m_work / "stderr.txt");
        EXPECT_EQ(firstDifference(uninterrupted, filesUnder(m_datagroup)), "") << readFile(m_work / "stderr.txt");
        EXPECT_TRUE(namesIn(m_work / "images/B1").empty());
        EXPECT_FALSE(exists(m_work / "in/batch.csv"));
    }
    EXPECT_GE(killed, 10) << "most moments must fall inside the run";
    RecordProperty("killed", killed);
    RecordProperty("wholeAfterKill", wholeAfterKill);
    RecordProperty("leftTemporary", leftTemporary);
}

TEST_F(CrashTest, ASignalStopsTheRunCleanlyAndTheNextRunConvertsEverything)
{
    resetWork();
    const pid_t pid = start();
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_TRUE(waitUntil(
        pid, [this] { return namesIn(m_datagroup + "/B1").size() >= size_t(kLines / 3); }, status))
        << "the run ended before it could be stopped";
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const std::string said = readFile(m_work / "stderr.txt");
    ASSERT_TRUE(WIFEXITED(status)) << "the signal killed the program: " << said;
    EXPECT_EQ(WEXITSTATUS(status), 1) << said;
    EXPECT_NE(said.find("User interrupt occurred: stopped by SIGTERM"), std::string::npos) << said;
    EXPECT_EQ(leftoverTemporary(m_work.path()), "");
    EXPECT_TRUE(exists(m_work / "in/batch.csv"));
    // A new datagroup: the stopped run put every image back and took its DATAGRP.XML away.
    EXPECT_FALSE(exists(m_datagroup + "/DATAGRP.XML"));
    EXPECT_FALSE(exists(m_datagroup + "/DATAGRP.SUBMIT"));
    EXPECT_EQ(namesIn(m_work / "images/B1").size(), size_t(kLines));
    EXPECT_EQ(said.find("will not appear in DATAGRP.XML"), std::string::npos) << said;

    EXPECT_EQ(runAgain(), 0) << readFile(m_work / "stderr.txt");
    EXPECT_EQ(readFile(m_work / "stderr.txt").find("Interrupted Conversion"), std::string::npos);
    DatagroupDocument document;
    document.parseExisting(readFile(m_datagroup + "/DATAGRP.XML"));
    EXPECT_EQ(document.locateDocuments(), kLines);
    EXPECT_EQ(namesIn(m_datagroup + "/B1").size(), size_t(kLines));
    EXPECT_TRUE(namesIn(m_work / "images/B1").empty());
}

// A command of ten index files with full-text files, killed at moments spread over it and, a few times,
// killed again while it recovers: run again until it ends by itself, it leaves exactly the datagroup and
// the index files of the command that was never interrupted, with Remove Processed Files on and off, and
// with the images on another file system (every move a copy, killed between copy and removal at times).
class CommandKillTest : public ::testing::Test
{
protected:
    static constexpr int kFiles = 10;
    static constexpr int kLinesPerFile = 12;

    void prepare(const TempDir& work, bool remove, const std::string& images)
    {
        std::filesystem::remove_all(work / "in");
        std::filesystem::remove_all(work / "out");
        std::filesystem::remove_all(images);
        for (int file = 1; file <= kFiles; ++file) {
            std::string lines;
            for (int line = 1; line <= kLinesPerFile; ++line) {
                const std::string name = std::to_string(file) + "-" + std::to_string(line);
                writeFile(images + "/B1/" + name + ".TIF", "img-" + name);
                writeFile(images + "/B1/" + name + ".txt", "text-" + name);
                lines += "Doc " + name + ",\\B1\\" + name + ".TIF,1\r\n";
            }
            writeFile(work / ("in/" + std::to_string(100 + file) + ".idx"), lines);
        }
        ConversionSettings s;
        s.indexFiles = work / "in/*.idx";
        s.xmlFilePath = work / "out/DATAGRP.XML";
        s.companyId = "EXMP";
        s.fieldNames = "Name|IMAGEPATH|PAGECOUNT";
        s.fieldTypes = "text|text|number";
        s.imageFolder = images;
        s.maxDocuments = "10000";
        s.removeProcessedFiles = remove;
        writeFile(work / "batch.tvr", serializeConfig(s));
    }

    static pid_t start(const TempDir& work)
    {
        return testing::startProgram({work / "batch.tvr"}, work / "home", work / "stderr.txt");
    }

    static size_t placed(const TempDir& work) { return namesIn(work / "out/EXMP0001/B1").size(); }

    void killAndRerun(bool remove, bool acrossFileSystems = false)
    {
        TempDir reference;
        prepare(reference, remove, reference / "images");
        ASSERT_EQ(testing::exitStatusOf(start(reference)), 0) << readFile(reference / "stderr.txt");
        const auto datagroup = filesUnder(reference / "out/EXMP0001");
        const auto left = filesUnder(reference / "in");

        TempDir work;
        ShmDir shm;
        if (acrossFileSystems && !shm.separateFrom(work.path()))
            GTEST_SKIP() << "/dev/shm is not a file system of its own here";
        const std::string images = acrossFileSystems ? shm / "images" : work / "images";
        constexpr size_t kImages = size_t(kFiles) * kLinesPerFile * 2;
        for (int moment = 0; moment < 20; ++moment) {
            // By files placed: never the last, so that the command has not reached its end.
            const size_t at = moment * (kImages - 2) / 20;
            SCOPED_TRACE("kill once " + std::to_string(at) + " files are placed");
            prepare(work, remove, images);
            pid_t pid = start(work);
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (placed(work) < at && ::waitpid(pid, &status, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            // On a busy machine the command may reach its end before the kill does: it has removed its
            // record and marked the datagroup, and a run now would be a new command, converting again.
            const bool ended = WIFEXITED(status) || (!exists(work / "out/EXMP0001/.DATAGRP.COMMAND") &&
                                                     exists(work / "out/EXMP0001/DATAGRP.SUBMIT"));
            // A few times the recovering run is killed as well, early in its work.
            if (!ended && moment % 5 == 2) {
                pid = start(work);
                std::this_thread::sleep_for(std::chrono::milliseconds(2 + moment));
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
            }
            int runs = 0;
            int exit = ended ? 0 : -1;
            while (exit != 0 && runs++ < 4)
                exit = testing::exitStatusOf(start(work));
            ASSERT_EQ(exit, 0) << readFile(work / "stderr.txt");
            EXPECT_EQ(firstDifference(datagroup, filesUnder(work / "out/EXMP0001")), "")
                << readFile(work / "stderr.txt");
            EXPECT_EQ(filesUnder(work / "in"), left);
            EXPECT_TRUE(namesIn(images + "/B1").empty());
        }
    }
};

TEST_F(CommandKillTest, RerunUntilItEndsGivesTheUninterruptedCommandsDatagroupWithRemoveOn)
{
    killAndRerun(true);
}

TEST_F(CommandKillTest, RerunUntilItEndsGivesTheUninterruptedCommandsDatagroupWithRemoveOff)
{
    killAndRerun(false);
}

TEST_F(CommandKillTest, RerunUntilItEndsGivesTheUninterruptedCommandsDatagroupAcrossFileSystems)
{
    killAndRerun(true, true);
}

} // namespace
} // namespace tollavar
