#include "engine/DatagroupDocument.h"

#include "engine/NumberText.h"
#include "engine/XmlWindows1252.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/Windows1252.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iconv.h>

namespace tollavar {

namespace {

constexpr char kSource[] = "XML Document";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
constexpr int kDeepestLayout = 6;

// Element names, in the order of kNameTexts.
enum Name : int
{
    DGNUMBER,
    DGCOMPNAME,
    DGCOMPID,
    PROJECT,
    NAME,
    DOCINDEXFIELDS,
    DOCUMENTS,
    DOCINDEXFIELD,
    TYPE,
    FORMAT,
    REQUIRED,
    DUPEID,
    OBJECT,
    FILE1,
    OBJTYPE,
    PAGES,
    VALUE,
    NameCount
};
constexpr const char* kNameTexts[NameCount] = {
    "DGNUMBER", "DGCOMPNAME", "DGCOMPID", "PROJECT", "NAME",  "DOCINDEXFIELDS", "DOCUMENTS", "DOCINDEXFIELD", "TYPE",
    "FORMAT",   "REQUIRED",   "DUPEID",   "OBJECT",  "FILE1", "OBJTYPE",        "PAGES",     "VALUE",
};

const xmlChar* xmlText(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

Failure outOfMemory()
{
    return Failure(7, kSource, "Out of memory");
}

template <typename T> T* must(T* pointer)
{
    if (!pointer)
        throw outOfMemory();
    return pointer;
}

// XML 1.0 has no place for most control characters nor for U+FFFE and U+FFFF; a file holding one is
// not well formed, and nothing (this program included) would read it back.
bool xmlCanCarry(std::string_view text)
{
    size_t pos = 0;
    while (pos < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++pos;
            continue;
        }
        const char32_t cp = utf8::next(text, pos);
        if (cp == 0xFFFFFFFF || cp == 0xFFFE || cp == 0xFFFF)
            return false;
    }
    return true;
}

Failure notCarried(const std::string& what)
{
    return Failure(ErrorCode::InvalidCall, kSource, what + " holds a character XML cannot carry");
}

void checkCarried(std::string_view text, const char* what)
{
    if (!xmlCanCarry(text))
        throw notCarried(what);
}

void checkName(const std::string& name, const char* what)
{
    if (xmlValidateName(xmlText(name.c_str()), 0) != 0)
        throw Failure(ErrorCode::InvalidCall, kSource, std::string(what) + " '" + name + "' is not an XML name");
}

std::string upperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool isDeclaredField(const std::string& name)
{
    const std::string upper = upperAscii(name);
    return upper != "SKIP" && upper != "BATCHID" && upper != "IMAGEPATH" && upper != "PAGECOUNT" && upper != "END";
}

void link(xmlNodePtr parent, xmlNodePtr child)
{
    // Linked by hand rather than with xmlAddChild, which merges neighbouring text nodes: a layout node
    // stays a node of its own even beside the layout a dropped document left behind.
    child->parent = parent;
    child->doc = parent->doc;
    if (!parent->last) {
        parent->children = child;
    } else {
        child->prev = parent->last;
        parent->last->next = child;
    }
    parent->last = child;
}

bool isBlankChar(xmlChar c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(const xmlChar* text, int length)
{
    for (int i = 0; i < length; ++i)
        if (!isBlankChar(text[i]))
            return false;
    return true;
}

bool isBlank(const xmlChar* text)
{
    for (; *text; ++text)
        if (!isBlankChar(*text))
            return false;
    return true;
}

// Elements that only ever hold other elements and their layout. White space that is all such an
// element holds is the layout of an empty one (an empty DOCUMENTS, a line without image path); in any
// other element it is a value, such as a field of tabs or of line breaks, and stays.
bool isContainer(const xmlChar* name)
{
    static const char* const containers[] = {"REZI_DATAGRP", "PROJECT",  "DOCINDEXFIELDS", "DOCINDEXFIELD",
                                             "DOCUMENTS",    "DOCUMENT", "OBJECT"};
    for (const char* container : containers)
        if (xmlStrEqual(name, xmlText(container)))
            return true;
    return false;
}

bool isLayout(xmlNodePtr text, bool parentHoldsElements)
{
    return text->type == XML_TEXT_NODE && text->content && isBlank(text->content) &&
           (parentHoldsElements || isContainer(text->parent->name));
}

// The existing part of a datagroup is saved back without its layout: white space between elements goes,
// white space that is all a value holds stays. The parser drops most layout as it reads (below); this
// pass catches what it delivered in pieces.
void dropLayoutText(xmlNodePtr root)
{
    std::vector<xmlNodePtr> pending{root};
    while (!pending.empty()) {
        xmlNodePtr element = pending.back();
        pending.pop_back();
        bool holdsElements = false;
        for (xmlNodePtr child = element->children; child && !holdsElements; child = child->next)
            holdsElements = child->type == XML_ELEMENT_NODE;
        for (xmlNodePtr child = element->children; child;) {
            xmlNodePtr next = child->next;
            if (isLayout(child, holdsElements)) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            } else if (child->type == XML_ELEMENT_NODE) {
                pending.push_back(child);
            }
            child = next;
        }
    }
}

// Character data as the parser reads it. Layout is recognised by what follows it in the input and
// never becomes a node: a large datagroup holds more layout nodes than elements, and making and freeing
// them was most of the time an extension took. (libxml2's own blank heuristics keep or drop by rules
// that lose values, so they stay off.)
// Set when the parse at hand kept some white space (a parse context's own fields are libxml2's to reset).
thread_local bool t_keptWhiteSpace = false;

void charactersWithoutLayout(void* parserContext, const xmlChar* text, int length)
{
    auto* context = static_cast<xmlParserCtxtPtr>(parserContext);
    xmlNodePtr node = context->node;
    // White space that continues a text (the parser delivers text in pieces) belongs to that text.
    const bool continuesText = node && node->last && node->last->type == XML_TEXT_NODE;
    if (node && !continuesText && context->input && context->input->cur && isBlank(text, length)) {
        // What follows the text: the parser hands over text that lies in its input before it moves on,
        // and text it had to copy (line ends, long runs) after it has moved on.
        const xmlParserInputPtr input = context->input;
        const bool inInput = input->base && text >= input->base && text < input->end;
        const xmlChar* next = inInput ? text + length : input->cur;
        const bool elementFollows = next[0] == '<' && next[1] != '/' && next[1] != '!' && next[1] != '?';
        const bool closes = next[0] == '<' && next[1] == '/';
        const bool afterElement = node->last && node->last->type == XML_ELEMENT_NODE;
        if (elementFollows || (closes && (afterElement || (!node->children && isContainer(node->name)))))
            return;
    }
    if (isBlank(text, length))
        t_keptWhiteSpace = true;
    xmlSAX2Characters(parserContext, text, length);
}

constexpr const char* kLayoutTexts[kDeepestLayout + 1] = {
    "\r\n", "\r\n\t", "\r\n\t\t", "\r\n\t\t\t", "\r\n\t\t\t\t", "\r\n\t\t\t\t\t", "\r\n\t\t\t\t\t\t",
};

void appendLayoutText(std::string& out, int tabs)
{
    out.append(kLayoutTexts[tabs], 2 + static_cast<size_t>(tabs));
}

// Text as libxml2 writes it in windows-1252: "<", ">", "&" and CR escaped, a character the code page
// lacks as a decimal character reference. The saved bytes must not depend on which of the two wrote them.
void appendEscaped(std::string& out, std::string_view text)
{
    size_t run = 0;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 && c != '<' && c != '>' && c != '&' && c != '\r') {
            ++i;
            continue;
        }
        out.append(text.data() + run, i - run);
        if (c < 0x80) {
            out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : "&#13;";
            ++i;
        } else {
            const char32_t cp = utf8::next(text, i);
            const int byte = cp == 0xFFFFFFFF ? -1 : cp1252::fromUnicode(cp);
            if (byte >= 0) {
                out.push_back(static_cast<char>(byte));
            } else {
                out += "&#";
                out += std::to_string(static_cast<unsigned long>(cp));
                out += ';';
            }
        }
        run = i;
    }
    out.append(text.data() + run, i - run);
}

