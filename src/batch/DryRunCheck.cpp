#include "batch/DryRunCheck.h"

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "batch/DryRun.h"
#include "batch/UnattendedAnswer.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/NumberText.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"

namespace tollavar {

void CheckFindings::add(CheckExample example)
{
    ++count;
    if (examples.size() < kCheckExamples)
        examples.push_back(std::move(example));
}

long CheckReport::blockingCount() const
{
    long total = 0;
    for (const CheckMessage& message : messages)
        total += message.question || message.stop ? 1 : 0;
    return total == 0 && !runSucceeds ? 1 : total;
}

long CheckReport::pastStopCount() const
{
    long total = commandPastStop.count;
    for (const IndexFileCheck& file : files)
        for (const CheckFindings& found : file.pastStop)
            total += found.count;
    return total;
}

namespace {

// Where the command is: before or between its index files (even numbers) or inside one (odd), and the
// line. Both passes of a check take the same road up to the stop, so a place names the same moment.
struct CommandPlace
{
    size_t scope = 0;
    long line = 0;
    auto operator<=>(const CommandPlace&) const = default;
};

// A configuration that cannot be saved is told, and the command goes on: never where it stops.
bool goesOnAfter(const Message& message)
{
    return message.kind == MessageKind::ConfigSaveFailure;
}

// What follows a failure, not a problem of its own.
bool followsFailure(const Message& message)
{
    return message.kind == MessageKind::UndoOffer || message.kind == MessageKind::MovedFilesStay;
}

CheckKind kindOf(const Message& message, bool stop)
{
    if (message.kind == MessageKind::SourceMissing)
        return CheckKind::MissingImage;
    if (message.kind == MessageKind::ImageExists)
        return CheckKind::TakenDestination;
    return stop ? CheckKind::Stop : CheckKind::Question;
}

bool isWait(const Message& message)
{
    return message.kind == MessageKind::XmlInUseWait || message.kind == MessageKind::DatagroupBusyWait;
}

// Where the run is, so that each message and each move is told with its index file and line. The first
// pass records what the unattended run meets, and where it stops. A second pass, run only when it stops,
// takes the same road to that place and then goes on with the answers that let it continue: what it
// meets from there is what the check found past the stop.
class CheckRecorder : public ConversionObserver, public LineFailureSkipper
{
public:
    CheckRecorder(CheckReport& report, DryRunHost& host, const ConversionSettings& settings,
                  ConversionObserver* progress, const MessageWords& words, long waitSeconds,
                  std::optional<CommandPlace> resumeAt)
        : m_report(report), m_host(host), m_settings(settings), m_progress(resumeAt ? nullptr : progress),
          m_words(words), m_waitSeconds(waitSeconds), m_resumeAt(resumeAt)
    {
    }

    bool goesOn() const { return m_resumeAt.has_value(); }

    void beginFile(const std::string& path)
    {
        m_host.startFile();
        ++m_scope;
        m_stopCandidate.reset();
        m_quiet = false;
        const size_t index = m_fileIndex++;
        if (index >= m_report.files.size()) {
            IndexFileCheck& added = m_report.files.emplace_back();
            added.path = path;
            added.reached = !goesOn();
        }
        m_current = &m_report.files[index];
        m_skipsHeader = m_settings.skipHeaderLine;
    }
    void endFile(bool converted, bool canceled)
    {
        if (m_current && (!goesOn() || place() >= CommandPlace{m_resumeAt->scope, 0})) {
            if (!goesOn())
                m_current->converted = converted;
            m_current->lines = m_host.lines() + (m_skipsHeader ? 1 : 0);
        }
        if (!goesOn() && !converted && canceled)
            noteStop();
        m_current = nullptr;
        ++m_scope;
        m_stopCandidate.reset();
    }

