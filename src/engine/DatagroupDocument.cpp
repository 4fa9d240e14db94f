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

#include <climits>

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

int appendToString(void* context, const char* buffer, int length)
{
    try {
        static_cast<std::string*>(context)->append(buffer, static_cast<size_t>(length));
        return length;
    } catch (...) {
        return -1;
    }
}

} // namespace

bool XmlCanCarry(std::string_view text)
{
    return xmlCanCarry(text);
}

DatagroupDocument::DatagroupDocument()
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
    m_root = m_project = m_documents = m_document = m_object = m_file1 = nullptr;
    m_layout.clear();
    m_names.clear();
    m_parseError.clear();
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
}

void DatagroupDocument::parseExisting(std::string_view bytes)
{
    reset();
    // Decoded here in one piece rather than by libxml2 as it reads: libxml2 2.9 loses its place when a
    // long non-ASCII name straddles two of its decoding chunks and refuses a well-formed file.
    // An all-ASCII file (the usual one) reads the same in both encodings and needs no copy.
    std::string decoded;
    if (utf8::hasNonAscii(bytes))
        decoded = cp1252::decode(bytes);
    const std::string_view text = decoded.empty() ? bytes : std::string_view(decoded);
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        m_parseError = "the file is too large";
        return;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        m_parseError = "out of memory";
        return;
    }
    // The declared encoding is ignored: the file is windows-1252 whatever it says. No network, no
    // error printing; the first error is kept for the report.
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

long DatagroupDocument::locateDocuments()
{
    m_root = m_project = m_documents = m_document = m_object = m_file1 = nullptr;
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

    long lastDocId = 0;
    xmlNodePtr lastDocument = documents->last;
    if (lastDocument && lastDocument->type == XML_ELEMENT_NODE && lastDocument->properties) {
        xmlChar* content = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(lastDocument->properties));
        const std::string text = content ? reinterpret_cast<const char*>(content) : "";
        xmlFree(content);
        // Read the way the program reads every number: blanks around and a sign allowed, a fraction
        // rounded half to even.
        const std::optional<long long> docId = ParseInt16(text);
        if (!docId) {
            throw Failure(ErrorCode::InvalidCall, kSource,
                          "The last DOCID \"" + text + "\" is not a whole number from -32768 to 32767");
        }
        lastDocId = static_cast<long>(*docId);
    }
    m_root = root;
    m_project = project;
    m_documents = documents;
    return lastDocId;
}

xmlNodePtr DatagroupDocument::requireDocument(const char* operation) const
{
    if (!m_document)
        throw Failure(ErrorCode::InvalidCall, kSource, std::string(operation) + " without a current document");
    return m_document;
}

xmlNodePtr DatagroupDocument::requireObject(const char* operation) const
{
    if (!m_object)
        throw Failure(ErrorCode::InvalidCall, kSource, std::string(operation) + " without an OBJECT");
    return m_object;
}

void DatagroupDocument::beginDocument(const std::string& documentName, long docId)
{
    if (!m_documents)
        throw Failure(ErrorCode::InvalidCall, kSource, "A document was added before DOCUMENTS was located");
    checkName(documentName, "Document element name");
    appendLayout(m_documents, 3);
    m_document = must(xmlNewDocNode(m_doc, nullptr, xmlText(documentName.c_str()), nullptr));
    link(m_documents, m_document);
    m_object = m_file1 = nullptr;
    must(xmlNewProp(m_document, xmlText("DOCID"), xmlText(std::to_string(docId).c_str())));
}

void DatagroupDocument::beginObject()
{
    xmlNodePtr document = requireDocument("The OBJECT was opened");
    appendLayout(document, 4);
    appendElementShared(document, DUPEID, "0");
    appendLayout(document, 4);
    m_object = appendElement(document, OBJECT, {});
    appendLayout(m_object, 5);
}

