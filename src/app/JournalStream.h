#pragma once

#include <iosfwd>
#include <memory>
#include <string_view>

namespace tollavar {

// Syslog priorities as journald reads them from a line's "<N>" prefix. Plain numbers, not an enum class:
// they are written as the numbers they are.
struct JournalPriority
{
    enum : int
    {
        Error = 3,
        Warning = 4,
        Info = 6,
    };
};

// True when the environment's JOURNAL_STREAM names the device and inode of descriptor `fd`: systemd
// connected it to the journal, which reads a "<N>" at the start of a line as the line's priority.
bool isJournalStream(int fd);

// The priority of a line of ours by what it says: failures are errors, things left alone warnings,
// the rest information.
int priorityOfLine(std::string_view line);

// Gives the next line written to the prefixed stream this priority instead of guessing it (a message
// whose icon says what it is).
void setNextLinePriority(int priority);

// While alive, every line written to `stream` carries its priority prefix.
class JournalPrefixes
{
public:
    explicit JournalPrefixes(std::ostream& stream);
    ~JournalPrefixes();
    JournalPrefixes(const JournalPrefixes&) = delete;
    JournalPrefixes& operator=(const JournalPrefixes&) = delete;

private:
    class Buffer;
    std::ostream& m_stream;
    std::unique_ptr<Buffer> m_buffer;
    std::streambuf* m_original;
};

} // namespace tollavar
