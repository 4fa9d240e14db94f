#include "filetools/FileSystem.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/JournalFile.h"
#include "support/Processes.h"
#include "support/ShmDir.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tollavar;
using namespace tollavar::testing;

namespace {

int leftovers(const std::string& folder)
{
    int n = 0;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            ++n;
    return n;
}

struct FaultGuard
{
    ~FaultGuard() { faults::disarm(); }
};

// 0 when the save went through, else the failure's classic number.
int saveCode(const std::string& path, std::string_view bytes)
{
    try {
        files::writeFileAtomic(path, bytes);
        return 0;
    } catch (const Failure& f) {
        return f.number();
    }
}

size_t openDescriptors()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

} // namespace

TEST(FileSystemTest, AtomicWriteReplacesWholeOrNotAtAll)
{
    TempDir dir;
    FaultGuard guard;
    const std::string file = dir / "DATAGRP.XML";
    files::writeFileAtomic(file, "first version");
    EXPECT_EQ(readFile(file), "first version");
    chmod(file.c_str(), 0640);
    files::writeFileAtomic(file, "second version");
    EXPECT_EQ(readFile(file), "second version");
    struct stat st
    {
    };
    stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the file's permissions";

    // Every operation of the save fails in turn: the previous file stays whole, no temporary is left.
    for (long k = 1;; ++k) {
        faults::arm({k, ENOSPC, false});
        try {
            files::writeFileAtomic(file, "third version");
            faults::disarm();
            break; // k is past the last operation
        } catch (const Failure& f) {
            faults::disarm();
            EXPECT_EQ(f.code(), ErrorCode::DiskFull);
            const std::string now = readFile(file);
            EXPECT_TRUE(now == "second version" || now == "third version") << now;
            EXPECT_EQ(leftovers(dir.path()), 0) << "operation " << k;
            files::writeFileAtomic(file, "second version");
        }
    }
    EXPECT_EQ(readFile(file), "third version");
}

