#include "BatchFixture.h"

#include "batch/DatagroupLock.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FolderLock.h"

#include <gtest/gtest.h>

namespace tollavar::testing {
namespace {

using State = files::FolderLock::State;

TEST_F(BatchTest, DatagroupInUseWaitsAfterYesUntilFreeAndClearsThePanelEitherWay)
{
    const std::string folder = m_dir / "ACME0001";
    files::createFolder(folder);
    struct Case
    {
        const char* label;
        MessageAnswer answer;
        bool userCancels;
        bool converts;
    };
    for (const Case& c :
         {Case{"Yes, then freed", MessageAnswer::Yes, false, true},
          Case{"Yes, then Cancel", MessageAnswer::Yes, true, false}, Case{"No", MessageAnswer::No, false, false}}) {
        SCOPED_TRACE(c.label);
        m_prompter.clear();
        m_prompter.waits.clear();
        files::FolderLock other;
        ASSERT_EQ(other.tryAcquire(folder + "/.DATAGRP.LOCK"), State::Held);
        std::string panelWhileAsked;
        m_prompter.whileShown = [&](const Message&) { panelWhileAsked = m_host.panel1; };
        int polls = 0;
        m_prompter.onWait = [&](const std::function<bool()>& ready) {
            if (c.userCancels)
                return false;
            // Still busy on the first try; the other run then finishes.
            EXPECT_FALSE(ready());
            other.release();
            ++polls;
            EXPECT_TRUE(ready());
            return true;
        };
        m_prompter.expect("Datagroup in Use", c.answer);

        files::FolderLock mine;
        if (c.converts) {
            takeDatagroupLock(m_ctx, mine, folder);
            EXPECT_TRUE(mine.held());
            EXPECT_EQ(polls, 1);
        } else {
            EXPECT_THROW(takeDatagroupLock(m_ctx, mine, folder), Failure);
            EXPECT_FALSE(mine.held());
        }
        // Asked once: Yes waits instead of asking again.
        EXPECT_EQ(m_prompter.seen().size(), 1u);
        EXPECT_EQ(m_prompter.waits, c.answer == MessageAnswer::Yes
                                        ? std::vector<std::string>{"Waiting for the conversion in " + folder + "\u2026"}
                                        : std::vector<std::string>{});
        EXPECT_EQ(panelWhileAsked, "Waiting for another conversion into " + folder);
        EXPECT_EQ(m_host.panel1, "");
    }
}

} // namespace
} // namespace tollavar::testing
