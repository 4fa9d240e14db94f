#include "ui/MessageTable.h"

#include <sstream>
#include <string>

namespace tollavar {

namespace {

std::string numbered(const Failure& failure)
{
    return std::to_string(failure.number()) + " - " + failure.description();
}

Message notice(std::string text, std::string caption, MessageIcon icon, MessageKind kind)
{
    return Message{std::move(text), std::move(caption), icon, MessageButtons::Ok, kind};
}

std::string otherCaseLines(const std::vector<std::string>& names)
{
    if (names.empty())
        return {};
    std::string text = "\rFound only in other letter case:";
    for (const std::string& name : names)
        text += "\r" + name;
    return text;
}

std::string joined(const std::vector<std::string>& items, const std::string& separator)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string finishedText(const Prompt& prompt)
{
    constexpr size_t kNamesShown = 5;
    std::string text = "Index files converted: " + std::to_string(prompt.paths.size());
    for (size_t i = 0; i < prompt.paths.size() && i < kNamesShown; ++i)
        text += "\r    " + prompt.paths[i];
    if (prompt.paths.size() > kNamesShown)
        text += "\r    and " + std::to_string(prompt.paths.size() - kNamesShown) + " more";
    text += "\rDocuments added: " + std::to_string(prompt.count);
    text += "\rDatagroup: " + prompt.path;
    text += prompt.full ? "\rThe datagroup is full: the next conversion starts the next one."
                        : "\rThe datagroup is not full.";
    return text;
}

std::string couldNotOpen(const std::string& what, const Prompt& prompt)
{
    return "Tollavar could not open " + what + ":\r" + prompt.path + "\r\r" + prompt.reason +
           "\r\rCheck that a program for it is installed, or open it yourself.";
}

std::string refusalText(const RecoveryFacts& facts)
{
    using Refusal = RecoveryFacts::Refusal;
    switch (facts.refusal) {
    case Refusal::OtherDatagroup:
        return "it was written for the datagroup " + facts.named + ", not for " + facts.expected;
    case Refusal::OtherXmlFile:
        return "it names " + facts.named + " instead of " + facts.expected;
    case Refusal::OtherImageFolder:
        return "its image folder " + facts.named + " is not the configuration's";
    case Refusal::OwnSetAsideName:
        return "it sets aside " + facts.named + " under a name of its own";
    case Refusal::OtherSaveTarget:
        return "it names " + facts.named + " as the file DATAGRP.XML is saved to";
    case Refusal::IndexFileChanged:
        return "its index file " + facts.named + " is missing or has changed since";
    case Refusal::IndexFileNotSelected:
        return "its index file " + facts.named + " is not one the configuration converts";
    case Refusal::OutsideFolder:
        return facts.named + " lies outside " + facts.expected;
    case Refusal::XmlChangedElsewhere:
        return "DATAGRP.XML was changed by someone else since";
    case Refusal::XmlNeitherBeforeNorSaved:
        return "DATAGRP.XML is neither as it was nor as the run saved it";
    }
    return {};
}

std::string recoveryText(const RecoveryFacts& facts)
{
    using Outcome = RecoveryFacts::Outcome;
    std::string text;
    switch (facts.outcome) {
    case Outcome::Damaged:
        text = facts.reason + "; nothing was changed.";
        break;
    case Outcome::NotActedOn:
        text = "The recovery journal " + facts.journalPath +
               " of an earlier conversion was not acted on: " + refusalText(facts) + ".  Nothing was changed.";
        break;
    case Outcome::FailedRunPutBack:
        text = "The failed conversion of " + facts.indexFile + " (" + facts.failedOn + ") left " +
               std::to_string(facts.filesPutBack) + " images in the datagroup; they were put back.";
        break;
    case Outcome::PutBack:
        text = "The conversion of " + facts.indexFile +
               " into this datagroup was interrupted before DATAGRP.XML was saved.  " +
               std::to_string(facts.filesPutBack) +
               " moved file(s) were put back where they came from, and DATAGRP.XML is as it was before";
        text += facts.saveUndone ? " (its save, cut short, was undone)" : "";
        text += "; the index file can be converted again.";
        break;
    case Outcome::FinishedAfterSave:
    case Outcome::FailedAfterSave:
        text = facts.outcome == Outcome::FailedAfterSave
                   ? "The conversion of " + facts.indexFile + " failed (" + facts.failedOn +
                         ") after DATAGRP.XML was saved with its documents.  Its remaining steps were done:"
                   : "The conversion of " + facts.indexFile +
                         " into this datagroup was interrupted after DATAGRP.XML was saved with its documents.  Its "
                         "remaining steps were done:";
        text += facts.configSaved ? " the configuration was saved," : "";
        switch (facts.indexFileFate) {
        case RecoveryFacts::IndexFileFate::Removed:
            text += " the index file was removed,";
            break;
        case RecoveryFacts::IndexFileFate::KeptChanged:
            text += " the index file was kept because it has changed since,";
            break;
        case RecoveryFacts::IndexFileFate::Untouched:
            break;
        }
        text += " and the files it replaced were deleted.";
        break;
    case Outcome::FinishedCommand:
        text = "The conversion command that converted " + facts.indexFile +
               " last was interrupted after its last file.  Its remaining steps were done: the datagroup was "
               "marked for import";
        text += facts.advancedTo.empty() ? "" : " and its number advanced to " + facts.advancedTo;
        text += ".";
        break;
    }
    if (!facts.notPutBack.empty())
        text += "  These files could not be put back: " + joined(facts.notPutBack, ", ") + ".";
    if (!facts.keptAs.empty())
        text += "  The journal was kept as " + facts.keptAs + ".";
    return text;
}

class Table : public MessageWords
{
public:
    Message prompt(const Prompt& prompt) const override { return promptMessage(prompt); }
    Message failure(const FailureReport& report) const override { return failureMessage(report); }
    std::string notice(const Notice& notice) const override { return noticeText(notice); }
};

std::string pollingEvery(const Notice& notice)
{
    return notice.path + ": polling every " + std::to_string(notice.count) + " s";
}

// As a stream writes a double by default: "2", "0.5", "1.25".
std::string secondsOf(long milliseconds)
{
    std::ostringstream text;
    text << milliseconds / 1000.0;
    return text.str();
}

} // namespace

Message promptMessage(const Prompt& prompt)
{
    const MessageKind kind = prompt.kind;
    switch (kind) {
    case MessageKind::UndoOffer:
        return Message{"An error has occured during the conversion to XML.  Do you want to undo changes to the "
                       "DATAGRP.XML file?",
                       "Undo Changes?", MessageIcon::None, MessageButtons::YesNo, kind};
    case MessageKind::MovedFilesStay:
        return notice(std::to_string(prompt.count) +
                          " files have been moved and will not appear in DATAGRP.XML file.  These files should be "
                          "moved back before reprocessing." +
                          (prompt.paths.empty() ? std::string()
                                                : "\rThey could not be put back: " + joined(prompt.paths, ", ") +
                                                      ".  The next run tries again."),
                      "Canceled Batch", MessageIcon::None, kind);
    case MessageKind::FieldListsDiffer:
        return notice("Different number of field names and types.  Conversion canceled.", "Error converting file",
                      MessageIcon::Error, kind);
    case MessageKind::ImagePathMissing:
        return notice("ImagePath field is missing!  Cannot process file!", "Missing Field", MessageIcon::Warning, kind);
    case MessageKind::XmlInUseWait:
        return notice("XML file is in use.  Click OK to try again.", kProgramTitle, MessageIcon::Question, kind);
    case MessageKind::CorruptXml:
        return Message{"Datagrp.xml file is corrupt!  Do you want to delete?", "Datagrp.xml Cleanup",
                       MessageIcon::Question, MessageButtons::YesNo, kind};
    case MessageKind::SourceMissing:
        return Message{"Source File: " + prompt.path + otherCaseLines(prompt.paths) +
                           "\rIndex File: " + prompt.indexFile + "\rSkip file and continue processing?",
                       "Source File is Missing", MessageIcon::Warning, MessageButtons::YesNo, kind};
    case MessageKind::ImageExists:
        return Message{"Image file already exists! " + prompt.path +
                           ".  Do you want to replace this with the new file?",
                       "File Exists", MessageIcon::Question, MessageButtons::YesNoCancel, kind};
    case MessageKind::DatagroupBusyWait:
        return Message{"Another conversion is writing to the datagroup " + prompt.path +
                           ".  Wait for it to finish?\r(Yes waits until it is free; No gives up and converts nothing.)",
                       "Datagroup in Use", MessageIcon::Question, MessageButtons::YesNo, kind};
    case MessageKind::DatagroupBusyWaiting:
        return notice("Waiting for the conversion in " + prompt.path + "\u2026", "Datagroup in Use", MessageIcon::None,
                      kind);
    case MessageKind::DatagroupUnlockable:
        return notice("The datagroup folder " + prompt.path +
                          " cannot be locked (its file system does not support locks).  Converting without a lock: "
                          "do not run two conversions into it at the same time.",
                      kProgramTitle, MessageIcon::Warning, kind);
    case MessageKind::InterruptedRun:
        return notice(recoveryText(prompt.recovery), "Interrupted Conversion",
                      prompt.recovery.keptAs.empty() ? MessageIcon::Information : MessageIcon::Warning, kind);
    case MessageKind::ConfigMissing:
        return notice("Config file does not exist!\n" + prompt.path, kProgramTitle, MessageIcon::None, kind);
    case MessageKind::DatagroupNumberNotNumeric:
        return notice("Datagroup Number must be a number!", kProgramTitle, MessageIcon::None, kind);
    case MessageKind::ConversionStillRunning:
        return notice("A conversion is running. Close Tollavar when it has finished.", kProgramTitle,
                      MessageIcon::Warning, kind);
    case MessageKind::ManualNotFound:
        return notice("The user manual TLManual.pdf was not found. Tollavar looked for it in:\r" +
                          joined(prompt.paths, "\r"),
                      kProgramTitle, MessageIcon::Warning, kind);
    case MessageKind::ManualNotOpened:
        return notice(couldNotOpen("the user manual", prompt), kProgramTitle, MessageIcon::Warning, kind);
    case MessageKind::WebSiteNotOpened:
        return notice(couldNotOpen("the web site", prompt), kProgramTitle, MessageIcon::Warning, kind);
    case MessageKind::ConvertFinished:
        return notice(finishedText(prompt), "Conversion Finished", MessageIcon::Information, kind);
    case MessageKind::Plain:
    case MessageKind::ConversionFailure:
    case MessageKind::CommandFailure:
    case MessageKind::ConfigOpenFailure:
    case MessageKind::ConfigSaveFailure:
    case MessageKind::StartupFailure:
        break; // failures come as a FailureReport
    }
    return notice("", kProgramTitle, MessageIcon::None, kind);
}

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
    return Message{numbered(failure), kProgramTitle, MessageIcon::Error};
}

