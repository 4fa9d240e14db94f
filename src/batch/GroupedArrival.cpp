#include "batch/GroupedArrival.h"

#include "batch/CommandContext.h"
#include "batch/CommandPorts.h"
#include "batch/ConvertCommand.h"
#include "batch/DryRun.h"
#include "batch/DryRunFiles.h"
#include "batch/GrownFiles.h"
#include "batch/UnattendedAnswer.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/OpenForWriting.h"

#include <algorithm>
#include <ctime>

namespace tollavar {

namespace {

using std::chrono::milliseconds;

// The record of a dry run that also notes, per index file, where each image would come from.
class SourceNotingFiles : public DryRunFiles
{
public:
    files::MoveOutcome move(const files::FileAt& from, const files::FileAt& to, files::CopySteps* steps) override
    {
        const files::MoveOutcome outcome = DryRunFiles::move(from, to, steps);
        if (outcome == files::MoveOutcome::Moved && current)
            current->push_back(files::nativePath(from.shown));
        return outcome;
    }
    std::vector<std::string>* current = nullptr;
};

// Reads the datagroup unlocked: DATAGRP.XML is only ever replaced whole, and a look must not wait for a
// conversion under way.
class ArrivalPorts : public CommandPorts
{
public:
    ArrivalPorts() : m_documents(m_files) {}
    files::FileEffects& files() override { return m_files; }
    DocumentStore* documents() override { return &m_documents; }
    MoveRecorder* moves() override { return &m_moves; }
    void takeLock(CommandContext&, files::FolderLock&, const std::string&) override {}
    bool keepsRecords() const override { return false; }
    SourceNotingFiles& recorded() { return m_files; }

private:
    SourceNotingFiles m_files;
    DryRunDocuments m_documents;
    DryRunMoves m_moves;
};

// Skips every missing image, so that the look finds them all, and notes it; anything else gets the
// answer an unattended run would.
class MissingNotingPrompter : public Prompter
{
public:
    explicit MissingNotingPrompter(const MessageWords& words) : m_words(words) {}
    MessageAnswer ask(const Prompt& prompt) override
    {
        if (prompt.kind == MessageKind::SourceMissing) {
            if (current)
                current->push_back(files::nativePath(prompt.path));
            return MessageAnswer::Yes;
        }
        return unattendedAnswer(m_words.prompt(prompt));
    }
    Message reportFailure(const FailureReport& report) override { return m_words.failure(report); }
    bool waitUntil(const Prompt&, const std::function<bool()>&) override { return false; }

    std::vector<std::string>* current = nullptr;

private:
    const MessageWords& m_words;
};

bool settled(const std::string& path, milliseconds settle)
{
    const std::optional<struct stat> st = files::statusOf(path);
    if (!st)
        return false;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long age = (now.tv_sec - st->st_mtim.tv_sec) * 1000LL + (now.tv_nsec - st->st_mtim.tv_nsec) / 1000000;
    return age >= settle.count() && files::openForWritingElsewhere(path) != files::WriterCheck::Writing;
}

} // namespace

std::map<std::string, std::vector<std::string>> namedFilesNotReady(CommandContext& ctx,
                                                                   const std::vector<std::string>& indexFiles,
                                                                   milliseconds settle, GrownFiles* grown)
{
    // The command works on copies: it reads the configuration again, and would advance the number.
    ConversionSettings settings = ctx.settings;
    std::string configFile = ctx.configFile;
    RunFlags flags;
    DryRunHost host;
    ArrivalPorts ports;
    MissingNotingPrompter prompter(ctx.words);
    CommandContext dry{settings, configFile, flags, ctx.fileTools, prompter, host, ctx.dialog, ctx.words};
    dry.alwaysRemoveProcessed = ctx.alwaysRemoveProcessed;
    dry.configFileState = ctx.configFileState;
    dry.runMode = "check";
    dry.ports = &ports;
    dry.localLocks = ctx.localLocks;

    const std::set<std::string> wanted(indexFiles.begin(), indexFiles.end());
    std::map<std::string, std::vector<std::string>> missing;
    std::map<std::string, std::vector<std::string>> sources;
    const IndexFileConverter look = [&](ConversionContext& conversion, const std::string& file,
                                        const std::string& xmlFile, const std::string& rootName,
                                        const std::string& documentName) {
        if (!wanted.count(file))
            return false;
        const std::optional<std::string> appended = grown ? grown->appendedPartToLook(file) : std::nullopt;
        if (appended && appended->empty())
            return true; // converted whole already
        prompter.current = &missing[file];
        ports.recorded().current = &sources[file];
        const bool converted = appended ? convertAppendedPart(conversion, *appended, xmlFile, rootName, documentName)
                                        : convertIndexFile(conversion, file, xmlFile, rootName, documentName);
        prompter.current = nullptr;
        ports.recorded().current = nullptr;
        return converted;
    };
    convertCommand(dry, look);

    std::map<std::string, std::vector<std::string>> notReady;
    for (const std::string& file : indexFiles) {
        std::vector<std::string> waitsFor = missing[file];
        for (const std::string& source : sources[file])
            if (!settled(source, settle))
                waitsFor.push_back(source);
        if (!waitsFor.empty())
            notReady[file] = std::move(waitsFor);
    }
    return notReady;
}

GroupedArrival::GroupedArrival(milliseconds settle, std::chrono::seconds groupWait)
    : m_settle(settle), m_groupWait(groupWait)
{
}

milliseconds GroupedArrival::lookAgainIn() const
{
    return std::clamp<milliseconds>(m_settle / 2, milliseconds(250), milliseconds(1000));
}

std::set<std::string> GroupedArrival::toHold(CommandContext& ctx, const std::vector<std::string>& indexFiles,
                                             std::vector<Notice>& notices, GrownFiles* grown)
{
    std::set<std::string> hold;
    if (!active() || indexFiles.empty())
        return hold;
    // Files taken away while they waited need no memory.
    std::erase_if(m_waiting, [](const auto& waiting) { return !files::statusOf(waiting.first); });
    // Names a bar list cannot carry are converted as they come.
    std::vector<std::string> looked;
    for (const std::string& file : indexFiles)
        if (file.find_first_of("|*") == std::string::npos)
            looked.push_back(file);
    std::map<std::string, std::vector<std::string>> notReady = namedFilesNotReady(ctx, looked, m_settle, grown);
    const auto now = std::chrono::steady_clock::now();
    for (const std::string& file : looked) {
        const auto found = notReady.find(file);
        if (found == notReady.end()) {
            m_waiting.erase(file);
            continue;
        }
        std::vector<std::string>& waitsFor = found->second;
        std::sort(waitsFor.begin(), waitsFor.end());
        const auto [waiting, began] = m_waiting.try_emplace(file, Waiting{waitsFor, now});
        if (began) {
            Notice told{NoticeKind::WaitingForNamedFiles, file};
            told.count = static_cast<long>(waitsFor.size());
            told.text = waitsFor.front();
            notices.push_back(told);
        } else if (waiting->second.missing != waitsFor) {
            waiting->second = Waiting{waitsFor, now};
        } else if (now - waiting->second.lastChange >= m_groupWait) {
            Notice over{NoticeKind::GroupWaitOver, file};
            over.count = static_cast<long>(waitsFor.size());
            notices.push_back(over);
            m_waiting.erase(waiting);
            continue;
        }
        hold.insert(file);
    }
    return hold;
}

} // namespace tollavar
