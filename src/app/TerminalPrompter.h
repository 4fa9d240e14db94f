#pragma once

#include "engine/Prompter.h"

#include <functional>
#include <iosfwd>
#include <memory>

namespace tollavar {

// Messages for a run without a display: caption and text on the error stream, a question asked on
// the input stream with its buttons by name. With nobody to ask (no terminal, or the input ends) a
// question takes the answer that changes least, so a run from cron never waits for ever.
class TerminalPrompter : public Prompter
{
public:
    using Pause = std::function<void()>;

    // `canAsk`: a person may answer on `in`. `pause` waits before the in-use check is repeated.
    TerminalPrompter(std::istream& in, std::ostream& out, bool canAsk, Pause pause);

    MessageAnswer ask(const Message& message) override;

private:
    MessageAnswer askOnTerminal(const Message& message);

    std::istream& m_in;
    std::ostream& m_out;
    bool m_canAsk;
    Pause m_pause;
    bool m_waitingForXml = false;
};

// Standard input and error; asks only when standard input is a terminal; pauses one second.
std::unique_ptr<TerminalPrompter> makeProcessTerminalPrompter();

// The answer a question takes when nobody can give one: leave the files as they are, and undo a
// failed run.
MessageAnswer leastChangeAnswer(const Message& message);

} // namespace tollavar
