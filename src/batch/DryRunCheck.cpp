#include "batch/DryRunCheck.h"

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "batch/DryRun.h"
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

namespace {

// Where the run is, so that each message and each move is told with its index file and line.
class CheckRecorder : public ConversionObserver
{
public:
    CheckRecorder(CheckReport& report, DryRunHost& host, const ConversionSettings& settings,
                  ConversionObserver* progress)
        : m_report(report), m_host(host), m_settings(settings), m_progress(progress)
    {
    }

    void beginFile(const std::string& path)
    {
        m_host.startFile();
        m_current = &m_report.files.emplace_back();
        m_current->path = path;
        m_skipsHeader = m_settings.skipHeaderLine;
    }
    void endFile(bool converted)
    {
        if (m_current) {
            m_current->converted = converted;
            m_current->lines = m_host.lines() + (m_skipsHeader ? 1 : 0);
        }
        m_current = nullptr;
    }

    void message(const Message& message, MessageAnswer answer)
    {
        CheckMessage met{message.caption, message.text, answerName(answer), isQuestion(message),
                         message.icon == MessageIcon::Error || message.kind == MessageKind::CommandFailure};
        if (!m_current) {
            m_report.commandMessages.push_back(met);
        } else {
            CheckKind kind = met.stop ? CheckKind::Stop : CheckKind::Question;
            if (message.kind == MessageKind::SourceMissing)
                kind = CheckKind::MissingImage;
            else if (message.kind == MessageKind::ImageExists)
                kind = CheckKind::TakenDestination;
            if (met.question || met.stop)
                (*m_current)[kind].add(CheckExample{.line = line(),
                                                    .caption = message.caption,
                                                    .text = message.text,
                                                    .answer = met.question ? met.answer : ""});
        }
        m_report.messages.push_back(std::move(met));
    }

    void taken(const std::string& destination)
    {
        // Without Allow Duplicates the question that follows is the finding. An image and its full-text file
        // are numbered together: each line is told once, by whichever place was taken.
        if (m_current && m_settings.allowDuplicates)
            (*m_current)[CheckKind::TakenDestination].add(
                CheckExample{.line = line(), .what = CheckExample::What::NumberedName, .path = destination});
    }
    void fullText(const std::string& from)
    {
        // Moves are made in batches, after the lines that asked for them: no line to name.
        if (m_current)
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

private:
    long line() const { return m_host.lines() + (m_skipsHeader && m_host.lines() > 0 ? 1 : 0); }

    CheckReport& m_report;
    DryRunHost& m_host;
    const ConversionSettings& m_settings;
    ConversionObserver* m_progress;
    IndexFileCheck* m_current = nullptr;
    bool m_skipsHeader = false;
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

CheckReport checkBatch(CommandContext& ctx)
{
    CheckReport report;
    // The command advances the number, names a configuration, sets its flags: on copies.
    ConversionSettings settings = ctx.settings;
    std::string configFile = ctx.configFile;
    RunFlags flags;
    DryRunHost host;
    DryRunPorts ports;
    CheckRecorder recorder(report, host, settings, ctx.progress);
    DryRunPrompter prompter([&](const Message& message, MessageAnswer answer) { recorder.message(message, answer); },
                            ctx.words);
    ports.recorded().onTaken([&](const std::string& destination) { recorder.taken(destination); });
    ports.recorded().onFullTextMove([&](const std::string& from, const std::string&) { recorder.fullText(from); });

    CommandContext dry{settings, configFile, flags, ctx.fileTools, prompter, host, ctx.dialog, ctx.words};
    dry.alwaysRemoveProcessed = ctx.alwaysRemoveProcessed;
    dry.configFileState = ctx.configFileState;
    dry.progress = &recorder;
    dry.runMode = "check";
    dry.ports = &ports;

    report.configFile = ctx.configFile;
    report.allowDuplicates = settings.allowDuplicates;
    if (const auto maxFiles = parseInt32(settings.maxDocuments))
        report.maxFiles = static_cast<long>(*maxFiles);
    std::string xmlFile;
    try {
        report.datagroupFolder = datagroupFolderPath(settings);
        const std::string folder = files::nativePath(report.datagroupFolder);
        xmlFile = folder + "/DATAGRP.XML";
        report.datagroupExists = files::folderExists(folder);
        report.xmlExists = files::fileExists(xmlFile);
    } catch (const Failure&) {
        // The command says so itself, as its first message.
    }

    const IndexFileConverter convert = [&](ConversionContext& conversion, const std::string& indexFile,
                                           const std::string& xml, const std::string& rootName,
                                           const std::string& documentName) {
        recorder.beginFile(indexFile);
        bool converted = false;
        try {
            converted = convertIndexFile(conversion, indexFile, xml, rootName, documentName);
        } catch (...) {
            recorder.endFile(false);
            throw;
        }
        recorder.endFile(converted);
        return converted;
    };
    const ConvertOutcome outcome = convertCommand(dry, convert);

    report.runSucceeds = outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
    report.notices = outcome.notices;
    report.readUnlocked = ports.readUnlocked();
    const DryRunFiles::Counts& counts = ports.recorded().counts();
    report.foldersCreated = counts.foldersCreated;
    report.filesDeleted = counts.filesDeleted;
    report.filesWritten = ports.recorded().written();
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