TEST(FileSystemTest, AtomicWriteIntoReadOnlyFolderFailsAndKeepsTheOldFile)
{
    // Neither a temporary beside it nor a write into it: a read-only file in a read-only folder.
    TempDir dir;
    const std::string file = dir / "cfg.tvr";
    writeFile(file, "old");
    ASSERT_EQ(chown(dir.path().c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    ASSERT_EQ(chown(file.c_str(), unprivilegedUid(), unprivilegedGid()), 0);
    chmod(file.c_str(), 0444);
    chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(runAsUnprivileged([&] { return saveCode(file, "new"); }), errorNumber(ErrorCode::PermissionDenied));
    EXPECT_EQ(runAsUnprivileged([&] { return saveCode(dir / "other.tvr", "new"); }),
              errorNumber(ErrorCode::PermissionDenied));
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readFile(file), "old");
    EXPECT_FALSE(exists(dir / "other.tvr"));
}

TEST(FileSystemTest, SavingKeepsLinksOtherNamesOwnerAndMode)
{
    TempDir dir;
    const uid_t uid = unprivilegedUid();
    const gid_t gid = unprivilegedGid();
    ASSERT_EQ(chown(dir.path().c_str(), uid, gid), 0);
    const auto stamp = [](const std::string& path) {
        struct stat st
        {
        };
        lstat(path.c_str(), &st);
        return st;
    };

    // A link (relative, into another folder) stays a link; its target takes the save, as does the
    // target of a link that names a file not yet there.
    writeFile(dir / "shared/site.tvr", "old");
    std::filesystem::create_directories(dir / "mine");
    ASSERT_EQ(symlink("../shared/site.tvr", (dir / "mine/site.tvr").c_str()), 0);
    ASSERT_EQ(symlink("DATAGRP-real.XML", (dir / "mine/DATAGRP.XML").c_str()), 0);
    files::writeFileAtomic(dir / "mine/site.tvr", "new");
    files::writeFileAtomic(dir / "mine/DATAGRP.XML", "<x/>");
    EXPECT_TRUE(S_ISLNK(stamp(dir / "mine/site.tvr").st_mode));
    EXPECT_TRUE(S_ISLNK(stamp(dir / "mine/DATAGRP.XML").st_mode));
    EXPECT_EQ(readFile(dir / "shared/site.tvr"), "new");
    EXPECT_EQ(readFile(dir / "mine/DATAGRP-real.XML"), "<x/>");
    // The marker is the one file never written through a link: the link itself is replaced.
    ASSERT_EQ(symlink("../shared/site.tvr", (dir / "mine/DATAGRP.SUBMIT").c_str()), 0);
    files::createEmptyFile(dir / "mine/DATAGRP.SUBMIT");
    EXPECT_TRUE(S_ISREG(stamp(dir / "mine/DATAGRP.SUBMIT").st_mode));
    EXPECT_EQ(readFile(dir / "shared/site.tvr"), "new");

    // A file with two names keeps both, written in place.
    writeFile(dir / "a.tvr", "old");
    ASSERT_EQ(link((dir / "a.tvr").c_str(), (dir / "b.tvr").c_str()), 0);
    const ino_t inode = stamp(dir / "a.tvr").st_ino;
    files::writeFileAtomic(dir / "a.tvr", "new, and longer than before");
    files::writeFileAtomic(dir / "a.tvr", "short");
    EXPECT_EQ(readFile(dir / "b.tvr"), "short");
    EXPECT_EQ(stamp(dir / "b.tvr").st_ino, inode);

    // A user's file saved by root keeps its owner, group and mode; a name of 250 characters still
    // gets a temporary beside it, so the save replaces the file and leaves nothing behind.
    const std::string longName = dir / (std::string(246, 'n') + ".tvr");
    for (const std::string& file : {dir / "user.tvr", longName}) {
        writeFile(file, "old");
        ASSERT_EQ(chown(file.c_str(), uid, gid), 0);
        chmod(file.c_str(), 0640);
        const ino_t before = stamp(file).st_ino;
        files::writeFileAtomic(file, "new");
        const struct stat after = stamp(file);
        EXPECT_EQ(readFile(file), "new");
        EXPECT_EQ(after.st_uid, uid);
        EXPECT_EQ(after.st_gid, gid);
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        EXPECT_NE(after.st_ino, before) << "replaced, not written in place";
    }
    EXPECT_EQ(leftovers(dir.path()), 0);

    // As the user: a read-only file is refused like a plain write; a writable one in a folder that
    // takes no new file is written in place.
    writeFile(dir / "readonly/cfg.tvr", "old");
    writeFile(dir / "closed/cfg.tvr", "old");
    for (const char* path : {"readonly", "readonly/cfg.tvr", "closed", "closed/cfg.tvr"})
        ASSERT_EQ(chown((dir / path).c_str(), uid, gid), 0);
    chmod((dir / "readonly/cfg.tvr").c_str(), 0444);
    chmod((dir / "closed").c_str(), 0555);
    EXPECT_EQ(runAsUnprivileged([&] { return saveCode(dir / "readonly/cfg.tvr", "new"); }),
              errorNumber(ErrorCode::PermissionDenied));
    EXPECT_EQ(readFile(dir / "readonly/cfg.tvr"), "old");
    EXPECT_EQ(runAsUnprivileged([&] { return saveCode(dir / "closed/cfg.tvr", "new"); }), 0);
    EXPECT_EQ(readFile(dir / "closed/cfg.tvr"), "new");
    chmod((dir / "closed").c_str(), 0755);

    // As the user, a file of someone else's that the user may write: its owner cannot be given to a
    // replacement, so it is written in place and stays the other's.
    if (geteuid() == 0) {
        writeFile(dir / "root.tvr", "old");
        chmod((dir / "root.tvr").c_str(), 0666);
        EXPECT_EQ(runAsUnprivileged([&] { return saveCode(dir / "root.tvr", "new"); }), 0);
        EXPECT_EQ(readFile(dir / "root.tvr"), "new");
        EXPECT_EQ(stamp(dir / "root.tvr").st_uid, 0u);
    }
}

TEST(FileSystemTest, MoveNeverReplacesAndReportsBothPaths)
{
    TempDir dir;
    writeFile(dir / "a.tif", "A");
    writeFile(dir / "b.tif", "B");
    try {
        files::moveFile(dir / "a.tif", dir / "b.tif");
        FAIL() << "a taken destination must fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), ErrorCode::FileAlreadyExists);
        EXPECT_NE(f.description().find(dir / "b.tif"), std::string::npos);
    }
    EXPECT_EQ(readFile(dir / "a.tif"), "A");
    EXPECT_EQ(readFile(dir / "b.tif"), "B");

    files::moveFile(dir / "a.tif", dir / "c.tif");
    EXPECT_FALSE(exists(dir / "a.tif"));
    EXPECT_EQ(readFile(dir / "c.tif"), "A");

    try {
        files::moveFile(dir / "missing.tif", dir / "d.tif");
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.code(), ErrorCode::FileNotFound);
    }

    files::moveFileReplacing(dir / "c.tif", dir / "b.tif");
    EXPECT_EQ(readFile(dir / "b.tif"), "A");
    EXPECT_FALSE(exists(dir / "c.tif"));
}

