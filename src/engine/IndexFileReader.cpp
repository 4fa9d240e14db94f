#include "engine/IndexFileReader.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/Windows1252.h"

#include <cstring>

namespace tollavar {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool isAscii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

IndexFileReader::IndexFileReader(const std::string& path) : IndexFileReader(path, files::readAll(path))
{
}

IndexFileReader IndexFileReader::fromBytes(std::string bytes)
{
    return IndexFileReader(std::string(), std::move(bytes));
}

IndexFileReader::IndexFileReader(std::string path, std::string bytes)
    : m_path(std::move(path)), m_bytes(std::move(bytes))
{
    std::string_view text = m_bytes;
    if (text.starts_with(kUtf8Mark)) {
        m_pos = kUtf8Mark.size();
        m_encoding = utf8::isValid(text.substr(m_pos)) ? Encoding::Utf8 : Encoding::Utf8Repaired;
    } else if (utf8::isValid(text)) {
        // Pure ASCII lands here too: it reads the same either way and needs no decoding.
        m_encoding = Encoding::Utf8;
    } else {
        m_encoding = Encoding::Windows1252;
    }
    m_terminator = std::memchr(m_bytes.data(), '\r', m_bytes.size()) ? '\r' : '\n';
}

std::string IndexFileReader::encodingName() const
{
    const std::string_view text = m_bytes;
    switch (m_encoding) {
    case Encoding::Utf8:
        if (text.starts_with(kUtf8Mark))
            return "UTF-8 with byte-order mark";
        return isAscii(text) ? "ASCII" : "UTF-8";
    case Encoding::Utf8Repaired:
        return "UTF-8 with byte-order mark, broken bytes read as windows-1252";
    case Encoding::Windows1252:
        break;
    }
    return "windows-1252";
}

long IndexFileReader::countLines() const
{
    const size_t start = m_bytes.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0;
    long lines = 0;
    size_t pos = start;
    while (pos < m_bytes.size()) {
        const void* found = std::memchr(m_bytes.data() + pos, m_terminator, m_bytes.size() - pos);
        ++lines;
        if (!found)
            break;
        pos = static_cast<size_t>(static_cast<const char*>(found) - m_bytes.data()) + 1;
        if (m_terminator == '\r' && pos < m_bytes.size() && m_bytes[pos] == '\n')
            ++pos;
    }
    return lines;
}

bool IndexFileReader::readLine(std::string_view& line)
{
    if (atEnd())
        return false;
    const char* begin = m_bytes.data() + m_pos;
    const size_t left = m_bytes.size() - m_pos;
    const void* found = std::memchr(begin, m_terminator, left);
    size_t length = found ? static_cast<size_t>(static_cast<const char*>(found) - begin) : left;
    m_pos += length;
    if (found) {
        ++m_pos;
        if (m_terminator == '\r' && m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
            ++m_pos;
    }
    line = decodeLine(std::string_view(begin, length));
    return true;
}

void IndexFileReader::skipLine()
{
    std::string_view ignored;
    if (!readLine(ignored))
        throw Failure(ErrorCode::InputPastEndOfFile, "Read File", "Input past end of file: " + m_path);
}

std::string_view IndexFileReader::decodeLine(std::string_view raw)
{
    if (m_encoding == Encoding::Utf8 || isAscii(raw))
        return raw;
    m_lineBuffer.clear();
    if (m_encoding == Encoding::Windows1252) {
        cp1252::decodeAppend(raw, m_lineBuffer);
        return m_lineBuffer;
    }
    // Marked as UTF-8 but broken: keep every byte as a character instead of dropping or replacing it.
    size_t pos = 0;
    while (pos < raw.size()) {
        const size_t start = pos;
        const char32_t cp = utf8::next(raw, pos);
        if (cp == 0xFFFFFFFF)
            cp1252::decodeAppend(raw.substr(start, 1), m_lineBuffer);
        else
            m_lineBuffer.append(raw.substr(start, pos - start));
    }
    return m_lineBuffer;
}

} // namespace tollavar
