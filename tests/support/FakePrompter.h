#pragma once

#include "ui/ShowingPrompter.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tollavar::testing {

// Records every message and answers from a script. A message the script did not expect fails the
// test: the script names the caption it expects next with the answer to give.
class FakePrompter : public ShowingPrompter
{
public:
    struct Step
    {
        std::string caption;
        MessageAnswer answer;
    };

    void expect(std::string caption, MessageAnswer answer) { m_script.push_back({std::move(caption), answer}); }

    MessageAnswer show(const Message& message) override
    {
        m_seen.push_back(message);
        if (whileShown)
            whileShown(message);
        if (m_script.empty()) {
            ADD_FAILURE() << "unexpected message \"" << message.caption << "\": " << message.text;
            return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
        }
        Step step = m_script.front();
        m_script.pop_front();
        EXPECT_EQ(step.caption, message.caption) << "message text: " << message.text;
        return step.answer;
    }

    // Runs while a message is up, as the user's actions behind a modal box would.
    std::function<void(const Message&)> whileShown;

    // Stands in for the user's wait after a Yes: frees what was busy, or gives up (returns false).
    std::function<bool(const std::function<bool()>& ready)> onWait;
    std::vector<std::string> waits;

    bool showWait(const std::string& text, const std::function<bool()>& ready) override
    {
        waits.push_back(text);
        return onWait ? onWait(ready) : ShowingPrompter::showWait(text, ready);
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