void DatagroupDocument::setImagePath(std::string_view path)
{
    checkCarried(path, "The image path");
    xmlNodePtr object = requireObject("The image path was written");
    m_file1 = appendElement(object, FILE1, path);
    appendLayout(object, 5);
    const std::string extension = FileTools::GetFExt(path);
    appendElementShared(object, OBJTYPE, extension == "TIF" || extension == "JPG" ? "1" : "2");
    appendLayout(object, 5);
}

void DatagroupDocument::setPages(std::string_view pages)
{
    checkCarried(pages, "The page count");
    xmlNodePtr object = requireObject("The page count was written");
    appendElement(object, PAGES, pages);
    appendLayout(object, 4);
}

void DatagroupDocument::addIndexField(std::string_view name, std::string_view value, bool lastColumn)
{
    if (!xmlCanCarry(name))
        throw notCarried("Field name '" + std::string(name) + "'");
    if (!xmlCanCarry(value))
        throw notCarried("Field '" + std::string(name) + "'");
    xmlNodePtr document = requireDocument("An index field was written");
    // The last column's field follows the element before it without a line break, and its inner
    // layout runs two tabs deeper: the datagroup format has always looked so.
    const int inner = lastColumn ? 6 : 5;
    const int closing = lastColumn ? 6 : 4;
    if (!lastColumn)
        appendLayout(document, 4);
    xmlNodePtr field = appendElement(document, DOCINDEXFIELD, {});
    appendLayout(field, inner);
    appendElementShared(field, NAME, name);
    appendLayout(field, inner);
    appendElement(field, VALUE, value);
    appendLayout(field, closing);
}

void DatagroupDocument::endDocument()
{
    // After a drop the closing layout would go into the removed element, which no longer shows.
    if (m_document)
        appendLayout(m_document, 3);
}

void DatagroupDocument::dropCurrentDocument()
{
    if (!m_document)
        return;
    // The layout before it stays, so a dropped document leaves an empty line behind.
    xmlUnlinkNode(m_document);
    xmlFreeNode(m_document);
    m_document = m_object = m_file1 = nullptr;
}

void DatagroupDocument::changeFile1(std::string_view newPath)
{
    checkCarried(newPath, "The image path");
    // FILE1 itself, wherever it stands in OBJECT: a PAGECOUNT column read before the image path puts
    // PAGES first, and rewriting "the second child" would then corrupt the page count and leave FILE1
    // naming the image that was already there.
    if (!m_file1)
        return;
    xmlNodePtr text = newPath.empty()
                          ? nullptr
                          : must(xmlNewDocTextLen(m_doc, xmlText(newPath.data()), static_cast<int>(newPath.size())));
    xmlFreeNodeList(m_file1->children);
    m_file1->children = m_file1->last = nullptr;
    if (text)
        link(m_file1, text);
}

void DatagroupDocument::closeNewDocument()
{
    if (!m_documents || !m_project || !m_root)
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document has no header to close");
    appendLayout(m_documents, 2);
    appendLayout(m_project, 1);
    appendLayout(m_root, 0);
}

std::string DatagroupDocument::serialize() const
{
    if (!m_doc || !xmlDocGetRootElement(m_doc))
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document is empty");
    std::string out(kDeclaration);
    // Node by node rather than the whole document: libxml2 would write its own declaration with a
    // bare line feed and end the file with a line break.
    xmlSaveCtxtPtr save = must(xmlSaveToIO(appendToString, nullptr, &out, kXmlWindows1252, 0));
    bool failed = false;
    for (xmlNodePtr child = m_doc->children; child; child = child->next) {
        if (child != m_doc->children) {
            failed = failed || xmlSaveFlush(save) < 0;
            out += "\r\n";
        }
        failed = failed || xmlSaveTree(save, child) < 0;
    }
    failed = xmlSaveClose(save) < 0 || failed;
    if (failed)
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document could not be written in windows-1252");
    return out;
}

void DatagroupDocument::save(const std::string& path) const
{
    files::writeFileAtomic(path, serialize());
}

} // namespace tollavar
