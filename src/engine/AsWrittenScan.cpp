#include "engine/AsWrittenScan.h"

#include "engine/DatagroupXmlText.h"
#include "engine/NumberText.h"
#include "filetools/Windows1252.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tollavar {

using namespace datagroupxml;

namespace {

bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// A reference the serializer writes back as it stands: the escapes of "<", ">", "&" (and of '"', tab
// and LF in an attribute), CR, and a decimal reference to a character windows-1252 lacks.
bool isCanonicalReference(std::string_view text, size_t at, bool attribute, size_t& length)
{
    static const std::string_view always[] = {"&lt;", "&gt;", "&amp;", "&#13;"};
    static const std::string_view inAttribute[] = {"&quot;", "&#9;", "&#10;"};
    const std::string_view rest = text.substr(at);
    for (std::string_view reference : always)
        if (rest.starts_with(reference))
            return length = reference.size(), true;
    if (attribute)
        for (std::string_view reference : inAttribute)
            if (rest.starts_with(reference))
                return length = reference.size(), true;
    if (rest.size() < 4 || rest[1] != '#' || rest[2] < '1' || rest[2] > '9')
        return false;
    unsigned long codePoint = 0;
    size_t i = 2;
    for (; i < rest.size() && i < 10 && rest[i] >= '0' && rest[i] <= '9'; ++i)
        codePoint = codePoint * 10 + static_cast<unsigned long>(rest[i] - '0');
    if (i >= rest.size() || rest[i] != ';' || codePoint > 0x10FFFF || codePoint < 0x80 ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE || codePoint == 0xFFFF ||
        cp1252::fromUnicode(static_cast<char32_t>(codePoint)) >= 0)
        return false;
    length = i + 1;
    return true;
}

// Character data that is written back as it stands.
bool isCanonicalText(std::string_view text, bool attribute)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '&') {
            size_t length = 0;
            if (!isCanonicalReference(text, i, attribute, length))
                return false;
            i += length;
            continue;
        }
        if (c == '>' || c == '\r' || c == '<' || (attribute && (c == '"' || c == '\t' || c == '\n')) ||
            (c < 0x20 && c != '\t' && c != '\n'))
            return false;
        ++i;
    }
    return true;
}

bool isLayoutRun(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        if (text.substr(i, 2) != "\r\n")
            return false;
        for (i += 2; i < text.size() && text[i] == '\t'; ++i) {
        }
    }
    return !text.empty();
}

bool isBlankRun(std::string_view text)
{
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            return false;
    return true;
}

