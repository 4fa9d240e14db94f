#include "filetools/FileTools.h"
#include "filetools/Failure.h"
#include "filetools/OpenForWriting.h"
#include "support/FakeServices.h"
#include "support/Processes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tollavar;
using namespace tollavar::testing;

TEST(FileToolsTest, PathPartsAcceptBothSeparators)
{
    struct Case
    {
        const char* path;
        const char* folder;
        const char* name;
        const char* ext;
    };
    const Case cases[] = {
        {"/data/scan/batch1.csv", "/data/scan", "batch1.csv", "csv"},
        {"C:\\Scans\\B1\\0001.TIF", "C:\\Scans\\B1", "0001.TIF", "TIF"},
        {"\\B1/mixed\\0001.tif", "\\B1/mixed", "0001.tif", "tif"},
        {"batch.csv", "", "batch.csv", "csv"},
        {"/data/x.d/noext", "/data/x.d", "noext", ""},
        {"/data/*.*", "/data", "*.*", "*"},
        {"/data/archive.tar.gz", "/data", "archive.tar.gz", "gz"},
        {"/file", "", "file", ""},
        {"", "", "", ""},
        {"/data/trailing/", "/data/trailing", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileTools::folderPart(c.path), c.folder);
        EXPECT_EQ(FileTools::namePart(c.path), c.name);
        EXPECT_EQ(FileTools::extensionPart(c.path), c.ext);
    }
}

TEST(FileToolsTest, L0PadPadsKeepsWideNumbersAndSigns)
{
    EXPECT_EQ(FileTools::zeroPadded(7, 4), "0007");
    EXPECT_EQ(FileTools::zeroPadded(0, 4), "0000");
    EXPECT_EQ(FileTools::zeroPadded(9999, 4), "9999");
    EXPECT_EQ(FileTools::zeroPadded(32767, 4), "32767");
    EXPECT_EQ(FileTools::zeroPadded(-5, 4), "-0005");
    EXPECT_EQ(FileTools::zeroPadded(-32768, 4), "-32768");
    EXPECT_EQ(FileTools::zeroPadded(-9223372036854775807LL - 1, 4), "-9223372036854775808");
}

TEST(FileToolsTest, IsFullPathKnowsRootsOfBothPlatforms)
{
    EXPECT_TRUE(FileTools::isFullPath("/home/user/a.tvr"));
    EXPECT_TRUE(FileTools::isFullPath("C:\\Config\\a.tvr"));
    EXPECT_TRUE(FileTools::isFullPath("\\\\server\\share\\a.tvr"));
    EXPECT_FALSE(FileTools::isFullPath(""));
    EXPECT_FALSE(FileTools::isFullPath("a.tvr"));
    EXPECT_FALSE(FileTools::isFullPath("config/a.tvr"));
    EXPECT_FALSE(FileTools::isFullPath("C:a.tvr"));
}

TEST(FileToolsTest, CreateAnyFolderMakesEveryMissingParent)
{
    TempDir dir;
    FakeServices services;
    services.fileTools.createFolderPath(dir / "a/b/c");
    EXPECT_TRUE(exists(dir / "a/b/c"));
    services.fileTools.createFolderPath(dir / "a\\b\\d"); // Windows separators from a configuration file
    EXPECT_TRUE(exists(dir / "a/b/d"));
    services.fileTools.createFolderPath(dir / "a/b/c"); // already there: nothing to do

    writeFile(dir / "file", "x");
    try {
        services.fileTools.createFolderPath(dir / "file/sub");
        FAIL() << "a file in the way must fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), ErrorCode::PathNotFound);
        EXPECT_NE(f.description().find(dir / "file/sub"), std::string::npos);
    }
}

TEST(FileToolsTest, IsFileInUseWhileAnotherProcessHoldsIt)
{
    TempDir dir;
    FakeServices services;
    const std::string file = dir / "DATAGRP.XML";
    writeFile(file, "<x/>");
    EXPECT_FALSE(services.fileTools.isFileInUse(file));

    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = open(file.c_str(), O_RDONLY);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        close(fd);
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_TRUE(services.fileTools.isFileInUse(file));
    ASSERT_EQ(write(release[1], &c, 1), 1);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(services.fileTools.isFileInUse(file));
    EXPECT_FALSE(services.fileTools.isFileInUse(dir / "missing.xml"));
}