TEST(FileSystemTest, MoveAcrossFileSystemsKeepsTheSourceUntilTheCopyIsSafe)
{
    // /dev/shm is a different file system from the temporary folder on most machines.
    struct stat shm
    {
    };
    struct stat tmp
    {
    };
    TempDir dir;
    if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "no second file system here";
    const std::string source = "/dev/shm/tollavar-move-test-" + std::to_string(getpid());
    writeFile(source, std::string(3 << 20, 'x'));
    FaultGuard guard;
    for (long k = 1; k < 40; ++k) {
        faults::arm({k, EIO, false});
        try {
            files::moveFile(source, dir / "moved.tif");
            faults::disarm();
            break;
        } catch (const Failure&) {
            faults::disarm();
            const bool atSource = exists(source);
            const bool atTarget = exists(dir / "moved.tif");
            EXPECT_TRUE(atSource || atTarget) << "operation " << k;
            if (atTarget && atSource)
                std::filesystem::remove(dir / "moved.tif"); // copied but source not yet removed: start again
            EXPECT_EQ(leftovers(dir.path()), 0);
            ASSERT_TRUE(exists(source)) << "operation " << k;
        }
    }
    EXPECT_FALSE(exists(source));
    EXPECT_EQ(readFile(dir / "moved.tif").size(), size_t(3 << 20));
}

TEST(FileSystemTest, DrivesWithoutHardLinksStillTakeMovesAndNothingIsReplaced)
{
    // FAT and exFAT drives, SMB and many FUSE mounts refuse hard links; some refuse a rename that is not
    // to replace as well. The copy then reaches its name another way, never over a file.
    TempDir dir;
    ShmDir shm;
    if (!shm.separateFrom(dir.path()))
        GTEST_SKIP() << "no second file system here";
    FaultGuard guard;
    const std::string image(2 << 20, 'i');
    const struct
    {
        int error;
        bool renameRefusedToo;
    } cases[] = {
        {EPERM, false}, {EOPNOTSUPP, false}, {EXDEV, false}, {EMLINK, false}, {EPERM, true}, {EOPNOTSUPP, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.error) + (c.renameRefusedToo ? ", rename refused too" : ""));
        const std::string source = shm / "0001.TIF";
        const std::string target = dir / "0001.TIF";
        writeFile(source, image);
        ::chmod(source.c_str(), 0640);
        faults::arm({1, c.error, c.renameRefusedToo, "Link File"});
        files::moveFile(source, target);
        faults::disarm();
        EXPECT_EQ(readFile(target), image);
        EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms::owner_read |
                                                                     std::filesystem::perms::owner_write |
                                                                     std::filesystem::perms::group_read);
        EXPECT_FALSE(exists(source));
        EXPECT_EQ(leftovers(dir.path()), 0);

        writeFile(source, "newer");
        faults::arm({1, c.error, c.renameRefusedToo, "Link File"});
        EXPECT_THROW(files::moveFile(source, target), Failure);
        faults::disarm();
        EXPECT_EQ(readFile(target), image) << "never replaced";
        EXPECT_EQ(readFile(source), "newer");
        std::filesystem::remove(source);
        std::filesystem::remove(target);
    }

    // A link that fails for a real reason fails the move, and the source stays.
    writeFile(shm / "0002.TIF", image);
    faults::arm({1, EIO, false, "Link File"});
    EXPECT_THROW(files::moveFile(shm / "0002.TIF", dir / "0002.TIF"), Failure);
    faults::disarm();
    EXPECT_EQ(readFile(shm / "0002.TIF"), image);
    EXPECT_FALSE(exists(dir / "0002.TIF"));
    EXPECT_EQ(leftovers(dir.path()), 0);
}

