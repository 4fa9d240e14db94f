#pragma once

#include "engine/RunStage.h"

#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// Receives what one index line means, in the order the line gives it. Every view is valid only for the
// length of the call. An exception thrown here leaves parseLine unchanged.
class FieldSink
{
public:
    virtual ~FieldSink() = default;
    // The line's first delimiter: the document's DUPEID and the opening of its OBJECT.
    virtual void beginObject() = 0;
    // The IMAGEPATH column, when it is not the line's last column.
    virtual void imagePath(std::string_view unquotedPath) = 0;
    // The PAGECOUNT column: its unquoted value for a TIF image, else "1".
    virtual void pageCount(std::string_view pages) = 0;
    virtual void indexField(std::string_view name, std::string_view value, bool lastColumn) = 0;
};

// Positions in the field-name list, -1 when the name is absent.
struct ReservedColumns
{
    int batchId = -1;
    int imagePath = -1;
    int pageCount = -1;
};

// Names are compared upper-cased; a name listed twice counts at its later position.
ReservedColumns findReservedColumns(const std::vector<std::string>& names);

// Trims spaces; a value of two or more characters between double quotes loses them and has each pair
// of double quotes inside turned into one.
std::string unquoteField(std::string_view value);
void unquoteFieldInto(std::string_view value, std::string& out);

// The delimiter box's text with every "Tab" (exact case) turned into a tab character.
std::string delimiterFromSetting(std::string_view delimiterSetting);

// True for an empty line or one of spaces only: such a line is no document.
bool isBlankLine(std::string_view line);

// Splits index lines into fields and says what each becomes. One parser serves one conversion run: it
// remembers the run's most recent image path across lines, because a PAGECOUNT column placed before
// the IMAGEPATH column decides on the previous line's image.
class IndexLineParser
{
public:
    explicit IndexLineParser(std::vector<std::string> fieldNames);

    const std::vector<std::string>& names() const { return m_names; }
    const ReservedColumns& reserved() const { return m_reserved; }

    // Scans one line (a blank line gives nothing). Only a delimiter of exactly one character (one UTF-8
    // code point) splits the line; any other text leaves the whole line one field. `stage` tells the
    // run's failure report which field was being written. Returns the number of columns the line has
    // (0 for a blank line), named or not.
    size_t parseLine(std::string_view line, std::string_view delimiter, FieldSink& sink, RunStage& stage);

    const std::string& mostRecentImagePath() const { return m_imagePath; }

private:
    enum class Column : unsigned char
    {
        Index,
        ImagePath,
        PageCount,
        Ignored, // BATCHID, or a name that upper-cases to SKIP
    };

    void dispatch(size_t j, std::string_view field, FieldSink& sink);
    void writeLastField(size_t j, std::string_view field, FieldSink& sink);

    std::vector<std::string> m_names;
    ReservedColumns m_reserved;
    std::vector<Column> m_columns;
    std::vector<bool> m_lastColumnSkipped; // BATCHID, or exactly "SKIP"
    std::string m_imagePath;
    bool m_imageIsTif = false;
    std::string m_value;
};

} // namespace tollavar
