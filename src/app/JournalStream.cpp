#include "app/JournalStream.h"

#include "filetools/FileStatus.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <sys/stat.h>

namespace tollavar {

namespace {

int g_nextLinePriority = -1;

bool containsAny(std::string_view text, std::initializer_list<std::string_view> words)
{
    for (std::string_view word : words)
        if (text.find(word) != std::string_view::npos)
            return true;
    return false;
}

} // namespace

bool isJournalStream(int fd)
{
    const char* value = std::getenv("JOURNAL_STREAM");
    if (!value)
        return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(value, "%llu:%llu", &device, &inode) != 2)
        return false;
    const std::optional<struct stat> st = files::statusOf(fd);
    return st && st->st_dev == device && st->st_ino == inode;
}

int priorityOfLine(std::string_view line)
{
    if (containsAny(line, {"Error", "error", "failed", "Failed", "cannot", "could not", "Gave up", "stopped before"}))
        return JournalPriority::Error;
    if (containsAny(line, {"warning", "Warning", "left for", "not removed", "Missing", "No index file matched",
                           "is full", "No terminal to answer", "No answer"}))
        return JournalPriority::Warning;
    return JournalPriority::Info;
}

void setNextLinePriority(int priority)
{
    g_nextLinePriority = priority;
}

// Holds each line until it ends, so that its priority can be judged by all of it.
class JournalPrefixes::Buffer : public std::streambuf
{
public:
    explicit Buffer(std::streambuf* target) : m_target(target) {}

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        m_line += static_cast<char>(c);
        if (c == '\n')
            emit();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        for (std::streamsize i = 0; i < count; ++i)
            overflow(static_cast<unsigned char>(text[i]));
        return count;
    }
    int sync() override { return m_target->pubsync(); }

public:
    void emit()
    {
        if (m_line.empty())
            return;
        int priority = g_nextLinePriority >= 0 ? g_nextLinePriority : priorityOfLine(m_line);
        g_nextLinePriority = -1;
        const std::string prefixed = "<" + std::to_string(priority) + ">" + m_line;
        m_target->sputn(prefixed.data(), static_cast<std::streamsize>(prefixed.size()));
        m_target->pubsync();
        m_line.clear();
    }

private:
    std::streambuf* m_target;
    std::string m_line;
};

JournalPrefixes::JournalPrefixes(std::ostream& stream)
    : m_stream(stream), m_buffer(std::make_unique<Buffer>(stream.rdbuf())), m_original(stream.rdbuf())
{
    m_stream.rdbuf(m_buffer.get());
}

JournalPrefixes::~JournalPrefixes()
{
    m_stream.flush();
    m_buffer->emit(); // a last line without its end
    m_stream.rdbuf(m_original);
}

} // namespace tollavar