// An element holding one text, or none: libxml2 writes an element without a child as <NAME/>.
void appendTextElement(std::string& out, std::string_view name, std::string_view text)
{
    out += '<';
    out += name;
    if (text.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    appendEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

std::string upperEncodingName(std::string_view name)
{
    std::string upper;
    for (char c : name)
        if (c != '-' && c != '_')
            upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    return upper;
}

// The encoding that the XML declaration at the start of the bytes names; empty without one.
std::string declaredEncoding(std::string_view bytes)
{
    if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !isBlankChar(static_cast<xmlChar>(bytes[5])))
        return {};
    const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
    size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at += 8;
    while (at < declaration.size() && isBlankChar(static_cast<xmlChar>(declaration[at])))
        ++at;
    if (at >= declaration.size() || declaration[at] != '=')
        return {};
    ++at;
    while (at < declaration.size() && isBlankChar(static_cast<xmlChar>(declaration[at])))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos)
        return {};
    return std::string(declaration.substr(at + 1, end - at - 1));
}

// Bytes in an encoding glibc knows, to UTF-8, in one piece. False when the encoding is unknown or the
// bytes are not in it.
bool decodeWithIconv(const std::string& encoding, std::string_view bytes, std::string& out)
{
    iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    size_t used = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* o = out.data() + used;
        size_t outLeft = out.size() - used;
        const size_t result = iconv(converter, &in, &inLeft, &o, &outLeft);
        used = out.size() - outLeft;
        if (result == static_cast<size_t>(-1)) {
            if (errno != E2BIG) {
                ok = false;
                break;
            }
            out.resize(out.size() * 2);
        }
    }
    iconv_close(converter);
    out.resize(used);
    return ok;
}

