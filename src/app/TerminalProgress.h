#pragma once

#include "engine/ConversionObserver.h"
#include "engine/Prompter.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace tollavar {

// The progress line `name` + `rest` within `width` columns (0: not known), the name elided in its middle
// when the line would not fit: a line wider than the terminal wraps, and each redraw then leaves a row
// of old text behind.
std::string fitProgressLine(std::string_view name, std::string_view rest, size_t width);

// One line on a terminal kept up to date during a conversion: the index file, lines done of total,
// documents per second and the time left. Redrawn at most ten times a second and cleared at the end
// of each index file, and before anything else is written (see ProgressClearingPrompter).
class TerminalProgress : public ConversionObserver
{
public:
    // Writes to the descriptor `fd` (standard error).
    explicit TerminalProgress(int fd);

    // Whether a progress line belongs on `fd`: a terminal, and not turned off.
    static bool wanted(int fd, bool quiet);

    bool wantsLineCount() const override { return true; }
    void indexFileStarted(std::string_view indexFile, long totalLines) override;
    void linesDone(long lines, long documents) override;
    void indexFileEnded(const IndexFileFacts& facts, bool converted) override;

    void clear();

private:
    using Clock = std::chrono::steady_clock;
    void write(const std::string& text);

    int m_fd;
    std::string m_name;
    long m_total = -1;
    Clock::time_point m_started;
    Clock::time_point m_lastDrawn;
    bool m_shown = false;
};

// Clears the progress line before a message or question is written below it.
class ProgressClearingPrompter : public Prompter
{
public:
    ProgressClearingPrompter(Prompter& inner, TerminalProgress& progress) : m_inner(inner), m_progress(progress) {}
    MessageAnswer ask(const Prompt& prompt) override
    {
        m_progress.clear();
        return m_inner.ask(prompt);
    }
    Message reportFailure(const FailureReport& report) override
    {
        m_progress.clear();
        return m_inner.reportFailure(report);
    }

private:
    Prompter& m_inner;
    TerminalProgress& m_progress;
};

} // namespace tollavar