std::string noticeText(const Notice& notice)
{
    const std::string& path = notice.path;
    const std::string retry = std::to_string(notice.count) + " s";
    switch (notice.kind) {
    case NoticeKind::NoIndexFileMatched:
        return "No index file matched: " + notice.text;
    case NoticeKind::StoppedBetweenFiles:
        return "Stopped by " + notice.reason + " after converting " + path + "; " + std::to_string(notice.count) +
               " selected index file(s) left for the next run";
    case NoticeKind::StoppedBeforeConverting:
        return "Stopped by " + notice.reason + " before converting anything";
    case NoticeKind::WritersUnknown:
        return "Which programs are writing index files cannot be asked here (no permission); an index file is "
               "converted once its size and time stay still for a second";
    case NoticeKind::IndexFileInUse:
        return "Index file in use, left for the next run: " + path;
    case NoticeKind::ConvertedByInterruptedCommand:
        return "Converted already by the interrupted command: " + path;
    case NoticeKind::IndexFileChangedKept:
        return "Index file changed while it was converted, not removed: " + path;
    case NoticeKind::WaitingForDatagroup:
        return "Waiting for another conversion into " + path;

    case NoticeKind::ItemNamesNoFolder:
        return "the item \"" + notice.text + "\" names no folder to watch";
    case NoticeKind::ItemFolderMissing:
        return "the folder " + path + " of the item \"" + notice.text + "\" does not exist";
    case NoticeKind::NothingToWatch:
        return "no item of the configuration has a folder that can be watched";
    case NoticeKind::WatchingStarted:
        return "watching for index files; a file is converted once it is closed, held open by no one and unchanged "
               "for " +
               secondsOf(notice.count) + " s";
    case NoticeKind::RemovingEveryConverted:
        return "Remove Processed Files is on in this mode: every converted index file is removed, so that none is "
               "converted twice";
    case NoticeKind::ConfigurationReadAgain:
        return "SIGHUP: the configuration " + path + " was read again";
    case NoticeKind::CommandStoppedEarly:
        return "the Convert command stopped before its end (see above); watching goes on";
    case NoticeKind::DatagroupFull:
        return "the datagroup is full; the next files go into datagroup number " + notice.text;
    case NoticeKind::WaitsForDatagroup:
        return path + " waits for the datagroup to free";
    case NoticeKind::TriedAgain:
        return path + " is tried again";
    case NoticeKind::NotConverted:
        return path + " was not converted (see above); it is tried again when it changes or in " + retry;
    case NoticeKind::BeingWrittenAgain:
        return path + " is being written again; left for later";
    case NoticeKind::ConversionFailed:
        return "failed " + path + "; it stays where it is and is tried again when it changes or in " + retry +
               " (see above)";
    case NoticeKind::Converted:
        return "converted " + path + " into " + notice.folder;
    case NoticeKind::ConvertedButChanged:
        return "converted " + path + " into " + notice.folder +
               ", but it changed meanwhile: kept, to be converted "
               "again";
    case NoticeKind::ConvertedNotRemoved:
        return "converted " + path + " but could not remove it: " + notice.reason +
               "; it is not converted again unless it changes";
    case NoticeKind::BurstConverted:
    case NoticeKind::BurstFailed:
        return std::string(notice.kind == NoticeKind::BurstConverted ? "converted " : "failed ") +
               joined(notice.paths, ", ") + ": " + std::to_string(notice.count) + " documents into " + notice.folder;
    case NoticeKind::BurstWithoutFiles:
        return notice.text + (notice.folder.empty() ? "" : " in " + notice.folder);

    case NoticeKind::WatchedByInotify:
        return path + ": inotify";
    case NoticeKind::PolledOnRequest:
        return pollingEvery(notice) + " (--poll)";
    case NoticeKind::PolledNetworkMount:
        return pollingEvery(notice) + ": " + notice.text + " mount, where the kernel sees no writes made elsewhere";
    case NoticeKind::PolledWithoutInotify:
        return pollingEvery(notice) + ": no inotify";
    case NoticeKind::PolledWithoutWatch:
        return pollingEvery(notice) + ": no inotify watch";
    case NoticeKind::PolledFolderGone:
        return path + ": polling: the watched folder went away";

    case NoticeKind::InotifyWatchLimit:
        return "The inotify watch limit is reached (see fs.inotify.max_user_watches): polling " + path + " instead";
    case NoticeKind::InotifyInstanceLimit:
        return "The inotify instance limit is reached (see fs.inotify.max_user_instances): polling every folder "
               "instead";
    case NoticeKind::InotifyUnavailable:
        return "inotify is not available (" + notice.reason + "): polling " + path + " instead";
    case NoticeKind::EventQueueOverflowed:
        return "The inotify event queue overflowed (see fs.inotify.max_queued_events): looking at every watched "
               "folder again";
    case NoticeKind::WatchedFolderGone:
        return "The folder " + path + " was removed or moved: polling its path";
    case NoticeKind::WaitingForFilesFailed:
        return "Waiting for files failed: " + notice.reason;

    case NoticeKind::RunHistoryUnwritable:
        return "warning: the run history cannot be written: " +
               (path.empty() ? std::string("neither XDG_STATE_HOME nor HOME is set (name a file with --log=FILE)")
                             : notice.reason);
    case NoticeKind::NotifySocketDropped:
        return "warning: systemd's notify socket " + path + " cannot take a message now (" + notice.reason +
               "): messages to it are dropped while it cannot";

    case NoticeKind::StillFailing:
        return "still failing: " + path + ": " + notice.reason + " (since " + notice.text + ", " +
               std::to_string(notice.count) + " tries)";
    case NoticeKind::ConfigFileKeptInMemory:
        return "the configuration file " + path +
               " cannot be read; its settings are kept in memory and it is not written until it reads again";
    case NoticeKind::DatagroupNumberKeptInMemory:
        return "note: the datagroup number is now " + notice.text + "; the configuration file " + path +
               " does not hold it yet";

    case NoticeKind::DatagroupAtCapAdvanced:
        return "The datagroup " + path +
               " holds 32,767 documents, the most a datagroup can hold: it was marked full and the datagroup number "
               "advanced to " +
               notice.text;
    case NoticeKind::PreviousDatagroupLeft:
        return "The datagroup below this one, " + path + ", was left as it is: " + notice.reason;
    case NoticeKind::LocksLocalOnly:
        return "Locks on " + path +
               " keep out only this machine's runs: a conversion on another machine can write the same datagroup";
    case NoticeKind::MetricsNotWritten:
        return "The metrics file " + path + " cannot be written: " + notice.reason;
    case NoticeKind::WaitingForNamedFiles:
        return "waiting for " + std::to_string(notice.count) + " images named by " + path + " (first: " + notice.text +
               ")";
    case NoticeKind::GroupWaitOver:
        return "nothing new arrived for " + path + ": converting it with " + std::to_string(notice.count) +
               " images still missing or unsettled";
    case NoticeKind::RewrittenConvertedWhole:
        return path + " was rewritten since part of it was converted: converted whole, as a new file";
    case NoticeKind::ConvertingAppendedLines:
        return "converting the lines appended to " + path + " after its first " + std::to_string(notice.count) +
               " bytes, which were converted before";
    }
    return {};
}