// The existing file's text as UTF-8, read in the encoding it declares (UTF-8 when it declares none,
// as XML has it). Empty `error` when the bytes are what the file says they are.
std::string decodeExisting(std::string_view bytes, std::string& error)
{
    std::string declared = declaredEncoding(bytes);
    const bool marked = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
    const bool utf16 = bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF");
    if (marked) {
        bytes.remove_prefix(3);
        declared = declaredEncoding(bytes);
        const std::string upper = upperEncodingName(declared);
        if (!declared.empty() && upper != "UTF8") {
            error = "the file begins with a UTF-8 mark but declares the encoding " + declared;
            return {};
        }
        declared = "UTF-8";
    }
    if (utf16)
        declared = "UTF-16";
    const std::string upper = upperEncodingName(declared);
    if (declared.empty() || upper == "UTF8") {
        if (!utf8::isValid(bytes)) {
            error = std::string("the file's bytes are not UTF-8, the encoding it ") +
                    (declared.empty() ? "has without a declaration" : "declares");
            return {};
        }
        return std::string(bytes);
    }
    if (upper == "WINDOWS1252" || upper == "CP1252") {
        // Every byte has a character here; an all-ASCII file (the usual one) needs no decoding.
        return utf8::hasNonAscii(bytes) ? cp1252::decode(bytes) : std::string(bytes);
    }
    std::string decoded;
    if (!decodeWithIconv(declared, bytes, decoded)) {
        error = "the file's bytes are not in the encoding it declares, " + declared;
        return {};
    }
    return decoded;
}

// A file as this program writes it, recognised byte by byte: its declaration, elements with ASCII names
// and double-quoted attributes, text whose every reference is one the serializer would write again, and
// layout (CR LF and tabs) only between tags. For such a file, reading it and writing it back is taking
// out its layout and writing an element that held nothing but layout as an empty one, so the bytes
// need not become a tree at all. Anything else is left to the parser (`ok` false).
struct AsWritten
{
    bool ok = false;
    size_t length = 0;           // of the output
    size_t documentsContent = 0; // where DOCUMENTS' content ends in the output: its end tag, or its "/>"
    bool documentsSelfClosed = false;
    std::string_view documentsName;
    bool documentsHadChild = false;
    bool documentsEndsInElement = false;
    bool documentsHoldElement = false;
    long highestDocId = 0;
};

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

