#pragma once

#include "engine/FailureReport.h"
#include "engine/Notice.h"
#include "engine/Prompt.h"

#include <functional>
#include <string>

namespace tollavar {

enum class MessageIcon
{
    None,
    Error,
    Warning,
    Question,
    Information,
};

enum class MessageButtons
{
    Ok,
    YesNo,
    YesNoCancel,
};

enum class MessageAnswer
{
    Ok,
    Yes,
    No,
    Cancel,
};

// The button's caption, as the terminal offers it and the run history records it.
inline const char* answerName(MessageAnswer answer)
{
    switch (answer) {
    case MessageAnswer::Ok:
        return "OK";
    case MessageAnswer::Yes:
        return "Yes";
    case MessageAnswer::No:
        return "No";
    case MessageAnswer::Cancel:
        return "Cancel";
    }
    return "";
}

// A modal message. Line breaks inside `text` are the single characters the message was written with
// (a CR, or an LF); the prompter shows them as line breaks.
struct Message
{
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    MessageKind kind = MessageKind::Plain;

    // Two messages are alike when the user sees the same.
    bool operator==(const Message& other) const
    {
        return text == other.text && caption == other.caption && icon == other.icon && buttons == other.buttons;
    }
};

// The words of every message (its text, caption, icon and buttons) and of every notice. Chosen above
// the core and handed to whatever in the core must record a message without showing it, or put a notice
// where the user reads it (a status panel, the run history, the hot folder's log).
class MessageWords
{
public:
    virtual ~MessageWords() = default;
    virtual Message prompt(const Prompt& prompt) const = 0;
    virtual Message failure(const FailureReport& report) const = 0;
    virtual std::string notice(const Notice& notice) const = 0;
};

// Every question or report to the user goes through here: a message box in the window, the terminal
// on a server, a script in the tests. The core hands over what it asks or tells as a value; only the
// implementation, above the core, chooses its words.
class Prompter
{
public:
    virtual ~Prompter() = default;
    virtual MessageAnswer ask(const Prompt& prompt) = 0;
    // A failure that ended a run or a command. Returns the message shown, which the run history keeps.
    virtual Message reportFailure(const FailureReport& report) = 0;
    // After the user chose to wait: polls `ready` until it answers true, showing `wait` with a way to
    // give up. False when the user gave up. A prompter that cannot show a wait polls once and lets
    // its caller ask again (a terminal paces itself inside ask()).
    virtual bool waitUntil(const Prompt& wait, const std::function<bool()>& ready)
    {
        (void)wait;
        ready();
        return true;
    }
};

} // namespace tollavar
