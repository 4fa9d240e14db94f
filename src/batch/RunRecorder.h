#pragma once

#include "batch/RunRecord.h"
#include "engine/ConversionObserver.h"
#include "engine/Prompter.h"

#include <chrono>
#include <string>

namespace tollavar {

struct CommandContext;
struct ConvertOutcome;

// The exit status of a Convert command run unattended: 0 when it ran to its end, converted every
// selected index file and made every configuration save; 1 otherwise.
int convertExitStatus(const ConvertOutcome& outcome);

// Keeps the record of one Convert command while it runs. The conversions it starts ask their questions
// through it and report to it; it passes both on (to the context's prompter and progress observer)
// and notes them against the index file at hand.
class RunRecorder : public Prompter, public ConversionObserver
{
public:
    explicit RunRecorder(CommandContext& ctx);

    void setDatagroup(const std::string& folder) { m_record.datagroupFolder = folder; }
    void setRecoveryRan() { m_record.recoveryRan = true; }
    // Before each index file is handed to a conversion.
    void beginIndexFile(const std::string& path);

    // The command's record, once it has ended: `failure` is the message of its own failure, if any.
    RunRecord finish(const ConvertOutcome& outcome, const std::string& failure);

    MessageAnswer ask(const Prompt& prompt) override;
    bool waitUntil(const Prompt& wait, const std::function<bool()>& ready) override;
    Message reportFailure(const FailureReport& report) override;
    bool wantsLineCount() const override;
    void indexFileStarted(std::string_view indexFile, long totalLines) override;
    void linesDone(long lines, long documents) override;
    void indexFileEnded(const IndexFileFacts& facts, bool converted) override;

private:
    void noteAnswered(const Message& message, MessageAnswer answer);

    CommandContext& m_ctx;
    RunRecord m_record;
    IndexFileRecord m_current;
    bool m_currentRan = false; // a conversion took the file up (a hot folder may pass one by)
    std::chrono::steady_clock::time_point m_start;

    void closeIndexFile();
};

// Local time as "2026-12-07T18:24:52+01:00".
std::string isoTimeNow();

} // namespace tollavar