// `in` holds the file from its root on; `out` has room for as many bytes.
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
        if (open.size() == 3) {
            // A child of DOCUMENTS: the last one must say its number; a higher DOCID held anywhere counts.
            Element& documents = open.back();
            // Numbers written with references or other than ASCII are left to the parser to read.
            const auto plain = [](std::string_view value) {
                for (char c : value)
                    if (c == '&' || static_cast<unsigned char>(c) >= 0x80)
                        return false;
                return true;
            };
            if ((hasAttribute && !plain(firstValue)) || (hasDocId && !plain(docIdValue)))
                return {};
            const std::optional<long long> first = hasAttribute ? ParseInt16(firstValue) : std::nullopt;
            documents.lastElementNumbered = first.has_value();
            documents.lastElementDocId = first ? static_cast<long>(*first) : 0;
            if (const std::optional<long long> held = hasDocId ? ParseInt16(docIdValue) : std::nullopt)
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
    if (documents.holdsElement && !documents.lastElementNumbered)
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

// Whether the text is well formed XML, without building anything.
bool isWellFormed(std::string_view text)
{
    if (text.size() > static_cast<size_t>(INT_MAX))
        return false;
    xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (!context)
        return false;
    xmlSAXHandler nothing;
    std::memset(&nothing, 0, sizeof nothing);
    nothing.initialized = XML_SAX2_MAGIC;
    xmlSAXHandlerPtr own = context->sax;
    context->sax = &nothing;
    context->userData = nullptr;
    xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC);
    xmlSwitchEncoding(context, XML_CHAR_ENCODING_UTF8);
    const bool wellFormed = xmlParseDocument(context) == 0 && context->wellFormed;
    context->sax = own;
    xmlFreeParserCtxt(context);
    return wellFormed;
}

} // namespace

bool XmlCanCarry(std::string_view text)
{
    return xmlCanCarry(text);
}

// A growing byte buffer that gives its memory back to the allocator by realloc, which moves large
// blocks by remapping their pages rather than copying them: a doubling std::string would need twice
// the datagroup's size at the moment it grows.
class DatagroupDocument::Bytes
{
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(m_data); }

    void append(std::string_view text)
    {
        if (text.size() > m_capacity - m_size)
            reserve(m_size + text.size());
        if (!text.empty())
            std::memcpy(m_data + m_size, text.data(), text.size());
        m_size += text.size();
    }
    void truncate(size_t size) { m_size = std::min(size, m_size); }
    // Room for `count` more bytes, written by the caller, who then sets the size with resize.
    char* room(size_t count)
    {
        if (count > m_capacity - m_size)
            reserve(m_size + count);
        return m_data + m_size;
    }
    void resize(size_t size) { m_size = size; }
    size_t size() const { return m_size; }
    char* data() { return m_data; }
    std::string_view view() const { return {m_data, m_size}; }

private:
    void reserve(size_t needed)
    {
        const size_t capacity = std::max(needed, m_capacity + m_capacity / 2 + 4096);
        void* grown = std::realloc(m_data, capacity);
        if (!grown)
            throw outOfMemory();
        m_data = static_cast<char*>(grown);
        m_capacity = capacity;
    }

    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// The current document as its children will be written. OBJECT's children go on arriving after
// fields that follow it (a page count column after an index field), so OBJECT is kept apart and put in
// its place when the document is written.
struct DatagroupDocument::Open
{
    bool live = false;
    long docId = 0;
    std::string children;
    std::string object;
    size_t objectAt = std::string::npos;
    size_t file1At = std::string::npos;
    size_t file1Length = 0;
};

DatagroupDocument::DatagroupDocument() : m_bytes(std::make_unique<Bytes>()), m_open(std::make_unique<Open>())
{
    XmlWindows1252Handler();
}

DatagroupDocument::~DatagroupDocument()
{
    reset();
}

void DatagroupDocument::reset()
{
    if (m_doc)
        xmlFreeDoc(m_doc);
    m_doc = nullptr;
    m_root = m_project = m_documents = nullptr;
    m_layout.clear();
    m_names.clear();
    m_parseError.clear();
    m_bytes->truncate(0);
    m_open->live = false;
    m_frozen = m_closed = m_parsed = m_documentsHadChild = m_documentsEndsInElement = m_documentsHoldElement = false;
    m_documentsIsContainer = true;
    m_rootStart = m_strippedTo = m_contentStart = m_documentsEndTag = 0;
    m_tailOpen.clear();
    m_tailClosed.clear();
    m_highestDocId = 0;
}