    MessageAnswer message(const Message& message, const Prompt* prompt)
    {
        const bool question = isQuestion(message);
        const bool stop = message.icon == MessageIcon::Error || message.kind == MessageKind::CommandFailure;
        if (goesOn())
            return messagePastStop(message, question, stop);
        const MessageAnswer answer = unattendedAnswer(message);
        CheckMessage met{message.caption, message.text, answerName(answer), question, stop};
        met.kind = message.kind;
        if (isWait(message))
            met.waitSeconds = m_waitSeconds;
        if (prompt && message.kind == MessageKind::InterruptedRun)
            met.recovery = std::make_shared<const RecoveryFacts>(prompt->recovery);
        if ((question || stop) && !m_stopCandidate && !goesOnAfter(message))
            m_stopCandidate =
                CheckStop{m_current ? m_current->path : "", m_current ? line() : 0, message.caption, message.text};
        if (!m_current) {
            m_report.commandMessages.push_back(met);
            // The command ends on its failure.
            if (message.kind == MessageKind::CommandFailure)
                noteStop();
        } else if (question || stop) {
            (*m_current)[kindOf(message, stop)].add(CheckExample{.line = line(),
                                                                 .caption = message.caption,
                                                                 .text = message.text,
                                                                 .answer = question ? met.answer : "",
                                                                 .waitSeconds = met.waitSeconds,
                                                                 .kind = message.kind});
        }
        m_report.messages.push_back(std::move(met));
        return answer;
    }

    // The disk refused a change: raised as the run meets it, save the one the run stops on.
    bool raisesRefusal()
    {
        switch (role()) {
        case Role::BeforeStop:
            return true;
        case Role::TheStop:
            return false;
        case Role::PastStop:
            // Met as the run would meet it once the stop is mended: a line's is told by skipsLine.
            return true;
        }
        return true;
    }

    bool skipsLine(const Failure& failure, RunStage stage) override
    {
        switch (role()) {
        case Role::BeforeStop:
            return false;
        case Role::TheStop:
            return true;
        case Role::PastStop:
            recordPastStop(m_words.failure(FailureReport{FailedWork::ConversionRun, failure, stage}), false, true);
            return true;
        }
        return false;
    }

    void taken(const std::string& destination)
    {
        // Without Allow Duplicates the question that follows is the finding. An image and its full-text file
        // are numbered together: each line is told once, by whichever place was taken.
        if (m_current && !goesOn() && m_settings.allowDuplicates)
            (*m_current)[CheckKind::TakenDestination].add(
                CheckExample{.line = line(), .what = CheckExample::What::NumberedName, .path = destination});
    }
    void fullText(const std::string& from)
    {
        // Moves are made in batches, after the lines that asked for them: no line to name.
        if (m_current && !goesOn())
            (*m_current)[CheckKind::FullText].add(
                CheckExample{.line = 0, .what = CheckExample::What::FullTextFile, .path = from});
    }

    bool wantsLineCount() const override { return m_progress && m_progress->wantsLineCount(); }
    void indexFileStarted(std::string_view indexFile, long totalLines) override
    {
        if (m_progress)
            m_progress->indexFileStarted(indexFile, totalLines);
    }
    void linesDone(long lines, long documents) override
    {
        if (m_progress)
            m_progress->linesDone(lines, documents);
    }
    void indexFileEnded(const IndexFileFacts& facts, bool converted) override
    {
        if (goesOn()) {
            // The whole file's lines and documents, as if the run had gone on: DOCIDs only for what it adds.
            if (m_current && place() >= CommandPlace{m_resumeAt->scope, 0}) {
                m_current->encoding = facts.encoding.empty() ? m_current->encoding : facts.encoding;
                m_current->documents = facts.documentsAdded;
            }
            return;
        }
        // As the run counts them: recovery's moves back are not the conversion's.
        m_report.imagesMoved += facts.imagesMoved;
        m_report.fullTextsMoved += facts.fullTextsMoved;
        if (m_current) {
            m_current->encoding = facts.encoding;
            m_current->documents = facts.documentsAdded;
            m_current->firstDocId = facts.firstDocId;
            m_current->lastDocId = facts.lastDocId;
            if (facts.lastDocId > 0) {
                if (!m_report.nextDocId)
                    m_report.nextDocId = facts.firstDocId;
                m_report.lastDocIdAfter = facts.lastDocId;
            }
        }
        if (m_progress)
            m_progress->indexFileEnded(facts, converted);
    }

