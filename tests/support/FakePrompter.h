#pragma once

#include "engine/Prompter.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace tollavar::testing {

// Records every message and answers from a script. A message the script did not expect fails the
// test: the script names the caption it expects next with the answer to give.
class FakePrompter : public Prompter
{
public:
    struct Step
    {
        std::string caption;
        MessageAnswer answer;
    };

    void expect(std::string caption, MessageAnswer answer) { m_script.push_back({std::move(caption), answer}); }

    MessageAnswer ask(const Message& message) override
    {
        m_seen.push_back(message);
        if (m_script.empty()) {
            ADD_FAILURE() << "unexpected message \"" << message.caption << "\": " << message.text;
            return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
        }
        Step step = m_script.front();
        m_script.pop_front();
        EXPECT_EQ(step.caption, message.caption) << "message text: " << message.text;
        return step.answer;
    }

    const std::vector<Message>& seen() const { return m_seen; }
    bool scriptDone() const { return m_script.empty(); }
    void clear()
    {
        m_seen.clear();
        m_script.clear();
    }

private:
    std::deque<Step> m_script;
    std::vector<Message> m_seen;
};

} // namespace tollavar::testing