TEST(FileSystemTest, ListingIsFilesOnlyInNameOrderWithoutRegardToCase)
{
    // Each set is written in an order of its own and must be listed as shown.
    const std::vector<std::vector<std::string>> cases = {
        {"A", "a2", "b", "C", "Z"},
        {"10.idx", "9.idx", "a.idx", "b.idx", "C.idx"},
        {"AB", "Ab_", "A_1"},                 // letters compare as upper case: "_" sorts after them
        {"B.IDX", "B.idx", "b.IDX", "b.idx"}, // names differing in case only: byte order
        {"z", "\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
    };
    for (const std::vector<std::string>& expected : cases) {
        TempDir dir;
        for (auto it = expected.rbegin(); it != expected.rend(); ++it)
            writeFile(dir / *it, "");
        std::filesystem::create_directory(dir / "folder.idx");
        EXPECT_EQ(files::listFiles(dir.path()), expected);
    }
    TempDir dir;
    EXPECT_THROW(files::listFiles(dir / "missing"), Failure);
    EXPECT_THROW(files::listFiles(""), Failure);
}

TEST(FileSystemTest, FailuresCarryClassicCodesAndThePath)
{
    const struct
    {
        int error;
        int code;
        const char* reason;
    } cases[] = {
        {ENOENT, 53, "File not found"},
        {ENOTDIR, 76, "Path not found"},
        {EACCES, 70, "Permission denied"},
        {EEXIST, 58, "File already exists"},
        {ENOSPC, 61, "Disk full"},
        {EIO, 75, "Path/File access error"},
        {EMFILE, 5, nullptr},
    };
    for (const auto& c : cases) {
        Failure f = systemFailure(c.error, "Save File", "/data/x/DATAGRP.XML");
        EXPECT_EQ(f.number(), c.code);
        EXPECT_EQ(f.source(), "Save File");
        if (c.reason) {
            EXPECT_EQ(f.description(), std::string(c.reason) + ": /data/x/DATAGRP.XML");
        }
        EXPECT_NE(f.description().find("/data/x/DATAGRP.XML"), std::string::npos);
    }
}

// Each write that stages its bytes, failed at each of its system calls in turn: the failure is raised, the
// descriptor is closed and the folder holds what it held before or what the write was to leave.
TEST(FileSystemTest, AWriteFailedAtAnyCallLeavesNoDescriptorAndNoStagingFile)
{
    TempDir dir;
    const std::string target = dir / "target";
    const std::string secondName = dir / "second-name";
    const struct
    {
        const char* label;
        std::function<void()> prepare;
        std::function<void()> write;
    } writes[] = {
        {"new file", [&] { std::filesystem::remove(target); }, [&] { files::writeFileAtomic(target, "new"); }},
        {"replacement", [&] { writeFile(target, "old"); }, [&] { files::writeFileAtomic(target, "new"); }},
        {"file with two names, in place",
         [&] {
             writeFile(target, "old");
             std::filesystem::create_hard_link(target, secondName);
         },
         [&] { files::writeFileAtomic(target, "new"); }},
        {"empty marker", [&] { std::filesystem::remove(target); }, [&] { files::createEmptyFile(target); }},
        {"staged whole file", [&] { writeFile(target, "old"); },
         [&] { files::writeWholeFile(target + ".new", target, "new"); }},
        {"journal", [&] { std::filesystem::remove(target); },
         [&] {
             files::JournalFile journal;
             journal.create(target + ".new", target, "new");
             journal.sync(0);
             journal.remove();
         }},
    };
    FaultGuard guard;
    for (const auto& w : writes) {
        for (const int error : {EIO, ENOSPC}) {
            bool finished = false;
            for (long k = 1; !finished && k < 40; ++k) {
                SCOPED_TRACE(std::string(w.label) + ", errno " + std::to_string(error) + " at call " +
                             std::to_string(k));
                std::filesystem::remove(secondName);
                w.prepare();
                const std::set<std::string> before = namesIn(dir.path());
                const size_t descriptors = openDescriptors();
                faults::arm({k, error, false});
                try {
                    w.write();
                    finished = true;
                } catch (const Failure& failure) {
                    EXPECT_EQ(failure.code(), errorCodeForErrno(error));
                }
                faults::disarm();
                EXPECT_EQ(openDescriptors(), descriptors);
                for (const std::string& name : namesIn(dir.path()))
                    EXPECT_TRUE(before.count(name) || name == "target") << name << " was left";
                const std::string now = exists(target) ? readFile(target) : "old";
                EXPECT_TRUE(now == "old" || now == "new" || now.empty()) << now;
            }
            EXPECT_TRUE(finished) << w.label;
        }
    }
}
