#include "filetools/MountTable.h"

#include <gtest/gtest.h>

using namespace tollavar::files;

// Lines as the kernel writes them: the options that decide are per mount on some kernels and among the
// file system's own on others.
TEST(MountTableTest, TellsWhichMountsKeepLocksOnThisMachine)
{
    struct Case
    {
        const char* line;
        const char* mountPoint; // nullptr: no entry
        const char* type;
        bool localOnly;
    };
    const Case cases[] = {
        {"40 1 0:45 / /srv/scans rw,relatime shared:20 - nfs filer:/scans "
         "rw,vers=3,rsize=1048576,hard,proto=tcp,local_lock=all,addr=10.0.0.5",
         "/srv/scans", "nfs", true},
        {"41 1 0:46 / /srv/out rw,relatime - nfs filer:/out rw,vers=3,nolock,proto=tcp", "/srv/out", "nfs", true},
        {"42 1 0:47 / /srv/flock rw - nfs4 filer:/f rw,vers=4.2,local_lock=flock", "/srv/flock", "nfs4", true},
        {"43 1 0:48 / /srv/v4 rw,relatime shared:21 - nfs4 filer:/v4 rw,vers=4.2,hard,local_lock=none,addr=10.0.0.5",
         "/srv/v4", "nfs4", false},
        // posix local_lock leaves flock(2) to the server.
        {"44 1 0:49 / /srv/posix rw - nfs filer:/p rw,vers=3,local_lock=posix", "/srv/posix", "nfs", false},
        {"45 1 0:50 / /mnt/share rw,relatime - cifs //server/share rw,vers=3.1.1,nobrl,cache=strict", "/mnt/share",
         "cifs", false},
        {"46 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro", "/", "ext4", false},
        // Spaces and backslashes in a mount point are written as octal escapes; no optional fields.
        {"47 1 0:51 / /mnt/scan\\040station\\134b rw - nfs filer:/s rw,nolock", "/mnt/scan station\\b", "nfs", true},
        {"48 1 0:52 / /mnt/short rw shared:1", nullptr, nullptr, false},
        {"", nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<MountEntry> entry = parseMountTableLine(c.line);
        ASSERT_EQ(entry.has_value(), c.mountPoint != nullptr);
        if (!entry)
            continue;
        EXPECT_EQ(entry->mountPoint, c.mountPoint);
        EXPECT_EQ(entry->type, c.type);
        EXPECT_EQ(locksStayOnThisMachine(*entry), c.localOnly);
    }
}

TEST(MountTableTest, APathBelongsToTheDeepestMountTheLastOnTop)
{
    const std::string table = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                              "30 22 0:40 / /srv rw - nfs4 filer:/srv rw,local_lock=none\n"
                              "31 30 0:41 / /srv/out rw - nfs filer:/out rw,nolock\n"
                              "32 30 0:42 / /srv/out rw - nfs4 filer:/out2 rw,local_lock=none\n"
                              "33 30 0:43 / /srv/in rw - nfs filer:/in rw,nolock\n";
    const struct
    {
        const char* path;
        const char* source;
    } cases[] = {
        {"/srv/out/ACME0001", "filer:/out2"}, // mounted over the first
        {"/srv/out", "filer:/out2"},
        {"/srv/outbox", "filer:/srv"}, // a name that only begins like the mount point
        {"/srv/in/batch", "filer:/in"},
        {"/home/scan", "/dev/sda1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::optional<MountEntry> mount = mountHolding(c.path, table);
        ASSERT_TRUE(mount);
        EXPECT_EQ(mount->source, c.source);
    }
    EXPECT_FALSE(mountHolding("/srv/out", ""));
}
