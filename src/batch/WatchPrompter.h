#pragma once

#include "engine/Prompter.h"

#include <map>
#include <set>
#include <string>

namespace tollavar {

// The messages of a hot folder's Convert commands. A file that fails is tried again and again, and
// fails the same way until someone mends it: a report already given is given once, not on every try.
// Also notes when a command gave up waiting for a datagroup that another run held.
class WatchPrompter : public Prompter
{
public:
    WatchPrompter(Prompter& inner, const MessageWords& words) : m_inner(inner), m_words(words) {}

    MessageAnswer ask(const Prompt& prompt) override;
    bool waitUntil(const Prompt& wait, const std::function<bool()>& ready) override
    {
        return m_inner.waitUntil(wait, ready);
    }
    Message reportFailure(const FailureReport& report) override;

    // Clears what the next command will be asked about.
    void beginCommand() { m_gaveUpWaiting = false; }
    bool gaveUpWaiting() const { return m_gaveUpWaiting; }

private:
    Prompter& m_inner;
    const MessageWords& m_words;
    std::set<std::string> m_reported;
    std::map<std::string, Message> m_failuresShown; // what each failure was shown as
    bool m_gaveUpWaiting = false;
};

} // namespace tollavar
