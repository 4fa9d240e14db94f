#include "batch/UnattendedAnswer.h"

#include <string_view>

namespace tollavar {

namespace {
constexpr std::string_view kXmlInUse = "XML file is in use.  Click OK to try again.";
}

bool IsQuestion(const Message& message)
{
    return message.buttons != MessageButtons::Ok || message.text == kXmlInUse;
}

MessageAnswer UnattendedAnswer(const Message& message)
{
    // The in-use wait repeats its OK until the file is free; a run with nobody behind it gives up.
    if (message.text == kXmlInUse && message.buttons == MessageButtons::Ok)
        return MessageAnswer::Cancel;
    if (message.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    // Yes takes DATAGRP.XML back to its text before the failed run; every other question a run asks
    // would move, replace or delete a file on Yes.
    if (message.caption == "Undo Changes?")
        return MessageAnswer::Yes;
    return message.buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::No;
}

} // namespace tollavar
