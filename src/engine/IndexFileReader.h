#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// An index file read whole and handed out line by line as UTF-8.
//
// Encoding: a UTF-8 byte-order mark means UTF-8 (the mark is dropped); otherwise a file that is valid
// UTF-8 and holds non-ASCII bytes is UTF-8; otherwise windows-1252, which decodes every byte, so no
// byte of the file is ever lost. Line ends: CR or CR LF end a line and a lone LF stays inside it, as
// the scanning station writes them; only a file without any CR ends its lines at LF, so that a file
// edited on Linux still reads as lines.
class IndexFileReader
{
public:
    // Throws Failure (naming the path) when the file cannot be opened or read.
    explicit IndexFileReader(const std::string& path);
    static IndexFileReader fromBytes(std::string bytes);

    bool atEnd() const { return m_pos >= m_bytes.size(); }

    // The next line without its terminator; false at the end of the file. The view is valid until the
    // next call. A final line without a terminator is a line; a terminator at the very end adds none.
    bool readLine(std::string_view& line);

    // What the file was read as: "UTF-8 with byte-order mark", "UTF-8", "ASCII" or "windows-1252" (a
    // marked file with broken bytes says so). Looks at the whole file when it reads as UTF-8.
    std::string encodingName() const;

    // The file's bytes as read, before any decoding.
    std::string_view bytes() const { return m_bytes; }

    // How many lines readLine hands out from the start of the file (a pass over it).
    long countLines() const;

    // Discards one line; at the end of the file throws Failure 62 "Input past end of file: <path>".
    void skipLine();

private:
    enum class Encoding
    {
        Utf8,         // every line is handed out as it stands
        Utf8Repaired, // marked UTF-8 that is broken somewhere: bad bytes are read as windows-1252
        Windows1252,
    };

    IndexFileReader(std::string path, std::string bytes);
    std::string_view decodeLine(std::string_view raw);

    std::string m_path;
    std::string m_bytes;
    size_t m_pos = 0;
    Encoding m_encoding = Encoding::Windows1252;
    char m_terminator = '\r';
    std::string m_lineBuffer;
};

} // namespace tollavar
