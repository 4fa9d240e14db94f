#include "app/TerminalProgress.h"

#include <sys/ioctl.h>
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

// Columns a text takes, as one per character: a name may hold any UTF-8.
size_t columnsOf(std::string_view text)
{
    size_t columns = 0;
    for (const char c : text)
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

// The first `columns` characters of the text.
std::string_view leadingColumns(std::string_view text, size_t columns)
{
    size_t at = 0;
    for (size_t seen = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == columns)
            break;
    }
    return text.substr(0, at);
}

// The last `columns` characters of the text.
std::string_view trailingColumns(std::string_view text, size_t columns)
{
    size_t at = text.size();
    for (size_t seen = 0; at > 0 && seen < columns;) {
        --at;
        seen += (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
    }
    return text.substr(at);
}

} // namespace

std::string fitProgressLine(std::string_view name, std::string_view rest, size_t width)
{
    // The last column stays empty: a terminal that wraps on it would leave the line behind on the row above.
    const size_t room = width > 1 ? width - 1 : 0;
    const std::string whole = std::string(name) + std::string(rest);
    if (width == 0 || columnsOf(whole) <= room)
        return whole;
    constexpr std::string_view kElided = "...";
    const size_t restColumns = columnsOf(rest);
    // A name cut to a few characters still tells a file apart; below that, the end of the line goes.
    if (restColumns + kElided.size() + 6 <= room) {
        const size_t keep = room - restColumns - kElided.size();
        return std::string(leadingColumns(name, keep - keep / 2)) + std::string(kElided) +
               std::string(trailingColumns(name, keep / 2)) + std::string(rest);
    }
    return std::string(leadingColumns(whole, room));
}

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
    // As listed: a backslash is part of the name.
    const size_t slash = indexFile.find_last_of('/');
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
    std::string text = ": " + std::to_string(lines);
    if (m_total > 0)
        text += " of " + std::to_string(m_total);
    text += " lines";
    if (elapsed > 0) {
        text += ", " + std::to_string(static_cast<long>(documents / elapsed)) + " documents/s";
        if (m_total > lines && lines > 0)
            text += ", " + duration((m_total - lines) * elapsed / lines) + " left";
    }
    // Asked at each redraw, so that a resized window (SIGWINCH) is met at the next one.
    winsize size{};
    const size_t width = ::ioctl(m_fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    // Erase what a longer line before left at its end.
    write("\r" + fitProgressLine(m_name, text, width) + "\x1b[K");
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
