#pragma once

#include "engine/Prompter.h"
#include "ui/MessageTable.h"

#include <functional>
#include <string>

namespace tollavar {

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
