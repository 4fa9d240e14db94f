#pragma once

#include "engine/Prompter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tollavar::testing {

// Answers every message by its caption, whatever order the messages come in: for runs whose
// questions depend on where they fail. A caption ending in "*" matches every caption that starts
// with the text before the star. A message no rule answers fails the test.
class CaptionPrompter : public Prompter
{
public:
    void answer(std::string caption, MessageAnswer reply) { m_rules.emplace_back(std::move(caption), reply); }

    MessageAnswer ask(const Message& message) override
    {
        seen.push_back(message);
        for (const auto& [caption, reply] : m_rules) {
            const bool prefix = caption.ends_with('*');
            if (prefix ? message.caption.starts_with(caption.substr(0, caption.size() - 1))
                       : message.caption == caption)
                return reply;
        }
        ADD_FAILURE() << "unexpected message \"" << message.caption << "\": " << message.text;
        return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }

    size_t count(const std::string& caption) const
    {
        size_t n = 0;
        for (const Message& m : seen)
            n += m.caption == caption;
        return n;
    }

    std::vector<Message> seen;

private:
    std::vector<std::pair<std::string, MessageAnswer>> m_rules;
};

} // namespace tollavar::testing
