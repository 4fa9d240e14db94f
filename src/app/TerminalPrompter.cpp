#include "app/TerminalPrompter.h"

#include "app/JournalStream.h"
#include "batch/UnattendedAnswer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace tollavar {

namespace {

std::string terminalText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* choicesFor(MessageButtons buttons)
{
    return buttons == MessageButtons::YesNoCancel ? "Yes/No/Cancel" : "Yes/No";
}

std::optional<MessageAnswer> parseAnswer(std::string line, MessageButtons buttons)
{
    line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }), line.end());
    std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
    if (line == "y" || line == "yes")
        return MessageAnswer::Yes;
    if (line == "n" || line == "no")
        return MessageAnswer::No;
    if (buttons == MessageButtons::YesNoCancel && (line == "c" || line == "cancel"))
        return MessageAnswer::Cancel;
    return std::nullopt;
}

} // namespace

MessageAnswer leastChangeAnswer(const Message& message)
{
    // One rule for the terminal and for a check, which answers as this terminal would.
    return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : unattendedAnswer(message);
}

TerminalPrompter::TerminalPrompter(std::istream& in, std::ostream& out, bool canAsk, Pause pause, int waitLimitSeconds)
    : m_in(in), m_out(out), m_canAsk(canAsk), m_pause(std::move(pause)), m_waitLimitSeconds(waitLimitSeconds)
{
}

MessageAnswer TerminalPrompter::show(const Message& message)
{
    // A wait for a busy DATAGRP.XML or datagroup repeats its question until the file is free: say it
    // once, try again every second instead of filling the log, and give up at the limit rather than
    // hang a server for ever.
    const bool inUse = message.kind == MessageKind::XmlInUseWait;
    const bool busy = message.kind == MessageKind::DatagroupBusyWait;
    if (inUse || busy) {
        const auto now = std::chrono::steady_clock::now();
        if (m_waitingFor != message.text) {
            m_waitingFor = message.text;
            m_waitStart = now;
            m_out << message.caption << ": " << terminalText(message.text.substr(0, message.text.find('\r')))
                  << " (trying again every second, for up to " << m_waitLimitSeconds << " seconds)" << std::endl;
        }
        if (now - m_waitStart >= std::chrono::seconds(m_waitLimitSeconds)) {
            m_out << "Gave up after waiting " << m_waitLimitSeconds << " seconds (see --wait=SECONDS)." << std::endl;
            m_waitingFor.clear();
            return inUse ? MessageAnswer::Cancel : MessageAnswer::No;
        }
        if (m_pause)
            m_pause();
        return inUse ? MessageAnswer::Ok : MessageAnswer::Yes;
    }
    m_waitingFor.clear();

    setNextLinePriority(message.icon == MessageIcon::Error  ? JournalPriority::Error
                        : message.icon == MessageIcon::None ? JournalPriority::Info
                                                            : JournalPriority::Warning);
    m_out << message.caption << ": " << terminalText(message.text) << std::endl;
    if (message.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    if (m_canAsk)
        return askOnTerminal(message);
    const MessageAnswer answer = leastChangeAnswer(message);
    m_out << "No terminal to answer: " << answerName(answer) << std::endl;
    return answer;
}

MessageAnswer TerminalPrompter::askOnTerminal(const Message& message)
{
    for (;;) {
        m_out << "[" << choicesFor(message.buttons) << "]? " << std::flush;
        std::string line;
        if (!std::getline(m_in, line)) {
            const MessageAnswer answer = leastChangeAnswer(message);
            m_out << std::endl << "No answer: " << answerName(answer) << std::endl;
            return answer;
        }
        if (const auto answer = parseAnswer(line, message.buttons))
            return *answer;
    }
}

std::unique_ptr<TerminalPrompter> makeProcessTerminalPrompter(int waitLimitSeconds)
{
    return std::make_unique<TerminalPrompter>(
        std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1, [] { std::this_thread::sleep_for(std::chrono::seconds(1)); },
        waitLimitSeconds);
}

} // namespace tollavar
