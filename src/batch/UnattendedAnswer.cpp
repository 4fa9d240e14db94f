#include "batch/UnattendedAnswer.h"

namespace tollavar {

bool isQuestion(const Message& message)
{
    return message.buttons != MessageButtons::Ok || message.kind == MessageKind::XmlInUseWait;
}

MessageAnswer unattendedAnswer(const Message& message)
{
    // The in-use wait repeats its OK until the file is free; a run with nobody behind it gives up.
    if (message.kind == MessageKind::XmlInUseWait)
        return MessageAnswer::Cancel;
    if (message.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    // Yes takes DATAGRP.XML back to its text before the failed run; every other question a run asks
    // would move, replace or delete a file on Yes.
    if (message.kind == MessageKind::UndoOffer)
        return MessageAnswer::Yes;
    return message.buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::No;
}

MessageAnswer goOnAnswer(const Message& message)
{
    switch (message.kind) {
    case MessageKind::SourceMissing:
    case MessageKind::CorruptXml:
        return MessageAnswer::Yes;
    case MessageKind::ImageExists:
        return MessageAnswer::No;
    default:
        return unattendedAnswer(message);
    }
}

} // namespace tollavar
