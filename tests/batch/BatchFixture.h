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
        EXPECT_TRUE(m_prompter.scriptDone()) << "an expected message was not shown";
    }

    // The one message shown so far; fails the test when there is not exactly one.
    Message onlyMessage() const
    {
        EXPECT_EQ(m_prompter.seen().size(), 1u);
        return m_prompter.seen().empty() ? Message{} : m_prompter.seen().front();
    }

    TempDir m_dir;
    ConversionSettings m_settings;
    std::string m_configFile;
    RunFlags m_flags;
    FakeServices m_services;
    FakePrompter m_prompter;
    FakeHost m_host;
    FakeDialog m_dialog;
    CommandContext m_ctx{m_settings, m_configFile, m_flags,  m_services.fileTools,
                         m_prompter, m_host,       m_dialog, messageTable()};
};

} // namespace tollavar::testing