const MessageWords& messageTable()
{
    static const Table table;
    return table;
}

std::string foreseenRecoveryText(const RecoveryFacts& facts)
{
    using Outcome = RecoveryFacts::Outcome;
    std::string text;
    switch (facts.outcome) {
    case Outcome::Damaged:
        text = facts.reason + "; nothing would be changed.";
        break;
    case Outcome::NotActedOn:
        text = "The recovery journal " + facts.journalPath +
               " of an earlier conversion would not be acted on: " + refusalText(facts) +
               ".  Nothing would be changed.";
        break;
    case Outcome::FailedRunPutBack:
        text = "The failed conversion of " + facts.indexFile + " (" + facts.failedOn + ") left " +
               std::to_string(facts.filesPutBack) + " images in the datagroup; the run would put back " +
               std::to_string(facts.filesPutBack) + " images.";
        break;
    case Outcome::PutBack:
        text = "The conversion of " + facts.indexFile +
               " into this datagroup was interrupted before DATAGRP.XML was saved.  The run would put back " +
               std::to_string(facts.filesPutBack) +
               " moved file(s) where they came from and leave DATAGRP.XML as it was before";
        text += facts.saveUndone ? " (undoing its save, cut short)" : "";
        text += "; the index file could then be converted again.";
        break;
    case Outcome::FinishedAfterSave:
    case Outcome::FailedAfterSave:
        text = facts.outcome == Outcome::FailedAfterSave
                   ? "The conversion of " + facts.indexFile + " failed (" + facts.failedOn +
                         ") after DATAGRP.XML was saved with its documents.  The run would do its remaining steps:"
                   : "The conversion of " + facts.indexFile +
                         " into this datagroup was interrupted after DATAGRP.XML was saved with its documents.  The "
                         "run would do its remaining steps:";
        text += facts.configSaved ? " save the configuration," : "";
        switch (facts.indexFileFate) {
        case RecoveryFacts::IndexFileFate::Removed:
            text += " remove the index file,";
            break;
        case RecoveryFacts::IndexFileFate::KeptChanged:
            text += " keep the index file because it has changed since,";
            break;
        case RecoveryFacts::IndexFileFate::Untouched:
            break;
        }
        text += " and delete the files it replaced.";
        break;
    case Outcome::FinishedCommand:
        text = "The conversion command that converted " + facts.indexFile +
               " last was interrupted after its last file.  The run would do its remaining steps: mark the "
               "datagroup for import";
        text += facts.advancedTo.empty() ? "" : " and advance its number to " + facts.advancedTo;
        text += ".";
        break;
    }
    if (!facts.notPutBack.empty())
        text += "  These files would not be put back: " + joined(facts.notPutBack, ", ") + ".";
    if (!facts.keptAs.empty())
        text += "  The run would set aside the journal as " + facts.keptAs + ".";
    return text;
}

} // namespace tollavar
