// The documents a run adds, kept as the bytes they are saved as, and the whole file written from them.
#include "engine/DatagroupDocument.h"

#include "engine/DatagroupDocumentBytes.h"
#include "engine/DatagroupXmlText.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"

#include <libxml/tree.h>

#include <algorithm>
#include <string>

namespace tollavar {

using namespace datagroupxml;

DatagroupDocument::Open& DatagroupDocument::requireDocument(const char* operation) const
{
    if (!m_open->live)
        throw Failure(ErrorCode::InvalidCall, kSource, std::string(operation) + " without a current document");
    return *m_open;
}

DatagroupDocument::Open& DatagroupDocument::requireObject(const char* operation) const
{
    Open& open = requireDocument(operation);
    if (open.objectAt == std::string::npos)
        throw Failure(ErrorCode::InvalidCall, kSource, std::string(operation) + " without an OBJECT");
    return open;
}

void DatagroupDocument::appendOpen(Bytes& out) const
{
    const Open& open = *m_open;
    if (!open.live)
        return;
    std::string& text = m_scratch;
    text.clear();
    text += '<';
    text += m_documentTag;
    text += " DOCID=\"";
    text += std::to_string(open.docId);
    text += '"';
    if (open.children.empty() && open.objectAt == std::string::npos) {
        text += "/>";
        out.append(text);
        return;
    }
    text += '>';
    const std::string_view children = open.children;
    if (open.objectAt == std::string::npos) {
        text += children;
    } else {
        text += children.substr(0, open.objectAt);
        text += "<OBJECT>";
        text += open.object;
        text += "</OBJECT>";
        text += children.substr(open.objectAt);
    }
    text += "</";
    text += m_documentTag;
    text += '>';
    out.append(text);
}

void DatagroupDocument::flushOpen()
{
    if (!m_open->live)
        return;
    appendOpen(*m_bytes);
    m_open->live = false;
    m_highestDocId = std::max(m_highestDocId, m_open->docId);
    m_documentsHoldElement = true;
}

bool DatagroupDocument::documentsEmpty() const
{
    return !m_documentsHadChild && m_bytes->size() == m_contentStart && !m_open->live;
}

void DatagroupDocument::beginDocument(const std::string& documentName, long docId)
{
    if (!m_frozen)
        throw Failure(ErrorCode::InvalidCall, kSource, "A document was added before DOCUMENTS was located");
    if (documentName != m_documentName || m_documentTag.empty()) {
        checkName(documentName, "Document element name");
        m_documentTag.clear();
        appendEscaped(m_documentTag, documentName);
        m_documentName = documentName;
    }
    flushOpen();
    m_bytes->append(std::string_view(kLayoutTexts[3], 5));
    Open& open = *m_open;
    open.live = true;
    open.docId = docId;
    open.children.clear();
    open.object.clear();
    open.objectAt = open.file1At = std::string::npos;
}

void DatagroupDocument::beginObject()
{
    Open& open = requireDocument("The OBJECT was opened");
    if (open.objectAt != std::string::npos) {
        // A second OBJECT: the first one is complete.
        open.children.insert(open.objectAt, "<OBJECT>" + open.object + "</OBJECT>");
        open.object.clear();
        open.file1At = std::string::npos;
    }
    appendLayoutText(open.children, 4);
    open.children += "<DUPEID>0</DUPEID>";
    appendLayoutText(open.children, 4);
    open.objectAt = open.children.size();
    appendLayoutText(open.object, 5);
}

void DatagroupDocument::setImagePath(std::string_view path)
{
    checkCarried(path, "The image path");
    Open& open = requireObject("The image path was written");
    open.file1At = open.object.size();
    appendTextElement(open.object, "FILE1", path);
    open.file1Length = open.object.size() - open.file1At;
    appendLayoutText(open.object, 5);
    const std::string extension = FileTools::extensionPart(path);
    open.object += extension == "TIF" || extension == "JPG" ? "<OBJTYPE>1</OBJTYPE>" : "<OBJTYPE>2</OBJTYPE>";
    appendLayoutText(open.object, 5);
}

void DatagroupDocument::setPages(std::string_view pages)
{
    checkCarried(pages, "The page count");
    Open& open = requireObject("The page count was written");
    appendTextElement(open.object, "PAGES", pages);
    appendLayoutText(open.object, 4);
}

void DatagroupDocument::addIndexField(std::string_view name, std::string_view value, bool lastColumn)
{
    if (!xmlCanCarry(name))
        throw notCarried("Field name '" + std::string(name) + "'");
    if (!xmlCanCarry(value))
        throw notCarried("Field '" + std::string(name) + "'");
    Open& open = requireDocument("An index field was written");
    // The last column's field follows the element before it without a line break, and its inner
    // layout runs two tabs deeper: the datagroup format has always looked so.
    const int inner = lastColumn ? 6 : 5;
    const int closing = lastColumn ? 6 : 4;
    std::string& out = open.children;
    if (!lastColumn)
        appendLayoutText(out, 4);
    out += "<DOCINDEXFIELD>";
    appendLayoutText(out, inner);
    appendTextElement(out, "NAME", name);
    appendLayoutText(out, inner);
    appendTextElement(out, "VALUE", value);
    appendLayoutText(out, closing);
    out += "</DOCINDEXFIELD>";
}

void DatagroupDocument::endDocument()
{
    // After a drop the closing layout would go into the removed element, which no longer shows.
    if (m_open->live)
        appendLayoutText(m_open->children, 3);
}

void DatagroupDocument::dropCurrentDocument()
{
    // The layout before it stays, so a dropped document leaves an empty line behind.
    m_open->live = false;
}

void DatagroupDocument::changeFile1(std::string_view newPath)
{
    checkCarried(newPath, "The image path");
    // FILE1 itself, wherever it stands in OBJECT: a PAGECOUNT column read before the image path puts
    // PAGES first, and rewriting "the second child" would then corrupt the page count and leave FILE1
    // naming the image that was already there.
    Open& open = *m_open;
    if (!open.live || open.file1At == std::string::npos)
        return;
    std::string element;
    appendTextElement(element, "FILE1", newPath);
    open.object.replace(open.file1At, open.file1Length, element);
    open.file1Length = element.size();
}

namespace {

// The bytes as reading them back would keep them: every raw CR starts layout (a CR in a value is
// written "&#13;"), and layout runs over line breaks and tabs.
std::string withoutLayout(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        if (bytes[at] != '\r') {
            out += bytes[at++];
            continue;
        }
        while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n' || bytes[at] == '\t'))
            ++at;
    }
    return out;
}

} // namespace

