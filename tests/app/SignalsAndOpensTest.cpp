#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "support/ExampleBatchSettings.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// The exit status, or -1 after killing a program that did not end within `limit` (a hang).
int statusWithin(pid_t pid, std::chrono::milliseconds limit = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SignalsAndOpensTest : public ::testing::Test
{
protected:
    SignalsAndOpensTest()
    {
        writeFile(m_dir / "images/B1/1.TIF", "II*1");
        writeFile(m_dir / "images/B1/2.TIF", "II*2");
        writeConfig("1");
    }

    void writeConfig(const std::string& number, const std::string& company = "Example")
    {
        ConversionSettings s = testing::exampleBatchSettings(m_dir, "in/*.csv");
        s.datagroupNumber = number;
        s.companyName = company;
        s.maxDocuments = "1000";
        writeFile(m_config, serializeConfig(s));
    }

    pid_t start(const std::vector<std::string>& arguments)
    {
        return testing::startProgram(arguments, m_dir / "home", m_dir / "stderr.txt");
    }
    std::string err() const { return exists(m_dir / "stderr.txt") ? readFile(m_dir / "stderr.txt") : ""; }

    TempDir m_dir;
    std::string m_config = m_dir / "batch.tvr";
    std::string m_datagroup = m_dir / "out/EXMP0001";
};

// Something planted at a name the run opens: a link, a pipe that would block an open for ever, a
// folder. The run neither hangs nor writes through the link, and says what it found.
TEST_F(SignalsAndOpensTest, APlantedNameNeitherHangsTheRunNorLeadsItElsewhere)
{
    enum class Planted
    {
        Link,
        Pipe,
        Folder
    };
    struct Case
    {
        const char* name;
        Planted planted;
        int status;           // the run's exit status
        const char* saysWhat; // in its messages, beside the name; "" when the run has nothing to say
    };
    const Case cases[] = {
        {".DATAGRP.LOCK", Planted::Link, 1, "a symbolic link"},
        {".DATAGRP.LOCK", Planted::Pipe, 1, "a named pipe"},
        {".DATAGRP.LOCK", Planted::Folder, 1, "a folder"},
        {".DATAGRP.JOURNAL", Planted::Link, 1, ""},
        {".DATAGRP.JOURNAL", Planted::Pipe, 1, "a named pipe"},
        {".DATAGRP.JOURNAL", Planted::Folder, 1, ""},
        // An operator may keep DATAGRP.XML elsewhere through a link: it is followed to a regular file.
        {"DATAGRP.XML", Planted::Link, 0, ""},
        {"DATAGRP.XML", Planted::Pipe, 1, "a named pipe"},
        {"DATAGRP.XML", Planted::Folder, 1, "a folder"},
        // Index files may arrive as links; a pipe or a folder is no index file and is passed over.
        {"in/a.csv", Planted::Link, 0, ""},
        {"in/a.csv", Planted::Pipe, 0, ""},
        {"in/a.csv", Planted::Folder, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " as " +
                     (c.planted == Planted::Link   ? "link"
                      : c.planted == Planted::Pipe ? "pipe"
                                                   : "folder"));
        fs::remove_all(m_dir / "out");
        fs::remove_all(m_dir / "in");
        fs::remove_all(m_dir / "elsewhere");
        fs::remove_all(m_dir / "images");
        writeFile(m_dir / "images/B1/1.TIF", "II*1");
        writeFile(m_dir / "images/B1/2.TIF", "II*2");
        writeConfig("1");
        fs::create_directories(m_datagroup);
        fs::create_directories(m_dir / "elsewhere");
        writeFile(m_dir / "elsewhere/victim", "keep");
        writeFile(m_dir / "in/b.csv", "B,\\B1\\2.TIF,1,2\r\n");
        const bool isIndex = std::string_view(c.name).starts_with("in/");
        const std::string at = isIndex ? m_dir / c.name : m_datagroup + "/" + c.name;
        std::string target = m_dir / "elsewhere/victim";
        if (isIndex) {
            target = m_dir / "elsewhere/a.csv";
            writeFile(target, "A,\\B1\\1.TIF,1,1\r\n");
        } else if (std::string_view(c.name) == "DATAGRP.XML") {
            target = m_dir / "elsewhere/DATAGRP-real.XML";
        } else if (std::string_view(c.name) == ".DATAGRP.LOCK") {
            target = m_dir / "elsewhere/created-through-the-link";
        }
        if (c.planted == Planted::Link)
            ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0);
        else if (c.planted == Planted::Pipe)
            ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0);
        else
            fs::create_directories(at + "/inside");

        const int status = statusWithin(start({"--wait=2", m_config}));
        ASSERT_NE(status, -1) << "the run hung:\n" << err();
        EXPECT_EQ(status, c.status) << err();
        EXPECT_EQ(readFile(m_dir / "elsewhere/victim"), "keep");
        EXPECT_FALSE(exists(m_dir / "elsewhere/created-through-the-link"));
        if (*c.saysWhat) {
            EXPECT_NE(err().find(at + " is " + c.saysWhat), std::string::npos) << err();
        }
        if (c.status == 0) {
            EXPECT_TRUE(exists(m_datagroup + "/DATAGRP.SUBMIT")) << err();
            EXPECT_FALSE(exists(m_dir / "images/B1/2.TIF")) << "b.csv is converted";
            EXPECT_EQ(exists(m_dir / "images/B1/1.TIF"), !(isIndex && c.planted == Planted::Link));
        }
        if (std::string_view(c.name) == "DATAGRP.XML" && c.planted == Planted::Link) {
            EXPECT_TRUE(fs::is_symlink(at));
            EXPECT_NE(readFile(target).find("<DOCUMENT"), std::string::npos);
        }
    }
}