void DatagroupDocument::prepareDictionary()
{
    if (!m_doc->dict)
        m_doc->dict = must(xmlDictCreate());
    // A parsed document names its own encoding after the declaration; the serializer writes non-ASCII
    // attribute text as hexadecimal references unless the document has one.
    if (m_doc->encoding)
        xmlFree(const_cast<xmlChar*>(m_doc->encoding));
    m_doc->encoding = must(xmlStrdup(xmlText(kXmlWindows1252)));
    std::string text = "\r\n";
    for (int tabs = 0; tabs <= kDeepestLayout; ++tabs, text.push_back('\t'))
        m_layout.push_back(must(xmlDictLookup(m_doc->dict, xmlText(text.c_str()), -1)));
    for (const char* name : kNameTexts)
        m_names.push_back(must(xmlDictLookup(m_doc->dict, xmlText(name), -1)));
}

xmlNodePtr DatagroupDocument::layout(int tabs)
{
    xmlNodePtr node = must(xmlNewDocText(m_doc, nullptr));
    node->content = const_cast<xmlChar*>(m_layout[static_cast<size_t>(tabs)]);
    // Written as it stands: escaped, the CR would come out as "&#13;".
    node->name = xmlStringTextNoenc;
    return node;
}

xmlNodePtr DatagroupDocument::appendLayout(xmlNodePtr parent, int tabs)
{
    xmlNodePtr node = layout(tabs);
    link(parent, node);
    return node;
}

xmlNodePtr DatagroupDocument::appendElement(xmlNodePtr parent, int name, std::string_view text)
{
    xmlNodePtr element =
        must(xmlNewDocNodeEatName(m_doc, nullptr, const_cast<xmlChar*>(m_names[static_cast<size_t>(name)]), nullptr));
    link(parent, element);
    // Without a text child an empty element is written as <FORMAT/>.
    if (!text.empty())
        link(element, must(xmlNewDocTextLen(m_doc, xmlText(text.data()), static_cast<int>(text.size()))));
    return element;
}

xmlNodePtr DatagroupDocument::appendElementShared(xmlNodePtr parent, int name, std::string_view sharedText)
{
    xmlNodePtr element = appendElement(parent, name, {});
    if (!sharedText.empty()) {
        xmlNodePtr text = must(xmlNewDocText(m_doc, nullptr));
        text->content = const_cast<xmlChar*>(
            must(xmlDictLookup(m_doc->dict, xmlText(sharedText.data()), static_cast<int>(sharedText.size()))));
        link(element, text);
    }
    return element;
}

void DatagroupDocument::buildHeader(const std::string& rootName, const DatagroupHeader& header,
                                    const std::vector<std::string>& fieldNames,
                                    const std::vector<std::string>& fieldTypes)
{
    checkName(rootName, "Root element name");
    checkCarried(header.dgNumber, "The datagroup number");
    checkCarried(header.companyName, "The company name");
    checkCarried(header.companyId, "The company ID");
    checkCarried(header.projectId, "The project ID");
    checkCarried(header.projectName, "The project name");
    for (size_t i = 0; i < fieldNames.size(); ++i) {
        if (!xmlCanCarry(fieldNames[i]))
            throw notCarried("Field name '" + fieldNames[i] + "'");
        if (i < fieldTypes.size() && !xmlCanCarry(fieldTypes[i]))
            throw notCarried("The type of field '" + fieldNames[i] + "'");
    }

    reset();
    m_doc = must(xmlNewDoc(xmlText("1.0")));
    prepareDictionary();
    m_root = must(xmlNewDocNode(m_doc, nullptr, xmlText(rootName.c_str()), nullptr));
    xmlDocSetRootElement(m_doc, m_root);

    appendLayout(m_root, 0);
    appendElement(m_root, DGNUMBER, header.dgNumber);
    appendLayout(m_root, 1);
    appendElement(m_root, DGCOMPNAME, header.companyName);
    appendLayout(m_root, 1);
    appendElement(m_root, DGCOMPID, header.companyId);
    appendLayout(m_root, 1);
    m_project = appendElement(m_root, PROJECT, {});
    must(xmlNewProp(m_project, xmlText("PROJID"), xmlText(header.projectId.c_str())));
    appendLayout(m_project, 2);
    appendElement(m_project, NAME, header.projectName);
    appendLayout(m_project, 2);
    xmlNodePtr declarations = appendElement(m_project, DOCINDEXFIELDS, {});
    appendLayout(m_project, 2);
    m_documents = appendElement(m_project, DOCUMENTS, {});

    for (size_t i = 0; i < fieldNames.size(); ++i) {
        if (!isDeclaredField(fieldNames[i]))
            continue;
        const std::string type = i < fieldTypes.size() ? fieldTypes[i] : std::string();
        appendLayout(declarations, 3);
        xmlNodePtr field = appendElement(declarations, DOCINDEXFIELD, {});
        appendLayout(field, 4);
        appendElement(field, NAME, fieldNames[i]);
        appendLayout(field, 4);
        appendElement(field, TYPE, type);
        appendLayout(field, 4);
        appendElement(field, FORMAT, upperAscii(type) == "DATE" ? "yyyy-mm-dd" : "");
        appendLayout(field, 4);
        appendElementShared(field, REQUIRED, "0");
        appendLayout(field, 3);
    }
    appendLayout(declarations, 2);
    freeze(true);
}

