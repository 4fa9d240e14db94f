#include "ui/MessageTable.h"

#include <string>

namespace tollavar {

namespace {

std::string numbered(const Failure& failure)
{
    return std::to_string(failure.number()) + " - " + failure.description();
}

} // namespace

Message failureMessage(const FailureReport& report)
{
    const Failure& failure = report.failure;
    switch (report.work) {
    case FailedWork::ConversionRun:
        // A lone CR, as the message has always been written: support reads the stage after it.
        return Message{numbered(failure) + "\rLine # " + std::to_string(stageNumber(report.stage)), "Conversion Error",
                       MessageIcon::Error, MessageButtons::Ok, MessageKind::ConversionFailure};
    case FailedWork::ConvertCommand:
        return Message{failure.description(), "Error in Convert - " + failure.source(), MessageIcon::Warning,
                       MessageButtons::Ok, MessageKind::CommandFailure};
    case FailedWork::OpeningConfig:
        return Message{numbered(failure), "Error Opening Config File", MessageIcon::Error, MessageButtons::Ok,
                       MessageKind::ConfigOpenFailure};
    case FailedWork::SavingConfig:
        return Message{numbered(failure), "Error Saving Config File", MessageIcon::Error, MessageButtons::Ok,
                       MessageKind::ConfigSaveFailure};
    case FailedWork::StartingUp:
        return Message{numbered(failure), "Error Loading Tollavar", MessageIcon::Error, MessageButtons::Ok,
                       MessageKind::StartupFailure};
    }
    return Message{numbered(failure), "Tollavar", MessageIcon::Error};
}

Message showFailure(Prompter& prompter, const FailureReport& report)
{
    Message message = failureMessage(report);
    prompter.ask(message);
    return message;
}

} // namespace tollavar
