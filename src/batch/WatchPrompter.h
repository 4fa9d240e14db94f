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
    explicit WatchPrompter(Prompter& inner) : m_inner(inner) {}

    MessageAnswer ask(const Message& message) override;
    Message reportFailure(const FailureReport& report) override;

    // Clears what the next command will be asked about.
    void beginCommand() { m_gaveUpWaiting = false; }
    bool gaveUpWaiting() const { return m_gaveUpWaiting; }

private:
    Prompter& m_inner;
    std::set<std::string> m_reported;
    std::map<std::string, Message> m_failuresShown; // what each failure was shown as
    bool m_gaveUpWaiting = false;
};

} // namespace tollavar