bool DatagroupDocument::replaceEarlierDocument(std::string_view imagePath)
{
    Open& open = requireObject("An earlier document was replaced");
    // FILE1 is written one way only and holds no markup, so its element alone finds the document: an
    // index value that looks like it has its "<" escaped. The header holds no FILE1.
    std::string file1;
    appendTextElement(file1, "FILE1", imagePath);
    const std::string_view bytes = m_bytes->view();
    const size_t named = bytes.rfind(file1);
    if (named == std::string_view::npos)
        return false;
    // The document element around it; "<DOCUMENTS" is no match.
    const std::string startTag = "<" + m_documentTag;
    size_t start = bytes.rfind(startTag, named);
    while (start != std::string_view::npos) {
        const char after = bytes[start + startTag.size()];
        if (after == ' ' || after == '>')
            break;
        start = start == 0 ? std::string_view::npos : bytes.rfind(startTag, start - 1);
    }
    const std::string endTag = "</" + m_documentTag + ">";
    const size_t innerStart = start == std::string_view::npos ? start : bytes.find('>', start);
    const size_t end = bytes.find(endTag, named);
    if (start == std::string_view::npos || innerStart == std::string_view::npos || innerStart > named ||
        end == std::string_view::npos)
        return false;
    const size_t oldEnd = end + endTag.size();

    // The current document as it would be written, from the end of its start tag on; in the part that
    // was read back (an existing file, or saved by an earlier index file) without its layout, as the
    // rest of that part is.
    endDocument();
    Bytes written;
    appendOpen(written);
    const std::string_view current = written.view();
    std::string inner(current.substr(current.find('>') + 1));
    if (start < m_strippedTo)
        inner = withoutLayout(inner);
    // The layout written for the current document goes with it: it leaves no empty line.
    std::string_view rest = bytes.substr(oldEnd);
    if (rest.ends_with(std::string_view(kLayoutTexts[3], 5)))
        rest.remove_suffix(5);
    const std::string after(rest);
    const auto shifted = [&](size_t& at) {
        if (at >= oldEnd)
            at = at - (oldEnd - innerStart - 1) + inner.size();
    };
    shifted(m_contentStart);
    shifted(m_strippedTo);
    m_bytes->truncate(innerStart + 1);
    m_bytes->append(inner);
    m_bytes->append(after);
    open.live = false;
    return true;
}