// Something planted at the run history's name, or in place of its folder, by anyone who may write to
// the shared folder it is in: an unattended run and a watcher stopped afterwards neither hang nor write
// through it, end as they would with a history that works, and say once that it cannot be written.
TEST_F(SignalsAndOpensTest, APlantedHistoryNeitherHangsTheRunNorTakesTheRecordElsewhere)
{
    enum class Planted
    {
        Nothing,
        LinkToMissing,
        LinkToExisting,
        Pipe,
        WrongKind, // a folder where the file belongs, a file where the folder belongs
        LinkToDevice,
    };
    // The files the program writes on the operator's behalf; a metrics file of the hot folder belongs here
    // too, with its own switch.
    struct Place
    {
        const char* what;
        std::string at; // where the planted thing stands
        std::vector<std::string> switches;
        bool folder; // the history's folder rather than the history itself
    };
    const std::string share = m_dir / "share";
    const Place places[] = {
        {"the default history", m_dir / "home/tollavar/runs.jsonl", {}, false},
        {"the history --log names", share + "/runs.jsonl", {"--log=" + share + "/runs.jsonl"}, false},
        {"the folder of the history --log names", share + "/logs", {"--log=" + share + "/logs/runs.jsonl"}, true},
    };
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    for (const bool watching : {false, true}) {
        for (const Place& place : places) {
            for (const Planted planted : {Planted::Nothing, Planted::LinkToMissing, Planted::LinkToExisting,
                                          Planted::Pipe, Planted::WrongKind, Planted::LinkToDevice}) {
                SCOPED_TRACE(std::string(watching ? "watcher, " : "unattended, ") + place.what + ", planted " +
                             std::to_string(static_cast<int>(planted)));
                for (const char* folder : {"out", "in", "images", "elsewhere", "share", "home"})
                    fs::remove_all(m_dir / folder);
                writeFile(m_dir / "images/B1/1.TIF", "II*1");
                fs::create_directories(m_dir / "in");
                writeConfig("1");
                writeFile(m_dir / "elsewhere/victim", "keep");
                fs::create_directories(fs::path(place.at).parent_path());
                // A share that several stations write to.
                fs::create_directories(share);
                fs::permissions(share, fs::perms::all);
                const std::string missing = m_dir / "elsewhere/missing";
                const std::string existing = place.folder ? m_dir / "elsewhere" : m_dir / "elsewhere/victim";
                switch (planted) {
                case Planted::Nothing:
                    break;
                case Planted::LinkToMissing:
                    ASSERT_EQ(::symlink(missing.c_str(), place.at.c_str()), 0);
                    break;
                case Planted::LinkToExisting:
                    ASSERT_EQ(::symlink(existing.c_str(), place.at.c_str()), 0);
                    break;
                case Planted::Pipe:
                    ASSERT_EQ(::mkfifo(place.at.c_str(), 0666), 0);
                    break;
                case Planted::WrongKind:
                    if (place.folder)
                        writeFile(place.at, "keep");
                    else
                        fs::create_directories(place.at);
                    break;
                case Planted::LinkToDevice:
                    ASSERT_EQ(::symlink("/dev/null", place.at.c_str()), 0);
                    break;
                }

                std::vector<std::string> arguments = place.switches;
                if (watching)
                    arguments.insert(arguments.end(), {"--watch", "--settle=0"});
                arguments.push_back(m_config);
                const std::string index = m_dir / "in/a.csv";
                if (!watching)
                    writeFile(index, "A,\\B1\\1.TIF,1,1\r\n");
                const pid_t pid = start(arguments);
                if (watching) {
                    const auto waitUntil = [](const std::function<bool()>& done) {
                        const auto deadline = std::chrono::steady_clock::now() + 10s;
                        while (!done() && std::chrono::steady_clock::now() < deadline)
                            std::this_thread::sleep_for(10ms);
                    };
                    waitUntil([&] { return err().find(m_dir / "in: ") != std::string::npos; });
                    writeFile(index, "A,\\B1\\1.TIF,1,1\r\n");
                    waitUntil([&] { return !exists(index); });
                    // The record is written as the command ends, before the file's own line.
                    std::this_thread::sleep_for(200ms);
                    ::kill(pid, SIGTERM);
                }
                const int status = statusWithin(pid, 10s);
                ASSERT_NE(status, -1) << "the program hung:\n" << err();
                EXPECT_EQ(status, 0) << err();
                EXPECT_TRUE(exists(m_datagroup + "/B1/1.TIF")) << err();
                EXPECT_EQ(count(err(), "the run history cannot be written"), planted == Planted::Nothing ? 0 : 1)
                    << err();
                EXPECT_FALSE(exists(missing));
                EXPECT_EQ(readFile(m_dir / "elsewhere/victim"), "keep");
                EXPECT_FALSE(exists(m_dir / "elsewhere/runs.jsonl"));
                if (planted == Planted::Nothing) {
                    const std::string history = readFile(place.folder ? place.at + "/runs.jsonl" : place.at);
                    EXPECT_NE(history.find("\"outcome\":\"converted\""), std::string::npos) << history;
                } else if (planted == Planted::Pipe) {
                    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(place.at)));
                } else if (planted == Planted::WrongKind) {
                    EXPECT_TRUE(place.folder ? readFile(place.at) == "keep" : fs::is_empty(place.at));
                }
            }
        }
    }
}