void DatagroupDocument::parseExisting(std::string_view bytes)
{
    reset();
    if (bytes.starts_with(kDeclaration) && adoptAsWritten(bytes))
        return;
    reset();
    // Decoded here in one piece rather than by libxml2 as it reads: libxml2 2.9 loses its place when a
    // long non-ASCII name straddles two of its decoding chunks and refuses a well-formed file.
    const std::string decoded = decodeExisting(bytes, m_parseError);
    if (!m_parseError.empty())
        return;
    const std::string_view text = decoded;
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        m_parseError = "the file is too large";
        return;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        m_parseError = "out of memory";
        return;
    }
    // The text is UTF-8 by now, whatever the declaration says. No network, no error printing; the
    // first error is kept for the report.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
    // Both hooks alike, so that libxml2 hands every piece of white space to ours and judges none itself.
    context->sax->characters = charactersWithoutLayout;
    context->sax->ignorableWhitespace = charactersWithoutLayout;
    t_keptWhiteSpace = false;
    xmlDocPtr doc = xmlCtxtReadMemory(context, text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", options);
    if (!doc || !context->wellFormed) {
        const xmlError& error = context->lastError;
        m_parseError = error.message ? error.message : "the file is not well formed";
        while (!m_parseError.empty() && (m_parseError.back() == '\n' || m_parseError.back() == ' '))
            m_parseError.pop_back();
        if (error.line > 0)
            m_parseError += " (line " + std::to_string(error.line) + ")";
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(context);
        return;
    }
    xmlFreeParserCtxt(context);
    m_doc = doc;
    try {
        prepareDictionary();
    } catch (const Failure&) {
        reset();
        m_parseError = "out of memory";
        return;
    }
    // Only white space the parser kept (a value, or layout it delivered in pieces) needs another look.
    if (t_keptWhiteSpace) {
        for (xmlNodePtr child = m_doc->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                dropLayoutText(child);
    }
}

bool DatagroupDocument::adoptAsWritten(std::string_view bytes)
{
    const size_t declaration = std::strlen(kDeclaration);
    Bytes& out = *m_bytes;
    char* area = out.room(bytes.size() + 1);
    std::memcpy(area, bytes.data(), declaration);
    const AsWritten scan = scanAsWritten(bytes.substr(declaration), area + declaration);
    if (!scan.ok)
        return false;
    std::string decoded;
    if (utf8::hasNonAscii(bytes))
        decoded = cp1252::decode(bytes);
    if (!isWellFormed(decoded.empty() ? bytes : std::string_view(decoded)))
        return false;
    const size_t end = declaration + scan.length;
    const size_t content = declaration + scan.documentsContent;
    const std::string endTag = "</" + std::string(scan.documentsName) + ">";
    out.resize(end);
    if (scan.documentsSelfClosed) {
        m_tailOpen = endTag + std::string(out.view().substr(content + 2));
        area[content] = '>';
        out.resize(content + 1);
    } else {
        m_tailOpen.assign(out.view().substr(content));
        out.resize(content);
    }
    m_tailClosed = m_tailOpen;
    m_documentsEndTag = endTag.size();
    m_rootStart = declaration;
    m_contentStart = m_strippedTo = out.size();
    m_documentsHadChild = scan.documentsHadChild;
    m_documentsEndsInElement = scan.documentsEndsInElement;
    m_documentsHoldElement = scan.documentsHoldElement;
    m_documentsIsContainer = isContainer(xmlText(endTag.substr(2, endTag.size() - 3).c_str()));
    m_highestDocId = scan.highestDocId;
    m_parsed = m_frozen = true;
    return true;
}

long DatagroupDocument::locateDocuments()
{
    if (m_frozen) {
        flushOpen();
        return m_highestDocId;
    }
    m_root = m_project = m_documents = nullptr;
    if (!m_doc) {
        throw Failure(ErrorCode::InvalidCall, kSource,
                      m_parseError.empty() ? std::string("The XML document is empty")
                                           : "The XML document is not well formed: " + m_parseError);
    }
    const auto lastElement = [](xmlNodePtr node) -> xmlNodePtr {
        xmlNodePtr last = node->last;
        return last && last->type == XML_ELEMENT_NODE ? last : nullptr;
    };
    xmlNodePtr root = lastElement(reinterpret_cast<xmlNodePtr>(m_doc));
    if (!root)
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document does not end with its root element");
    xmlNodePtr project = lastElement(root);
    if (!project) {
        throw Failure(ErrorCode::InvalidCall, kSource,
                      "The XML document's root element does not end with an element (PROJECT)");
    }
    xmlNodePtr documents = lastElement(project);
    if (!documents) {
        throw Failure(ErrorCode::InvalidCall, kSource,
                      "The XML document's PROJECT element does not end with an element (DOCUMENTS)");
    }

    const auto firstAttribute = [](xmlNodePtr element) {
        xmlChar* content = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(element->properties));
        std::string text = content ? reinterpret_cast<const char*>(content) : "";
        xmlFree(content);
        return text;
    };
    // The last element, whatever comes after it: a comment or a line of text added by hand must not
    // make the numbering start again at 1.
    xmlNodePtr lastDocument = documents->last;
    while (lastDocument && lastDocument->type != XML_ELEMENT_NODE)
        lastDocument = lastDocument->prev;
    long lastDocId = 0;
    if (lastDocument) {
        const std::string text = lastDocument->properties ? firstAttribute(lastDocument) : std::string();
        // Read the way the program reads every number: blanks around and a sign allowed, a fraction
        // rounded half to even.
        const std::optional<long long> docId = lastDocument->properties ? ParseInt16(text) : std::nullopt;
        if (!lastDocument->properties) {
            throw Failure(ErrorCode::InvalidCall, kSource,
                          "The last element of DOCUMENTS has no DOCID (no attribute at all)");
        }
        if (!docId) {
            throw Failure(ErrorCode::InvalidCall, kSource,
                          "The last DOCID \"" + text + "\" is not a whole number from -32768 to 32767");
        }
        lastDocId = static_cast<long>(*docId);
        // A hand-edited file may hold a higher DOCID before its last document; numbering on from the
        // last one would write that DOCID a second time.
        for (xmlNodePtr child = documents->children; child; child = child->next) {
            if (child->type != XML_ELEMENT_NODE)
                continue;
            xmlChar* held = xmlGetProp(child, xmlText("DOCID"));
            if (!held)
                continue;
            const std::optional<long long> number = ParseInt16(reinterpret_cast<const char*>(held));
            xmlFree(held);
            if (number && *number > lastDocId)
                lastDocId = static_cast<long>(*number);
        }
    }
    m_root = root;
    m_project = project;
    m_documents = documents;
    m_highestDocId = lastDocId;
    m_parsed = true;
    freeze(false);
    return lastDocId;
}