    // Where the first pass stopped, for the second to go on from.
    std::optional<CommandPlace> stopPlace() const { return m_stopPlace; }

private:
    enum class Role
    {
        BeforeStop,
        TheStop,
        PastStop,
    };

    long line() const { return m_host.lines() + (m_skipsHeader && m_host.lines() > 0 ? 1 : 0); }
    CommandPlace place() const { return CommandPlace{m_scope, m_current ? line() : 0}; }

    Role role()
    {
        if (!goesOn())
            return Role::BeforeStop;
        if (m_pastStop)
            return Role::PastStop;
        if (place() < *m_resumeAt)
            return Role::BeforeStop;
        m_pastStop = true;
        return Role::TheStop;
    }

    void noteStop()
    {
        if (m_report.stop || !m_stopCandidate)
            return;
        m_report.stop = *m_stopCandidate;
        m_stopPlace = CommandPlace{m_scope, m_stopCandidate->line};
    }

    MessageAnswer messagePastStop(const Message& message, bool question, bool stop)
    {
        if (followsFailure(message) || (!question && !stop) || (goesOnAfter(message) && !m_pastStop))
            return unattendedAnswer(message);
        switch (role()) {
        case Role::BeforeStop:
            return unattendedAnswer(message);
        case Role::TheStop:
            // A stop that no answer gets past leaves only its aftermath until the next index file.
            m_quiet = stop || goOnAnswer(message) == unattendedAnswer(message);
            return goOnAnswer(message);
        case Role::PastStop:
            if (!m_quiet)
                recordPastStop(message, question, stop);
            // What follows a failure inside a file is its aftermath, not a problem of its own.
            m_quiet = m_quiet || (stop && m_current);
            return goOnAnswer(message);
        }
        return unattendedAnswer(message);
    }

    void recordPastStop(const Message& message, bool question, bool stop)
    {
        CheckExample example{.line = m_current ? line() : 0,
                             .caption = message.caption,
                             .text = message.text,
                             .answer = question ? answerName(goOnAnswer(message)) : "",
                             .waitSeconds = isWait(message) ? m_waitSeconds : 0,
                             .kind = message.kind};
        if (m_current)
            m_current->past(kindOf(message, stop && !question)).add(std::move(example));
        else
            m_report.commandPastStop.add(std::move(example));
    }

