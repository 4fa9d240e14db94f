#pragma once

#include "engine/FailureReport.h"
#include "engine/Prompter.h"

namespace tollavar {

// The words of every message the program shows, for what the core asks or tells and for every failure:
// the one place a value becomes a message. Kept free of Qt so that the terminal, the window and the
// tests all show the same text.
Message promptMessage(const Prompt& prompt);
Message failureMessage(const FailureReport& report);

// The same table, for what in the core must record a message without showing it.
const MessageWords& messageTable();

// A prompter that shows messages: it words every prompt, wait and failure through the table and
// leaves only the showing to the implementation.
class ShowingPrompter : public Prompter
{
public:
    virtual MessageAnswer show(const Message& message) = 0;
    // Shows `text` while `ready` is polled; see Prompter::waitUntil.
    virtual bool showWait(const std::string& text, const std::function<bool()>& ready)
    {
        (void)text;
        ready();
        return true;
    }

    MessageAnswer ask(const Prompt& prompt) override { return show(promptMessage(prompt)); }
    Message reportFailure(const FailureReport& report) override
    {
        Message message = failureMessage(report);
        show(message);
        return message;
    }
    bool waitUntil(const Prompt& wait, const std::function<bool()>& ready) override
    {
        return showWait(promptMessage(wait).text, ready);
    }
};

} // namespace tollavar