void DatagroupDocument::serializeTree(Bytes& out, xmlNodePtr marker, size_t* rootStart) const
{
    const auto append = [](void* context, const char* buffer, int length) -> int {
        try {
            static_cast<Bytes*>(context)->append(std::string_view(buffer, static_cast<size_t>(length)));
            return length;
        } catch (...) {
            return -1;
        }
    };
    if (marker)
        link(m_documents, marker);
    out.append(kDeclaration);
    // Node by node rather than the whole document: libxml2 would write its own declaration with a
    // bare line feed and end the file with a line break.
    xmlSaveCtxtPtr save = xmlSaveToIO(append, nullptr, &out, kXmlWindows1252, 0);
    bool failed = !save;
    for (xmlNodePtr child = m_doc->children; child && save; child = child->next) {
        if (child != m_doc->children) {
            failed = failed || xmlSaveFlush(save) < 0;
            out.append("\r\n");
        }
        if (rootStart && child == m_root) {
            failed = failed || xmlSaveFlush(save) < 0;
            *rootStart = out.size();
        }
        failed = failed || xmlSaveTree(save, child) < 0;
    }
    failed = (save && xmlSaveClose(save) < 0) || failed;
    if (marker) {
        xmlUnlinkNode(marker);
        marker->parent = nullptr;
    }
    if (failed)
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document could not be written in windows-1252");
}