    CheckReport& m_report;
    DryRunHost& m_host;
    const ConversionSettings& m_settings;
    ConversionObserver* m_progress;
    const MessageWords& m_words;
    long m_waitSeconds;
    std::optional<CommandPlace> m_resumeAt;
    IndexFileCheck* m_current = nullptr;
    size_t m_fileIndex = 0;
    size_t m_scope = 0;
    bool m_skipsHeader = false;
    std::optional<CheckStop> m_stopCandidate;
    std::optional<CommandPlace> m_stopPlace;
    bool m_pastStop = false;
    bool m_quiet = false;
};

// The DOCID the datagroup ends at before the command, for a command that would add nothing to it.
std::optional<long> lastDocIdIn(const std::string& xmlFile)
{
    try {
        const std::string bytes = files::readAll(xmlFile);
        if (bytes.empty())
            return std::nullopt;
        DatagroupDocument document;
        document.parseExisting(bytes);
        return document.locateDocuments();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

} // namespace

namespace {

// One dry run of the Convert command into `report`; with `resumeAt`, the pass that goes on past the stop.
std::optional<CommandPlace> runDry(CommandContext& ctx, CheckReport& report, long waitSeconds,
                                   std::optional<CommandPlace> resumeAt, ConvertOutcome& outcome,
                                   DryRunFiles::Counts& counts, std::vector<std::string>& written, bool& readUnlocked)
{
    // The command advances the number, names a configuration, sets its flags: on copies.
    ConversionSettings settings = ctx.settings;
    std::string configFile = ctx.configFile;
    RunFlags flags;
    DryRunHost host;
    DryRunPorts ports;
    CheckRecorder recorder(report, host, settings, ctx.progress, ctx.words, waitSeconds, resumeAt);
    DryRunPrompter prompter(
        [&](const Message& message, const Prompt* prompt) { return recorder.message(message, prompt); }, ctx.words);
    ports.recorded().onTaken([&](const std::string& destination) { recorder.taken(destination); });
    ports.recorded().onFullTextMove([&](const std::string& from, const std::string&) { recorder.fullText(from); });
    ports.recorded().onRefusal([&](const Failure&) { return recorder.raisesRefusal(); });

    CommandContext dry{settings, configFile, flags, ctx.fileTools, prompter, host, ctx.dialog, ctx.words};
    dry.alwaysRemoveProcessed = ctx.alwaysRemoveProcessed;
    dry.configFileState = ctx.configFileState;
    dry.progress = &recorder;
    dry.runMode = "check";
    dry.ports = &ports;

    const IndexFileConverter convert = [&](ConversionContext& conversion, const std::string& indexFile,
                                           const std::string& xml, const std::string& rootName,
                                           const std::string& documentName) {
        recorder.beginFile(indexFile);
        if (recorder.goesOn())
            conversion.lineFailures = &recorder;
        bool converted = false;
        try {
            converted = convertIndexFile(conversion, indexFile, xml, rootName, documentName);
        } catch (...) {
            recorder.endFile(false, true);
            throw;
        }
        recorder.endFile(converted, conversion.flags.batchCanceled);
        // Past the stop the check goes on to the next index file, where the run would have ended.
        if (recorder.goesOn())
            conversion.flags.batchCanceled = false;
        return converted;
    };
    outcome = convertCommand(dry, convert);
    counts = ports.recorded().counts();
    written = ports.recorded().written();
    readUnlocked = ports.readUnlocked();
    return recorder.stopPlace();
}

} // namespace

CheckReport checkBatch(CommandContext& ctx, long waitSeconds)
{
    CheckReport report;
    report.configFile = ctx.configFile;
    report.allowDuplicates = ctx.settings.allowDuplicates;
    if (const auto maxFiles = parseInt32(ctx.settings.maxDocuments))
        report.maxFiles = static_cast<long>(*maxFiles);
    std::string xmlFile;
    try {
        report.datagroupFolder = datagroupFolderPath(ctx.settings);
        const std::string folder = files::nativePath(report.datagroupFolder);
        xmlFile = folder + "/DATAGRP.XML";
        report.datagroupExists = files::folderExists(folder);
        report.xmlExists = files::fileExists(xmlFile);
    } catch (const Failure&) {
        // The command says so itself, as its first message.
    }

    ConvertOutcome outcome;
    DryRunFiles::Counts counts;
    const std::optional<CommandPlace> stop =
        runDry(ctx, report, waitSeconds, std::nullopt, outcome, counts, report.filesWritten, report.readUnlocked);
    report.runSucceeds = outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
    report.notices = outcome.notices;
    report.foldersCreated = counts.foldersCreated;
    report.filesDeleted = counts.filesDeleted;
    if (stop && !outcome.refused) {
        // The changes and messages above are the run's; this pass adds only what lies past its stop.
        ConvertOutcome goingOn;
        DryRunFiles::Counts unusedCounts;
        std::vector<std::string> unusedWritten;
        bool unusedUnlocked = false;
        runDry(ctx, report, waitSeconds, stop, goingOn, unusedCounts, unusedWritten, unusedUnlocked);
    }
    if (!report.nextDocId && report.xmlExists) {
        if (const auto last = lastDocIdIn(xmlFile)) {
            report.nextDocId = *last + 1;
            report.lastDocIdAfter = *last;
        }
    } else if (!report.nextDocId) {
        report.nextDocId = 1;
    }
    report.wouldPassMaximum = report.maxFiles && report.lastDocIdAfter > *report.maxFiles;
    return report;
}

} // namespace tollavar
