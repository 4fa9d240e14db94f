#include "batch/RunRecorder.h"

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "engine/ConversionSettings.h"
#include "engine/StopRequest.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace tollavar {

namespace {

std::string userName()
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return entry->pw_name;
    if (const char* name = std::getenv("USER"))
        return name;
    return std::to_string(::geteuid());
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
}

} // namespace

std::string isoTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime writes the offset as +0100; ISO 8601's extended form wants +01:00.
    std::string iso(text);
    if (iso.size() >= 5)
        iso.insert(iso.size() - 2, ":");
    return iso;
}

int convertExitStatus(const ConvertOutcome& outcome)
{
    const bool succeeded = outcome.ranToEnd && outcome.allConverted && !outcome.refused && !outcome.configSaveFailed;
    return succeeded ? 0 : 1;
}

RunRecorder::RunRecorder(CommandContext& ctx) : m_ctx(ctx), m_start(std::chrono::steady_clock::now())
{
    m_record.started = isoTimeNow();
    m_record.user = userName();
    m_record.host = hostName();
    m_record.mode = ctx.runMode;
    m_record.configFile = ctx.configFile;
}

void RunRecorder::closeIndexFile()
{
    if (m_currentRan)
        m_record.files.push_back(std::move(m_current));
    m_current = IndexFileRecord{};
    m_currentRan = false;
}

void RunRecorder::beginIndexFile(const std::string& path)
{
    closeIndexFile();
    m_current.path = path;
}

RunRecord RunRecorder::finish(const ConvertOutcome& outcome, const std::string& failure)
{
    closeIndexFile();
    m_record.ended = isoTimeNow();
    m_record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    // A save dialog may have named the configuration during the command.
    m_record.configFile = m_ctx.configFile;
    m_record.datagroupFull = m_ctx.flags.datagroupFull;
    m_record.notices = outcome.notices;
    m_record.failure = failure;
    m_record.exitStatus = convertExitStatus(outcome);
    bool anyFailed = false;
    for (const IndexFileRecord& file : m_record.files)
        anyFailed |= !file.converted;
    if (outcome.refused)
        m_record.outcome = "refused";
    else if (stopRequested())
        m_record.outcome = "stopped";
    else if (!failure.empty() || anyFailed || m_record.exitStatus != 0)
        m_record.outcome = "failed";
    else if (m_record.files.empty())
        m_record.outcome = "nothing to convert";
    else
        m_record.outcome = "converted";
    return m_record;
}

MessageAnswer RunRecorder::ask(const Prompt& prompt)
{
    const MessageAnswer answer = m_ctx.prompter.ask(prompt);
    if (!m_current.path.empty())
        noteAnswered(m_ctx.words.prompt(prompt), answer);
    return answer;
}

bool RunRecorder::waitUntil(const Prompt& wait, const std::function<bool()>& ready)
{
    return m_ctx.prompter.waitUntil(wait, ready);
}

Message RunRecorder::reportFailure(const FailureReport& report)
{
    Message shown = m_ctx.prompter.reportFailure(report);
    noteAnswered(shown, MessageAnswer::Ok);
    return shown;
}

void RunRecorder::noteAnswered(const Message& message, MessageAnswer answer)
{
    if (!m_current.path.empty()) {
        m_current.questions.push_back(AnsweredQuestion{message.caption, message.text, answerName(answer)});
        m_currentRan = true;
    }
}

bool RunRecorder::wantsLineCount() const
{
    return m_ctx.progress && m_ctx.progress->wantsLineCount();
}

void RunRecorder::indexFileStarted(std::string_view indexFile, long totalLines)
{
    if (m_ctx.progress)
        m_ctx.progress->indexFileStarted(indexFile, totalLines);
}

void RunRecorder::linesDone(long lines, long documents)
{
    if (m_ctx.progress)
        m_ctx.progress->linesDone(lines, documents);
}

void RunRecorder::indexFileEnded(const IndexFileFacts& facts, bool converted)
{
    m_current.facts = facts;
    m_current.converted = converted;
    m_currentRan = true;
    if (m_ctx.progress)
        m_ctx.progress->indexFileEnded(facts, converted);
}

} // namespace tollavar