// A backup agent, an indexer or the importer opening the file while it is tested breaks the test's
// lease: the kernel's word of that must not end the process. The tests run in a child, so that a
// process ended by it is seen as such.
TEST(FileToolsTest, IsFileInUseSurvivesAnotherProgramOpeningTheFileMeanwhile)
{
    TempDir dir;
    const std::string file = dir / "DATAGRP.XML";
    writeFile(file, "<x/>");

    const pid_t opener = fork();
    if (opener == 0) {
        for (;;) {
            const int fd = open(file.c_str(), O_RDONLY);
            if (fd >= 0)
                close(fd);
        }
    }
    ASSERT_GT(opener, 0);
    const pid_t tester = fork();
    if (tester == 0) {
        FakeServices services;
        for (int run = 0; run < 100; ++run) {
            services.fileTools.isFileInUse(file);
            usleep(1000);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(tester, &status, 0), tester);
    kill(opener, SIGKILL);
    waitpid(opener, nullptr, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileToolsTest, SettingAndDocumentGoThroughTheInjectedServices)
{
    FakeServices services;
    services.store.values[{"Quenbrook", "DefaultFolders", "Config"}] = "/srv/configs";
    EXPECT_EQ(services.fileTools.readStringSetting("Quenbrook", "DefaultFolders", "Config", ""), "/srv/configs");
    EXPECT_EQ(services.fileTools.readStringSetting("Quenbrook", "DefaultFolders", "Other", "dflt"), "dflt");

    services.fileTools.openDocument("/opt/tollavar/TLManual.pdf");
    ASSERT_EQ(services.opener.opened.size(), 1u);
    services.opener.succeed = false;
    try {
        services.fileTools.openDocument("/missing/TLManual.pdf");
        FAIL() << "a document that cannot be opened is a failure";
    } catch (const Failure& f) {
        EXPECT_NE(f.description().find("/missing/TLManual.pdf"), std::string::npos);
    }
}

// Without the right to a lease (the file is someone else's), the other processes' descriptors are read:
// a writer among the same user's processes is found; otherwise the processes of others (this test's own,
// run as root) stay hidden, and nobody can tell.
TEST(FileToolsTest, OnlyWritersCountAsWritingWhereNoLeaseCanBeTaken)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    TempDir dir;
    const std::string file = dir / "batch.idx";
    writeFile(file, "a,b\r\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    const struct
    {
        int openFlags;
        bool holderUnprivileged;
        files::WriterCheck expected;
    } cases[] = {
        {O_RDONLY, true, files::WriterCheck::Unknown},
        {O_WRONLY, true, files::WriterCheck::Writing},
        {O_RDWR, true, files::WriterCheck::Writing},
        {O_WRONLY, false, files::WriterCheck::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.openFlags) + (c.holderUnprivileged ? " by the same user" : " by root"));
        int ready[2];
        int release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t holder = fork();
        if (holder == 0) {
            if (c.holderUnprivileged && (::setresgid(unprivilegedGid(), unprivilegedGid(), unprivilegedGid()) != 0 ||
                                         ::setresuid(unprivilegedUid(), unprivilegedUid(), unprivilegedUid()) != 0))
                _exit(1);
            // As a program started by that user would be; a change of user hides a process's descriptors.
            ::prctl(PR_SET_DUMPABLE, 1);
            const int fd = open(file.c_str(), c.openFlags);
            char byte = 'r';
            (void)!write(ready[1], &byte, 1);
            (void)!read(release[0], &byte, 1);
            close(fd);
            _exit(0);
        }
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        const int answer = runAsUnprivileged([&] { return static_cast<int>(files::openForWritingElsewhere(file)); });
        EXPECT_EQ(answer, static_cast<int>(c.expected));
        ASSERT_EQ(write(release[1], &byte, 1), 1);
        waitpid(holder, nullptr, 0);
        for (int fd : {ready[0], ready[1], release[0], release[1]})
            close(fd);
    }
}
