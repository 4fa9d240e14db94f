#pragma once

#include "engine/FailureReport.h"

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

// Which of the program's messages this is, so that a prompter or a test can tell them apart by value
// rather than by their words. Plain is every message no one needs to single out.
enum class MessageKind
{
    Plain,
    ConversionFailure, // a conversion run stopped: its failure and stage
    UndoOffer,         // after a failure: put DATAGRP.XML back as it was read? Yes changes least
    MovedFilesStay,    // after the undo: files already moved stay moved
    XmlInUseWait,      // another program holds DATAGRP.XML: asked again until it is free
    CorruptXml,        // an empty DATAGRP.XML: delete it?
    SourceMissing,     // an image to place is missing: skip it?
    ImageExists,       // the image's place in the datagroup is taken: replace it?
    DatagroupBusyWait, // another run holds the datagroup: wait on?
    InterruptedRun,    // what recovery did with an earlier run's journal, or why it could not
    CommandFailure,    // the Convert command stopped
    ConfigOpenFailure,
    ConfigSaveFailure,
    ConfigMissing,
    StartupFailure,
};

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

// Every question or report to the user goes through here: a message box in the window, the terminal
// on a server, a script in the tests. A failure comes as a value: only the implementation, above the
// core, chooses its words.
class Prompter
{
public:
    virtual ~Prompter() = default;
    virtual MessageAnswer ask(const Message& message) = 0;
    // A failure that ended a run or a command. Returns the message shown, which the run history keeps.
    virtual Message reportFailure(const FailureReport& report) = 0;
    // After the user chose to wait: polls `ready` until it answers true, showing `text` with a way to
    // give up. False when the user gave up. A prompter that cannot show a wait polls once and lets
    // its caller ask again (a terminal paces itself inside ask()).
    virtual bool waitUntil(const std::string& text, const std::function<bool()>& ready)
    {
        (void)text;
        ready();
        return true;
    }
};

// The words a failure is shown in, chosen above the core and handed to whatever in the core must
// record a failure as a message without showing it.
using FailureWords = std::function<Message(const FailureReport&)>;

} // namespace tollavar