// Writes the tree out up to DOCUMENTS' content and frees it. What follows that content is kept as a
// tail of its own, found by a marker that no XML text can hold.
void DatagroupDocument::freeze(bool newDocument)
{
    xmlNodePtr marker = must(xmlNewDocText(m_doc, nullptr));
    marker->content = const_cast<xmlChar*>(must(xmlDictLookup(m_doc->dict, xmlText("\x01"), 1)));
    marker->name = xmlStringTextNoenc;
    const auto split = [&](Bytes& out, std::string& tail) {
        const std::string_view all = out.view();
        const size_t at = all.rfind('\x01');
        if (at == std::string_view::npos)
            throw Failure(ErrorCode::InvalidCall, kSource, "The XML document could not be written in windows-1252");
        tail.assign(all.substr(at + 1));
        out.truncate(at);
    };
    try {
        m_bytes->truncate(0);
        serializeTree(*m_bytes, marker, &m_rootStart);
        split(*m_bytes, m_tailOpen);
        m_tailClosed = m_tailOpen;
        if (newDocument) {
            // The closing layout of PROJECT and the root; DOCUMENTS' own goes into its content.
            appendLayout(m_project, 1);
            appendLayout(m_root, 0);
            Bytes closed;
            serializeTree(closed, marker, nullptr);
            split(closed, m_tailClosed);
        }
    } catch (...) {
        xmlFreeNode(marker);
        throw;
    }
    xmlFreeNode(marker);
    m_contentStart = m_bytes->size();
    m_strippedTo = newDocument ? m_rootStart : m_contentStart;
    m_documentsHadChild = m_documents->children != nullptr;
    m_documentsHoldElement = false;
    for (xmlNodePtr child = m_documents->children; child && !m_documentsHoldElement; child = child->next)
        m_documentsHoldElement = child->type == XML_ELEMENT_NODE;
    m_documentsEndsInElement = !m_documents->last || m_documents->last->type == XML_ELEMENT_NODE;
    m_documentsIsContainer = isContainer(m_documents->name);
    m_documentsEndTag = std::min(m_tailOpen.find('>') + 1, m_tailOpen.size());
    xmlFreeDoc(m_doc);
    m_doc = nullptr;
    m_root = m_project = m_documents = nullptr;
    m_layout.clear();
    m_names.clear();
    m_frozen = true;
}

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
    const std::string extension = FileTools::GetFExt(path);
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

bool DatagroupDocument::reopenSaved(long& lastDocId)
{
    if (!m_frozen)
        return false;
    flushOpen();
    // A DOCID the file holds that reading it back would refuse must be refused the same way.
    if (m_highestDocId > 32767 || m_highestDocId < -32768)
        return false;
    Bytes& bytes = *m_bytes;
    // Reading the file back would keep layout that follows text as part of that text, and white space
    // in an element it does not know as a container as its value.
    if (bytes.size() > m_contentStart &&
        (!m_documentsEndsInElement || (!m_documentsIsContainer && !m_documentsHoldElement)))
        return false;
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
            return false;
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
    lastDocId = m_highestDocId;
    return true;
}

} // namespace tollavar
