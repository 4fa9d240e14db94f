#pragma once

#include "batch/CommandContext.h"
#include "engine/ConversionSettings.h"
#include "filetools/FaultInjection.h"

#include "support/FakeDialog.h"
#include "support/FakeHost.h"
#include "support/FakePrompter.h"
#include "support/FakeServices.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace tollavar::testing {

// A window's worth of command state built from fakes, over a fresh temporary folder.
class BatchTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        faults::disarm();
        EXPECT_TRUE(prompter.scriptDone()) << "an expected message was not shown";
    }

    // The one message shown so far; fails the test when there is not exactly one.
    Message onlyMessage() const
    {
        EXPECT_EQ(prompter.seen().size(), 1u);
        return prompter.seen().empty() ? Message{} : prompter.seen().front();
    }

    TempDir dir;
    ConversionSettings settings;
    std::string configFile;
    RunFlags flags;
    FakeServices services;
    FakePrompter prompter;
    FakeHost host;
    FakeDialog dialog;
    CommandContext ctx{settings, configFile, flags, services.fileTools, prompter, host, dialog, messageTable()};
};

} // namespace tollavar::testing
