#pragma once

#include "ui/ShowingPrompter.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tollavar::testing {

// Answers every message by its kind, whatever order the messages come in: for runs whose questions
// depend on where they fail. A message no rule answers fails the test.
class KindPrompter : public ShowingPrompter
{
public:
    void answer(MessageKind kind, MessageAnswer reply) { m_rules.emplace_back(kind, reply); }

    MessageAnswer show(const Message& message) override
    {
        seen.push_back(message);
        for (const auto& [kind, reply] : m_rules) {
            if (message.kind == kind)
                return reply;
        }
        ADD_FAILURE() << "unexpected message \"" << message.caption << "\": " << message.text;
        return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }

    size_t count(MessageKind kind) const
    {
        size_t n = 0;
        for (const Message& m : seen)
            n += m.kind == kind;
        return n;
    }

    // The latest message of the kind, or an empty one.
    Message last(MessageKind kind) const
    {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if (it->kind == kind)
                return *it;
        return Message{};
    }

    std::vector<Message> seen;

private:
    std::vector<std::pair<MessageKind, MessageAnswer>> m_rules;
};

} // namespace tollavar::testing