bool isBlankWithCarriageReturns(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        if (text.substr(i, 5) == "&#13;") {
            i += 5;
        } else if (text[i] == ' ' || text[i] == '\t' || text[i] == '\n') {
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

// Numbers written with references or other than ASCII are left to the parser to read.
bool isPlainText(std::string_view value)
{
    for (char c : value)
        if (c == '&' || static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

AsWritten scanAsWritten(std::string_view in, char* out)
{
    struct Element
    {
        std::string_view name;
        bool hadChild = false, droppedLayout = false, lastIsElement = false, holdsElement = false;
        // For the children of DOCUMENTS (depth 2): its last element and the DOCIDs held.
        bool lastElementNumbered = true;
        long lastElementDocId = 0, highestDocId = LONG_MIN;
    };
    struct Closed
    {
        bool valid = false, selfClosed = false;
        Element element;
        size_t contentEnd = 0;
    };
    AsWritten result;
    std::vector<Element> open;
    Closed lastOfDepth2, documentsCandidate; // DOCUMENTS: the last element of the last element of the root
    bool rootClosed = false, rootEndsInElement = false, projectEndsInElement = false;
    size_t o = 0;
    size_t i = 0;
    const auto emit = [&](std::string_view bytes) {
        std::memcpy(out + o, bytes.data(), bytes.size());
        o += bytes.size();
    };
    while (i < in.size()) {
        if (in[i] != '<') {
            const size_t end = in.find('<', i);
            if (end == std::string_view::npos || open.empty())
                return {};
            const std::string_view text = in.substr(i, end - i);
            Element& parent = open.back();
            if (isLayoutRun(text)) {
                // Layout after text would be read back as part of that text.
                if (out[o - 1] != '>')
                    return {};
                parent.droppedLayout = true;
            } else if (isBlankRun(text)) {
                // White space that is all a value holds stays; anywhere else it is layout to the parser.
                if (parent.hadChild || parent.droppedLayout || in.substr(end, 2) != "</" ||
                    isContainer(xmlText(std::string(parent.name).c_str())))
                    return {};
                emit(text);
                parent.hadChild = true;
                parent.lastIsElement = false;
            } else {
                // A CR written as a reference is white space too, which the parser judges as it reads.
                if (!isCanonicalText(text, false) || isBlankWithCarriageReturns(text))
                    return {};
                emit(text);
                parent.hadChild = true;
                parent.lastIsElement = false;
            }
            i = end;
            continue;
        }
        if (rootClosed)
            return {};
        if (in.substr(i, 2) == "</") {
            if (open.empty())
                return {};
            Element element = open.back();
            open.pop_back();
            const size_t nameEnd = i + 2 + element.name.size();
            if (in.substr(i + 2, element.name.size()) != element.name || nameEnd >= in.size() || in[nameEnd] != '>')
                return {};
            i = nameEnd + 1;
            Closed closed;
            closed.valid = true;
            closed.element = element;
            if (!element.hadChild) {
                // Nothing but layout: a container reads back empty; anything else would keep it as its value.
                if (element.droppedLayout && !isContainer(xmlText(std::string(element.name).c_str())))
                    return {};
                out[o - 1] = '/';
                out[o++] = '>';
                closed.selfClosed = true;
                closed.contentEnd = o - 2;
            } else {
                closed.contentEnd = o;
                emit("</");
                emit(element.name);
                emit(">");
            }
            if (!open.empty()) {
                Element& parent = open.back();
                parent.hadChild = parent.lastIsElement = parent.holdsElement = true;
            }
            if (open.size() == 2)
                lastOfDepth2 = closed;
            else if (open.size() == 1) {
                documentsCandidate = lastOfDepth2;
                projectEndsInElement = element.lastIsElement;
                lastOfDepth2 = Closed{};
            } else if (open.empty()) {
                rootClosed = true;
                rootEndsInElement = element.lastIsElement;
            }
            continue;
        }
        // A start tag: the name, then ' NAME="value"' for each attribute, then ">" or "/>".
        size_t at = i + 1;
        if (at >= in.size() || !isNameStart(in[at]))
            return {};
        while (at < in.size() && isNameChar(in[at]))
            ++at;
        Element element;
        element.name = in.substr(i + 1, at - i - 1);
        std::string_view firstValue;
        bool hasAttribute = false;
        std::string_view docIdValue;
        bool hasDocId = false;
        while (at < in.size() && in[at] == ' ') {
            const size_t nameStart = ++at;
            if (at >= in.size() || !isNameStart(in[at]))
                return {};
            while (at < in.size() && isNameChar(in[at]))
                ++at;
            const std::string_view attributeName = in.substr(nameStart, at - nameStart);
            if (in.substr(at, 2) != "=\"")
                return {};
            at += 2;
            const size_t valueEnd = in.find('"', at);
            if (valueEnd == std::string_view::npos)
                return {};
            const std::string_view value = in.substr(at, valueEnd - at);
            if (!isCanonicalText(value, true))
                return {};
            if (!hasAttribute)
                firstValue = value;
            hasAttribute = true;
            if (attributeName == "DOCID") {
                docIdValue = value;
                hasDocId = true;
            }
            at = valueEnd + 1;
        }
        bool selfClosed = false;
        if (in.substr(at, 2) == "/>") {
            selfClosed = true;
            at += 2;
        } else if (at < in.size() && in[at] == '>') {
            ++at;
        } else {
            return {};
        }
        emit(in.substr(i, at - i));
        i = at;
        if (open.size() > 3 && hasDocId) {
            // Deeper inside DOCUMENTS: a DOCID held there is never written again either.
            if (!isPlainText(docIdValue))
                return {};
            if (const std::optional<long long> held = parseInt16(docIdValue))
                open[2].highestDocId = std::max(open[2].highestDocId, static_cast<long>(*held));
        }
        if (open.size() == 3) {
            // A child of DOCUMENTS: the last one must say its number; a higher DOCID held anywhere counts.
            Element& documents = open.back();
            if ((hasAttribute && !isPlainText(firstValue)) || (hasDocId && !isPlainText(docIdValue)))
                return {};
            const std::optional<long long> first = hasAttribute ? parseInt16(firstValue) : std::nullopt;
            documents.lastElementNumbered = first.has_value();
            documents.lastElementDocId = first ? static_cast<long>(*first) : 0;
            if (const std::optional<long long> held = hasDocId ? parseInt16(docIdValue) : std::nullopt)
                documents.highestDocId = std::max(documents.highestDocId, static_cast<long>(*held));
        }
        if (selfClosed) {
            if (open.empty())
                return {};
            Element& parent = open.back();
            parent.hadChild = parent.lastIsElement = parent.holdsElement = true;
            Closed closed;
            closed.valid = true;
            closed.selfClosed = true;
            closed.element = element;
            closed.contentEnd = o - 2;
            if (open.size() == 2) {
                lastOfDepth2 = closed;
            } else if (open.size() == 1) {
                // A PROJECT without children has no DOCUMENTS.
                documentsCandidate = Closed{};
                projectEndsInElement = false;
            }
            continue;
        }
        open.push_back(element);
    }
    if (!rootClosed || !open.empty() || !rootEndsInElement || !projectEndsInElement || !documentsCandidate.valid)
        return {};
    const Element& documents = documentsCandidate.element;
    // Anything else where DOCUMENTS belongs is refused, with the tree's words.
    if (documents.name != "DOCUMENTS" || (documents.holdsElement && !documents.lastElementNumbered))
        return {};
    result.ok = true;
    result.length = o;
    result.documentsContent = documentsCandidate.contentEnd;
    result.documentsSelfClosed = documentsCandidate.selfClosed;
    result.documentsName = documents.name;
    result.documentsHadChild = documents.hadChild;
    result.documentsEndsInElement = !documents.hadChild || documents.lastIsElement;
    result.documentsHoldElement = documents.holdsElement;
    result.highestDocId = documents.holdsElement ? std::max(documents.lastElementDocId, documents.highestDocId) : 0;
    return result;
}

std::optional<std::string> whyNotWellFormed(std::string_view text)
{
    if (text.size() > static_cast<size_t>(INT_MAX))
        return "the file is too large";
    xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (!context)
        return "out of memory";
    xmlSAXHandler nothing;
    std::memset(&nothing, 0, sizeof nothing);
    nothing.initialized = XML_SAX2_MAGIC;
    xmlSAXHandlerPtr own = context->sax;
    context->sax = &nothing;
    context->userData = nullptr;
    xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC);
    xmlSwitchEncoding(context, XML_CHAR_ENCODING_UTF8);
    std::optional<std::string> reason;
    if (xmlParseDocument(context) != 0 || !context->wellFormed) {
        const xmlError& error = context->lastError;
        reason = error.message ? error.message : "not well formed";
        while (!reason->empty() && (reason->back() == '\n' || reason->back() == ' '))
            reason->pop_back();
        if (error.line > 0)
            *reason += " (line " + std::to_string(error.line) + ")";
    }
    context->sax = own;
    xmlFreeParserCtxt(context);
    return reason;
}

} // namespace tollavar
