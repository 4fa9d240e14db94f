#include "engine/IndexLineParser.h"

#include "filetools/FileTools.h"
#include "filetools/TextReplace.h"
#include "filetools/Windows1252.h"

namespace tollavar {

namespace {

// The unquoted value as a view of `value` when nothing needs rewriting (the common case, and no copy),
// else as a view of `buffer`. `value` must not be a view of `buffer`.
std::string_view unquote(std::string_view value, std::string& buffer)
{
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    value = value.substr(first, value.find_last_not_of(' ') - first + 1);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return value;
    value = value.substr(1, value.size() - 2);
    size_t pair = value.find("\"\"");
    if (pair == std::string_view::npos)
        return value;
    buffer.clear();
    size_t from = 0;
    while (pair != std::string_view::npos) {
        buffer.append(value.substr(from, pair + 1 - from));
        from = pair + 2;
        pair = value.find("\"\"", from);
    }
    buffer.append(value.substr(from));
    return buffer;
}

// Lines are compared character by character, so a delimiter text splits only when it is one character.
bool isOneCharacter(std::string_view delimiter)
{
    if (delimiter.empty())
        return false;
    size_t pos = 0;
    return utf8::next(delimiter, pos) != 0xFFFFFFFF && pos == delimiter.size();
}

} // namespace

ReservedColumns findReservedColumns(const std::vector<std::string>& names)
{
    ReservedColumns reserved;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string upper = asciiUpper(names[i]);
        if (upper == "BATCHID")
            reserved.batchId = static_cast<int>(i);
        else if (upper == "IMAGEPATH")
            reserved.imagePath = static_cast<int>(i);
        else if (upper == "PAGECOUNT")
            reserved.pageCount = static_cast<int>(i);
    }
    return reserved;
}

std::string unquoteField(std::string_view value)
{
    std::string out;
    unquoteFieldInto(value, out);
    return out;
}

void unquoteFieldInto(std::string_view value, std::string& out)
{
    const std::string_view result = unquote(value, out);
    if (result.data() != out.data())
        out.assign(result);
}

std::string delimiterFromSetting(std::string_view delimiterSetting)
{
    std::string delimiter;
    size_t from = 0;
    for (size_t at = delimiterSetting.find("Tab"); at != std::string_view::npos;
         at = delimiterSetting.find("Tab", from)) {
        delimiter.append(delimiterSetting.substr(from, at - from));
        delimiter.push_back('\t');
        from = at + 3;
    }
    delimiter.append(delimiterSetting.substr(from));
    return delimiter;
}

bool isBlankLine(std::string_view line)
{
    return line.find_first_not_of(' ') == std::string_view::npos;
}

IndexLineParser::IndexLineParser(std::vector<std::string> fieldNames)
    : m_names(std::move(fieldNames)), m_reserved(findReservedColumns(m_names))
{
    m_columns.reserve(m_names.size());
    m_lastColumnSkipped.reserve(m_names.size());
    for (size_t i = 0; i < m_names.size(); ++i) {
        const int position = static_cast<int>(i);
        Column column = Column::Index;
        if (position == m_reserved.imagePath)
            column = Column::ImagePath;
        else if (position == m_reserved.pageCount)
            column = Column::PageCount;
        else if (position == m_reserved.batchId || asciiUpper(m_names[i]) == "SKIP")
            column = Column::Ignored;
        m_columns.push_back(column);
        // The last column's SKIP test is on the name exactly as typed, unlike the other columns'.
        m_lastColumnSkipped.push_back(position == m_reserved.batchId || m_names[i] == "SKIP");
    }
}

size_t IndexLineParser::parseLine(std::string_view line, std::string_view delimiter, FieldSink& sink, RunStage& stage)
{
    if (isBlankLine(line))
        return 0;
    size_t j = 0;
    size_t start = 0;
    if (isOneCharacter(delimiter)) {
        const char lead = delimiter.front();
        const size_t width = delimiter.size();
        const char* data = line.data();
        const size_t size = line.size();
        bool inQuotes = false;
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            // The quote test comes first, so a delimiter set to a double quote never splits.
            if (c == '"') {
                inQuotes = !inQuotes;
            } else if (c == lead && !inQuotes && (width == 1 || line.compare(i, width, delimiter) == 0)) {
                stage = RunStage::WritingField;
                dispatch(j, line.substr(start, i - start), sink);
                stage = RunStage::NextCharacter;
                ++j;
                i += width - 1;
                start = i + 1;
            }
        }
    }
    stage = RunStage::WritingLastField;
    writeLastField(j, line.substr(start), sink);
    return j + 1;
}

void IndexLineParser::dispatch(size_t j, std::string_view field, FieldSink& sink)
{
    if (j == 0)
        sink.beginObject();
    if (j >= m_columns.size())
        return;
    switch (m_columns[j]) {
    case Column::ImagePath: {
        const std::string_view path = unquote(field, m_value);
        m_imagePath.assign(path);
        m_imageIsTif = FileTools::extensionPart(m_imagePath) == "TIF";
        sink.imagePath(path);
        break;
    }
    case Column::PageCount:
        sink.pageCount(m_imageIsTif ? unquote(field, m_value) : std::string_view("1"));
        break;
    case Column::Ignored:
        break;
    case Column::Index:
        sink.indexField(m_names[j], unquote(field, m_value), false);
        break;
    }
}

void IndexLineParser::writeLastField(size_t j, std::string_view field, FieldSink& sink)
{
    if (field.empty() || j >= m_names.size() || m_lastColumnSkipped[j])
        return;
    sink.indexField(m_names[j], unquote(field, m_value), true);
}

} // namespace tollavar
