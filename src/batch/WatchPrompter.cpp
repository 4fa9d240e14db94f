#include "batch/WatchPrompter.h"

#include "batch/UnattendedAnswer.h"

namespace tollavar {

namespace {
// Enough for every file of a busy station to fail in its own way; past it, reports repeat once more.
constexpr size_t kReportsRemembered = 1000;

bool isWait(MessageKind kind)
{
    return kind == MessageKind::DatagroupBusyWait || kind == MessageKind::DatagroupBusyWaiting ||
           kind == MessageKind::XmlInUseWait;
}

std::string wordsOf(const Message& message)
{
    return message.caption + ": " + message.text;
}
} // namespace

void WatchPrompter::beginCommand(bool hold)
{
    m_gaveUpWaiting = false;
    m_holding = hold;
    m_held.clear();
    m_file.clear();
    m_wordsAbout.clear();
}

void WatchPrompter::aboutFile(const std::string& file)
{
    m_file = file;
    m_wordsAbout.erase(file);
}

const std::vector<std::string>& WatchPrompter::wordsAbout(const std::string& file) const
{
    static const std::vector<std::string> none;
    const auto found = m_wordsAbout.find(file);
    return found == m_wordsAbout.end() ? none : found->second;
}

void WatchPrompter::showInTurn(const std::string& file, std::function<void()> line)
{
    if (m_holding)
        m_held.push_back(Held{file, std::move(line)});
    else
        line();
}

void WatchPrompter::release(const std::set<std::string>& passedOver)
{
    m_holding = false;
    std::vector<Held> held;
    held.swap(m_held);
    for (const Held& piece : held) {
        if (!passedOver.count(piece.file))
            piece.show();
    }
}

void WatchPrompter::note(const std::string& about, const Message& message, std::function<void()> show)
{
    if (!m_file.empty())
        m_wordsAbout[m_file].push_back(wordsOf(message));
    if (show)
        showInTurn(about, std::move(show));
}

Message WatchPrompter::reportFailure(const FailureReport& report)
{
    const Failure& failure = report.failure;
    const std::string key = std::to_string(static_cast<int>(report.work)) + '\n' + std::to_string(failure.number()) +
                            '\n' + std::to_string(stageNumber(report.stage)) + '\n' + failure.source() + '\n' +
                            failure.description();
    if (m_failuresShown.size() >= kReportsRemembered)
        m_failuresShown.clear();
    if (const auto shown = m_failuresShown.find(key); shown != m_failuresShown.end()) {
        note(m_file, shown->second, nullptr);
        return shown->second;
    }
    const Message message = m_words.failure(report);
    m_failuresShown.emplace(key, message);
    note(m_file, message, [this, report] { m_inner.reportFailure(report); });
    return message;
}

MessageAnswer WatchPrompter::ask(const Prompt& prompt)
{
    if (prompt.kind == MessageKind::DatagroupBusyWait) {
        const MessageAnswer answer = m_inner.ask(prompt);
        m_gaveUpWaiting |= answer != MessageAnswer::Yes;
        return answer;
    }
    const Message message = m_words.prompt(prompt);
    if (isWait(prompt.kind))
        return m_inner.ask(prompt);
    // Recovery's account of an earlier failed run belongs to that run's index file.
    const bool earlierFailure = prompt.kind == MessageKind::InterruptedRun &&
                                prompt.recovery.outcome == RecoveryFacts::Outcome::FailedRunPutBack;
    const std::string about = earlierFailure ? prompt.recovery.indexFile : m_file;
    const auto show = [this, prompt] { m_inner.ask(prompt); };
    // Questions always pass.
    const bool report = message.icon == MessageIcon::Warning || message.icon == MessageIcon::Error;
    if (message.buttons != MessageButtons::Ok || !report) {
        if (!m_holding) {
            note(about, message, nullptr);
            return m_inner.ask(prompt);
        }
        note(about, message, show);
        return unattendedAnswer(message);
    }
    if (m_reported.size() >= kReportsRemembered)
        m_reported.clear();
    const bool repeated = !m_reported.insert(message.caption + '\n' + message.text).second;
    note(about, message, repeated ? std::function<void()>() : show);
    return MessageAnswer::Ok;
}

} // namespace tollavar