// Signals that come before or after the conversion, and the file-size limit: the program ends by
// itself, with its status and a word, never by the signal.
TEST_F(SignalsAndOpensTest, SignalsOutsideTheConversionAndTheFileSizeLimitEndTheRunByItsOwnHand)
{
    std::string index;
    for (int i = 1; i <= 400; ++i) {
        writeFile(m_dir / ("images/B2/" + std::to_string(i) + ".TIF"), "II*");
        index += "Document " + std::to_string(i) + " with a long name to fill the file," + "\\B2\\" +
                 std::to_string(i) + ".TIF,1," + std::to_string(i) + "\r\n";
    }
    const auto imagesAtSource = [&] {
        return std::distance(fs::directory_iterator(m_dir / "images/B2"), fs::directory_iterator());
    };
    const auto resetBatch = [&] {
        if (exists(m_datagroup + "/B2"))
            for (const auto& image : fs::directory_iterator(m_datagroup + "/B2"))
                fs::rename(image.path(), m_dir / "images/B2" / image.path().filename());
        fs::remove_all(m_dir / "out");
        writeFile(m_dir / "in/big.csv", index);
        writeConfig("1");
    };

    // A SIGTERM that comes while the program starts (held back until main, as a parent's blocked
    // signal is) and after the work is done.
    struct Case
    {
        const char* what;
        bool beforeMain;
        std::chrono::milliseconds delay;
        int status;
    };
    const Case cases[] = {
        {"before main", true, 0ms, 1},
        {"after the work", false, 0ms, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetBatch();
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        pid_t pid = -1;
        if (c.beforeMain) {
            ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
            pid = start({m_config});
            ::kill(pid, SIGTERM);
            ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
        } else {
            pid = start({m_config});
            // The marker is the command's last step but the advance; the signal comes after it.
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (!exists(m_datagroup + "/DATAGRP.SUBMIT") && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            ::kill(pid, SIGTERM);
        }
        const int status = statusWithin(pid);
        ASSERT_NE(status, -1) << "ended by the signal:\n" << err();
        if (c.beforeMain) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(err().find("Stopped by SIGTERM before converting anything"), std::string::npos) << err();
            EXPECT_EQ(imagesAtSource(), 400);
            EXPECT_TRUE(exists(m_dir / "in/big.csv"));
        } else {
            // The run either finished before it heard the signal, or stopped at the advance's save.
            EXPECT_TRUE(status == 0 || status == 1) << err();
            EXPECT_EQ(imagesAtSource(), 0);
        }
    }

    // A file-size limit below what DATAGRP.XML grows to: the write fails with EFBIG, the run takes
    // its failure path and says so, and every image is back at its station.
    resetBatch();
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 16 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const pid_t limited = start({m_config});
    ::setrlimit(RLIMIT_FSIZE, &before);
    const int status = statusWithin(limited);
    ASSERT_NE(status, -1) << "ended by SIGXFSZ:\n" << err();
    EXPECT_EQ(status, 1);
    EXPECT_NE(err().find("Disk full"), std::string::npos) << err();
    EXPECT_EQ(imagesAtSource(), 400);
    EXPECT_FALSE(exists(m_datagroup + "/DATAGRP.SUBMIT"));
}

// Two overlapping cron runs of one configuration: the second read the datagroup number before it
// waited for the first, which filled that datagroup and advanced. After the wait it converts into the
// datagroup the file names now, with the file's other changes, while its own switches still win.
TEST_F(SignalsAndOpensTest, ARunThatWaitedForTheLockConvertsWithTheConfigurationAsItIsNow)
{
    struct Case
    {
        const char* what;
        std::vector<std::string> switches;
        const char* company; // the company name the datagroup is written with
    };
    const Case cases[] = {
        {"no switch", {}, "Edited meanwhile"},
        {"company by switch", {"/e:Switched"}, "Switched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (exists(m_dir / "out/EXMP0002/B1/2.TIF"))
            fs::rename(m_dir / "out/EXMP0002/B1/2.TIF", m_dir / "images/B1/2.TIF");
        fs::remove_all(m_dir / "out");
        writeFile(m_dir / "in/b.csv", "B,\\B1\\2.TIF,1,2\r\n");
        ConversionSettings s = testing::exampleBatchSettings(m_dir, "in/*.csv");
        s.companyName = "Example";
        writeFile(m_config, serializeConfig(s));

        // The first run holds datagroup 1.
        fs::create_directories(m_datagroup);
        const std::string lockFile = m_datagroup + "/.DATAGRP.LOCK";
        const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);

        std::vector<std::string> arguments{"--wait=30", m_config};
        arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
        const pid_t second = start(arguments);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (err().find("Datagroup in Use") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_NE(err().find("Datagroup in Use"), std::string::npos) << err();

        // ... marks it, advances the number, and an operator changes the company name; then it lets go.
        writeFile(m_datagroup + "/DATAGRP.SUBMIT", "");
        s.datagroupNumber = "2";
        s.companyName = "Edited meanwhile";
        writeFile(m_config, serializeConfig(s));
        ::unlink(lockFile.c_str());
        ::close(held);

        ASSERT_EQ(statusWithin(second), 0) << err();
        EXPECT_FALSE(exists(m_datagroup + "/DATAGRP.XML")) << "nothing added to the marked datagroup";
        const std::string xml = readFile(m_dir / "out/EXMP0002/DATAGRP.XML");
        EXPECT_NE(xml.find(c.company), std::string::npos) << xml;
        EXPECT_TRUE(exists(m_dir / "out/EXMP0002/B1/2.TIF"));
        EXPECT_NE(readFile(m_config).find("\r\n2\r\n"), std::string::npos);
    }
}

} // namespace
} // namespace tollavar
