#pragma once

#include "batch/CommandPorts.h"
#include "batch/DryRunFiles.h"
#include "batch/UnattendedAnswer.h"
#include "engine/ConversionHost.h"
#include "engine/DocumentStore.h"
#include "engine/JournalReader.h"
#include "engine/MoveRecorder.h"
#include "engine/Prompter.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tollavar {

// Takes the finished documents without saving them; the record then holds DATAGRP.XML as written.
class DryRunDocuments : public DocumentStore
{
public:
    explicit DryRunDocuments(DryRunFiles& files) : m_files(files) {}
    bool save(ConversionContext& context, const DatagroupDocument& document, const std::string& nativeXml,
              long lastDocId, const std::string& originalText) override;

private:
    DryRunFiles& m_files;
};

// Keeps no journal, but lets the placer batch its moves as it does for one, so that a dry run makes its
// moves in the run's order: a failure leaves the batch unmade in both. The steps are kept as a journal
// keeps them, so that a run that ends early is put back as the real one is.
class DryRunMoves : public MoveRecorder
{
public:
    void beforeMove(std::string_view from, std::string_view to) override;
    void moveNotMade() override;
    void beforeSetAside(std::string_view path, std::string_view aside) override;
    void makeDurable() override {}
    // The steps of the index file being converted, and a fresh start for the next one.
    std::vector<JournalContents::Step> takeSteps() { return std::exchange(m_steps, {}); }

private:
    std::vector<JournalContents::Step> m_steps;
};

// Hands every message, worded as the run would show it, to a listener that records it and chooses its
// answer: the unattended run's, or past the point where that run stops, the one that lets it go on.
class DryRunPrompter : public Prompter
{
public:
    // `prompt` is null for a failure's report.
    using Listener = std::function<MessageAnswer(const Message&, const Prompt* prompt)>;
    DryRunPrompter(Listener listener, const MessageWords& words) : m_listener(std::move(listener)), m_words(words) {}
    MessageAnswer ask(const Prompt& prompt) override;
    Message reportFailure(const FailureReport& report) override;
    bool waitUntil(const Prompt&, const std::function<bool()>&) override { return false; }

private:
    Listener m_listener;
    const MessageWords& m_words;
};

// Counts the lines the run reads (it lets the window work once per line); shows nothing.
class DryRunHost : public ConversionHost
{
public:
    void setStatusPanel(int, std::string_view) override {}
    void processPendingEvents() override { ++m_lines; }
    long lines() const { return m_lines; }
    void startFile() { m_lines = 0; }

private:
    long m_lines = 0;
};

// The ports of a Convert command run dry: files and documents recorded, no record or journal kept, the
// datagroup's lock taken only where a lock file is there to take without writing one.
class DryRunPorts : public CommandPorts
{
public:
    DryRunPorts() : m_documents(m_files) {}
    files::FileEffects& files() override { return m_files; }
    DocumentStore* documents() override { return &m_documents; }
    MoveRecorder* moves() override { return &m_moves; }
    std::vector<JournalContents::Step> takeMoveSteps() override { return m_moves.takeSteps(); }
    void takeLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder) override;
    bool keepsRecords() const override { return false; }

    DryRunFiles& recorded() { return m_files; }
    // The datagroup was read unlocked because it had no lock file to take without writing one.
    bool readUnlocked() const { return m_readUnlocked; }

private:
    DryRunFiles m_files;
    DryRunDocuments m_documents;
    DryRunMoves m_moves;
    bool m_readUnlocked = false;
};

} // namespace tollavar
