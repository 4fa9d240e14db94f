#include "app/TerminalProgress.h"

#include <unistd.h>

namespace tollavar {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string duration(double seconds)
{
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

} // namespace

TerminalProgress::TerminalProgress(int fd) : m_fd(fd)
{
}

bool TerminalProgress::wanted(int fd, bool quiet)
{
    return !quiet && ::isatty(fd) == 1;
}

void TerminalProgress::write(const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(m_fd, text.data() + done, text.size() - done);
        if (written <= 0)
            return; // a progress line is never worth a failure
        done += static_cast<size_t>(written);
    }
}

void TerminalProgress::indexFileStarted(std::string_view indexFile, long totalLines)
{
    const size_t slash = indexFile.find_last_of("/\\");
    m_name = std::string(slash == std::string_view::npos ? indexFile : indexFile.substr(slash + 1));
    m_total = totalLines;
    m_started = Clock::now();
    // The first report draws at once; a short file is seen too.
    m_lastDrawn = Clock::time_point{};
}

void TerminalProgress::linesDone(long lines, long documents)
{
    const Clock::time_point now = Clock::now();
    if (now - m_lastDrawn < kRedrawEvery)
        return;
    m_lastDrawn = now;
    const double elapsed = std::chrono::duration<double>(now - m_started).count();
    std::string text = "\r" + m_name + ": " + std::to_string(lines);
    if (m_total > 0)
        text += " of " + std::to_string(m_total);
    text += " lines";
    if (elapsed > 0) {
        text += ", " + std::to_string(static_cast<long>(documents / elapsed)) + " documents/s";
        if (m_total > lines && lines > 0)
            text += ", " + duration((m_total - lines) * elapsed / lines) + " left";
    }
    // Erase what a longer line before left at its end.
    write(text + "\x1b[K");
    m_shown = true;
}

void TerminalProgress::indexFileEnded(const IndexFileFacts&, bool)
{
    clear();
}

void TerminalProgress::clear()
{
    if (m_shown)
        write("\r\x1b[K");
    m_shown = false;
}

} // namespace tollavar
