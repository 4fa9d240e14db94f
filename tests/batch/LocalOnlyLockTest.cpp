#include "BatchFixture.h"
#include "InProcessWatch.h"

#include "batch/ConvertCommand.h"
#include "batch/DryRunCheck.h"
#include "filetools/FaultInjection.h"
#include "support/ExampleBatchSettings.h"
#include "support/KindPrompter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace tollavar;
using namespace tollavar::testing;
using namespace std::chrono_literals;

// The batch's folders lie on an NFS mount, as a mount table read from a file says.
class LocalOnlyLockTest : public BatchTest
{
protected:
    void SetUp() override
    {
        m_settings = exampleBatchSettings(m_dir, "in/*.csv");
        m_settings.removeProcessedFiles = true;
        std::filesystem::create_directories(m_dir / "in");
        m_configFile = m_dir / "batch.tvr";
        m_mount = std::filesystem::canonical(m_dir.path()).string();
        for (int i = 1; i <= 3; ++i)
            writeFile(m_dir / ("images/B1/" + std::to_string(i) + ".TIF"), "II*");
    }
    void TearDown() override
    {
        faults::replaceMountTable({});
        BatchTest::TearDown();
    }

    void mountBatchWith(const std::string& type, const std::string& options)
    {
        writeFile(m_dir / "mountinfo", "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                       "97 22 0:77 / " +
                                           m_mount + " rw,relatime shared:40 - " + type + " filer:/scans rw," +
                                           options + ",addr=10.0.0.5\n");
        faults::replaceMountTable(m_dir / "mountinfo");
    }
    void arrive(const std::string& name, int image)
    {
        writeFile(m_dir / ("in/" + name), "D" + std::to_string(image) + ",\\B1\\" + std::to_string(image) + ".TIF,1," +
                                              std::to_string(image) + "\r\n");
    }
    std::string warning() const { return m_ctx.words.notice(Notice{NoticeKind::LocksLocalOnly, m_mount}); }

    std::string m_mount;
};

TEST_F(LocalOnlyLockTest, TheRunAndTheCheckSayItOnceAndConvertAnyway)
{
    arrive("a.csv", 1);
    arrive("b.csv", 2);
    mountBatchWith("nfs", "vers=3,local_lock=all");
    EXPECT_EQ(warning(), "Locks on " + m_mount +
                             " keep out only this machine's runs: a conversion on another machine can write the same "
                             "datagroup");

    const CheckReport report = checkBatch(m_ctx);
    EXPECT_EQ(std::count(report.notices.begin(), report.notices.end(), warning()), 1);

    const ConvertOutcome outcome = convertCommand(m_ctx);
    EXPECT_TRUE(outcome.ranToEnd && outcome.allConverted);
    EXPECT_EQ(std::count(outcome.notices.begin(), outcome.notices.end(), warning()), 1);
    EXPECT_TRUE(exists(m_dir / "out/EXMP0001/B1/2.TIF"));

    // Locks the server keeps: nothing to say.
    arrive("c.csv", 3);
    mountBatchWith("nfs4", "vers=4.2,local_lock=none");
    const ConvertOutcome served = convertCommand(m_ctx);
    EXPECT_TRUE(served.ranToEnd && served.allConverted);
    EXPECT_EQ(std::count(served.notices.begin(), served.notices.end(), warning()), 0);
}

TEST_F(LocalOnlyLockTest, TheWatcherSaysItOnceForItsFoldersAndEveryBurst)
{
    mountBatchWith("nfs", "vers=3,nolock");
    KindPrompter answers;
    CommandContext ctx{m_settings, m_configFile, m_flags, m_services.fileTools, answers, m_host, m_dialog, m_ctx.words};
    WatchOptions options;
    options.settle = 0ms;
    const std::string log = watchWhile(ctx, options, [this] {
        for (int i = 1; i <= 2; ++i) {
            const std::string name = "f" + std::to_string(i) + ".csv";
            arrive(name, i);
            EXPECT_TRUE(waitFor([&] { return !exists(m_dir / ("in/" + name)); }, 10s)) << name << " not converted";
        }
    });
    EXPECT_EQ(occurrences(log, warning()), 1) << log;
    EXPECT_TRUE(exists(m_dir / "out/EXMP0001/B1/2.TIF")) << log;
}