void DatagroupDocument::closeNewDocument()
{
    if (!m_frozen || m_parsed)
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document has no header to close");
    flushOpen();
    m_bytes->append(std::string_view(kLayoutTexts[2], 4));
    m_closed = true;
}

// The end of the file after the documents: an empty DOCUMENTS is written <DOCUMENTS/>, as libxml2
// writes an element without children.
void DatagroupDocument::appendTail(Bytes& out) const
{
    const std::string& tail = m_closed ? m_tailClosed : m_tailOpen;
    if (documentsEmpty() && out.size() > 0 && out.view().back() == '>') {
        out.truncate(out.size() - 1);
        out.append("/>");
        out.append(std::string_view(tail).substr(m_documentsEndTag));
    } else {
        out.append(tail);
    }
}

// The whole file's bytes, from the document's own bytes with the current document and the tail added for
// the moment: a copy of a datagroup of a million documents would double what the run needs.
template <class Use> void DatagroupDocument::withWholeFile(Use&& use) const
{
    Bytes& bytes = *m_bytes;
    const size_t kept = bytes.size();
    const bool empty = documentsEmpty();
    const auto restore = [&] {
        bytes.truncate(empty ? kept - 1 : kept);
        if (empty)
            bytes.append(">");
    };
    try {
        appendOpen(bytes);
        appendTail(bytes);
        use(bytes.view());
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

std::string DatagroupDocument::serialize() const
{
    if (!m_frozen) {
        if (!m_doc || !xmlDocGetRootElement(m_doc))
            throw Failure(ErrorCode::InvalidCall, kSource, "The XML document is empty");
        Bytes out;
        serializeTree(out, nullptr, nullptr);
        return std::string(out.view());
    }
    std::string whole;
    withWholeFile([&whole](std::string_view bytes) { whole.assign(bytes); });
    return whole;
}

void DatagroupDocument::save(const std::string& path) const
{
    if (!m_frozen) {
        files::writeFileAtomic(path, serialize());
        return;
    }
    withWholeFile([&path](std::string_view bytes) { files::writeFileAtomic(path, bytes); });
}

void DatagroupDocument::saveWith(const std::function<void(std::string_view)>& write) const
{
    if (!m_frozen) {
        write(serialize());
        return;
    }
    withWholeFile([&write](std::string_view bytes) { write(bytes); });
}

std::optional<long> DatagroupDocument::reopenSaved()
{
    if (!m_frozen)
        return std::nullopt;
    flushOpen();
    // A DOCID the file holds that reading it back would refuse must be refused the same way.
    if (m_highestDocId > 32767 || m_highestDocId < -32768)
        return std::nullopt;
    Bytes& bytes = *m_bytes;
    // Reading the file back would keep layout that follows text as part of that text, and white space
    // in an element it does not know as a container as its value.
    if (bytes.size() > m_contentStart &&
        (!m_documentsEndsInElement || (!m_documentsIsContainer && !m_documentsHoldElement)))
        return std::nullopt;
    // Every raw CR in what this document wrote starts layout: a CR in a value is written "&#13;".
    char* const data = bytes.data();
    size_t write = m_strippedTo;
    size_t contentStart = m_contentStart;
    for (size_t read = m_strippedTo; read < bytes.size();) {
        if (read == m_contentStart)
            contentStart = write;
        if (data[read] != '\r') {
            data[write++] = data[read++];
            continue;
        }
        while (read < bytes.size() && (data[read] == '\r' || data[read] == '\n' || data[read] == '\t'))
            ++read;
        // An element that held nothing but layout is read back as an empty one.
        const std::string_view rest(data + read, bytes.size() - read);
        const std::string_view done(data, write);
        if (rest.size() < 2 || rest[0] != '<' || rest[1] != '/' || done.empty() || done.back() != '>')
            continue;
        const size_t open = done.rfind('<');
        if (open == std::string_view::npos || done[open + 1] == '/' || done[open + 1] == '!' || done[open + 1] == '?' ||
            done[done.size() - 2] == '/')
            continue;
        const std::string_view tag = done.substr(open + 1, done.find_first_of(" >", open + 1) - open - 1);
        if (!isContainer(xmlText(std::string(tag).c_str())))
            return std::nullopt;
        data[write - 1] = '/';
        data[write++] = '>';
        read += rest.find('>') + 1;
    }
    if (m_contentStart == bytes.size())
        contentStart = write;
    bytes.truncate(write);
    m_contentStart = contentStart;
    m_strippedTo = write;
    m_closed = false;
    m_parsed = true;
    m_documentsEndsInElement = true;
    return m_highestDocId;
}

} // namespace tollavar
