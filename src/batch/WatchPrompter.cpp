#include "batch/WatchPrompter.h"

namespace tollavar {

namespace {
// Enough for every file of a busy station to fail in its own way; past it, reports repeat once more.
constexpr size_t kReportsRemembered = 1000;
} // namespace

Message WatchPrompter::reportFailure(const FailureReport& report)
{
    const Failure& failure = report.failure;
    const std::string key = std::to_string(static_cast<int>(report.work)) + '\n' + std::to_string(failure.number()) +
                            '\n' + std::to_string(stageNumber(report.stage)) + '\n' + failure.source() + '\n' +
                            failure.description();
    if (m_failuresShown.size() >= kReportsRemembered)
        m_failuresShown.clear();
    if (const auto shown = m_failuresShown.find(key); shown != m_failuresShown.end())
        return shown->second;
    Message message = m_inner.reportFailure(report);
    m_failuresShown.emplace(key, message);
    return message;
}

MessageAnswer WatchPrompter::ask(const Prompt& prompt)
{
    if (prompt.kind == MessageKind::DatagroupBusyWait) {
        const MessageAnswer answer = m_inner.ask(prompt);
        m_gaveUpWaiting |= answer != MessageAnswer::Yes;
        return answer;
    }
    // Questions, and waits that ask again until a file is free, always pass.
    const Message message = m_words.prompt(prompt);
    const bool report = message.icon == MessageIcon::Warning || message.icon == MessageIcon::Error;
    if (message.buttons != MessageButtons::Ok || !report)
        return m_inner.ask(prompt);
    if (m_reported.size() >= kReportsRemembered)
        m_reported.clear();
    if (!m_reported.insert(message.caption + '\n' + message.text).second)
        return MessageAnswer::Ok;
    return m_inner.ask(prompt);
}

} // namespace tollavar
