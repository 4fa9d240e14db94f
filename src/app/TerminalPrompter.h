#pragma once

#include "ui/ShowingPrompter.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace tollavar {

// Messages for a run without a display: caption and text on the error stream, a question asked on
// the input stream with its buttons by name. With nobody to ask (no terminal, or the input ends) a
// question takes the answer that changes least, so a run from cron never waits for ever.
class TerminalPrompter : public ShowingPrompter
{
public:
    using Pause = std::function<void()>;

    // `canAsk`: a person may answer on `in`. `pause` waits before a busy file or datagroup is tried
    // again; after `waitLimitSeconds` of trying, the wait is given up.
    TerminalPrompter(std::istream& in, std::ostream& out, bool canAsk, Pause pause, int waitLimitSeconds = 600);

    MessageAnswer show(const Message& message) override;

private:
    MessageAnswer askOnTerminal(const Message& message);

    std::istream& m_in;
    std::ostream& m_out;
    bool m_canAsk;
    Pause m_pause;
    int m_waitLimitSeconds;
    std::string m_waitingFor; // the text of the wait under way, empty when none
    std::chrono::steady_clock::time_point m_waitStart;
};

// Standard input and error; asks only when standard input is a terminal; pauses one second.
std::unique_ptr<TerminalPrompter> makeProcessTerminalPrompter(int waitLimitSeconds = 600);

// The answer a question takes when nobody can give one: leave the files as they are, and undo a
// failed run.
MessageAnswer leastChangeAnswer(const Message& message);

} // namespace tollavar
