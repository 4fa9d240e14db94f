// The tree path of DatagroupDocument: a new document's header and an existing file that is not as this
// program writes it go through a libxml2 tree, which is written out once DOCUMENTS is known.
#include "engine/DatagroupDocument.h"

#include "engine/AsWrittenScan.h"
#include "engine/DatagroupDocumentBytes.h"
#include "engine/DatagroupXmlText.h"
#include "engine/ExistingXmlDecoding.h"
#include "engine/NumberText.h"
#include "engine/XmlWindows1252.h"
#include "filetools/Failure.h"
#include "filetools/TextReplace.h"
#include "filetools/Windows1252.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

namespace tollavar {

using namespace datagroupxml;

namespace {

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

bool isDeclaredField(const std::string& name)
{
    const std::string upper = asciiUpper(name);
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
thread_local bool g_keptWhiteSpace = false;

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
        g_keptWhiteSpace = true;
    xmlSAX2Characters(parserContext, text, length);
}

// The highest DOCID that an element anywhere inside `documents` holds; LONG_MIN when none does.
long highestDocIdWithin(xmlNodePtr documents)
{
    long highest = LONG_MIN;
    xmlNodePtr node = documents->children;
    while (node) {
        if (node->type == XML_ELEMENT_NODE) {
            if (xmlChar* held = xmlGetProp(node, xmlText("DOCID"))) {
                const std::optional<long long> number = parseInt16(reinterpret_cast<const char*>(held));
                xmlFree(held);
                if (number)
                    highest = std::max(highest, static_cast<long>(*number));
            }
            // Only an element's children are its own: an entity reference's lead into the declaration.
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node != documents && !node->next)
            node = node->parent;
        node = node == documents ? nullptr : node->next;
    }
    return highest;
}

// The first character of a UTF-8 text that windows-1252 lacks; 0 when it has them all.
char32_t firstUnwritable(const xmlChar* text)
{
    if (!text)
        return 0;
    const std::string_view view(reinterpret_cast<const char*>(text));
    for (size_t at = 0; at < view.size();) {
        if (static_cast<unsigned char>(view[at]) < 0x80) {
            ++at;
            continue;
        }
        const char32_t cp = utf8::next(view, at);
        if (cp == 0xFFFFFFFF || cp1252::fromUnicode(cp) < 0)
            return cp;
    }
    return 0;
}

std::string nodeText(const xmlChar* text)
{
    return text ? reinterpret_cast<const char*>(text) : "";
}

// `what` and `name` say where the text stands, for the message only.
void checkWritableText(const xmlChar* text, xmlNodePtr node, const char* what, const xmlChar* name = nullptr)
{
    const char32_t cp = firstUnwritable(text);
    if (!cp)
        return;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    std::string where = what + nodeText(name);
    if (const long line = xmlGetLineNo(node); line > 0)
        where += " (line " + std::to_string(line) + ")";
    throw Failure(ErrorCode::InvalidCall, kSource,
                  std::string("The character ") + code + " in " + where + " cannot be written in windows-1252");
}

// libxml2 writes a character windows-1252 lacks as a character reference, which only text and
// attribute values can hold: in a name or a processing instruction it makes a file that does not read
// back, in a comment or a CDATA section it changes what the file says. Such a file is refused before
// anything is written.
void checkWritable(xmlDocPtr doc)
{
    xmlNodePtr top = reinterpret_cast<xmlNodePtr>(doc);
    xmlNodePtr node = doc->children;
    while (node) {
        switch (node->type) {
        case XML_ELEMENT_NODE:
            checkWritableText(node->name, node, "the name of element ", node->name);
            if (node->ns)
                checkWritableText(node->ns->prefix, node, "the prefix of element ", node->name);
            for (xmlNsPtr ns = node->nsDef; ns; ns = ns->next)
                checkWritableText(ns->prefix, node, "a namespace prefix declared by element ", node->name);
            for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
                checkWritableText(attribute->name, node, "an attribute name of element ", node->name);
                if (attribute->ns)
                    checkWritableText(attribute->ns->prefix, node, "an attribute prefix of element ", node->name);
            }
            break;
        case XML_PI_NODE:
            checkWritableText(node->name, node, "the target of processing instruction ", node->name);
            checkWritableText(node->content, node, "processing instruction ", node->name);
            break;
        case XML_COMMENT_NODE:
            checkWritableText(node->content, node, "a comment");
            break;
        case XML_CDATA_SECTION_NODE:
            checkWritableText(node->content, node, "a CDATA section");
            break;
        case XML_ENTITY_REF_NODE:
            checkWritableText(node->name, node, "the entity reference ", node->name);
            break;
        default:
            break;
        }
        if (node->type == XML_ELEMENT_NODE && node->children) {
            node = node->children;
            continue;
        }
        while (node != top && !node->next)
            node = node->parent;
        node = node == top ? nullptr : node->next;
    }
}

} // namespace

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
        appendElement(field, FORMAT, asciiUpper(type) == "DATE" ? "yyyy-mm-dd" : "");
        appendLayout(field, 4);
        appendElementShared(field, REQUIRED, "0");
        appendLayout(field, 3);
    }
    appendLayout(declarations, 2);
    freeze(true);
}

void DatagroupDocument::parseTree(std::string_view bytes)
{
    // Decoded here in one piece rather than by libxml2 as it reads: libxml2 2.9 loses its place when a
    // long non-ASCII name straddles two of its decoding chunks and refuses a well-formed file.
    const auto notWellFormed = [](const std::string& reason) {
        return Failure(ErrorCode::InvalidCall, kSource, "The XML document is not well formed: " + reason);
    };
    std::string decoded;
    try {
        decoded = decodeExisting(bytes);
    } catch (const Failure& refused) {
        m_parseFailure = notWellFormed(refused.description());
        return;
    }
    const std::string_view text = decoded;
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        m_parseFailure = notWellFormed("the file is too large");
        return;
    }
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        m_parseFailure = notWellFormed("out of memory");
        return;
    }
    // The text is UTF-8 by now, whatever the declaration says. No network, no error printing; the
    // first error is kept for the report.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
    // Both hooks alike, so that libxml2 hands every piece of white space to ours and judges none itself.
    context->sax->characters = charactersWithoutLayout;
    context->sax->ignorableWhitespace = charactersWithoutLayout;
    g_keptWhiteSpace = false;
    xmlDocPtr doc = xmlCtxtReadMemory(context, text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", options);
    if (!doc || !context->wellFormed) {
        const xmlError& error = context->lastError;
        std::string reason = error.message ? error.message : "the file is not well formed";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        if (error.line > 0)
            reason += " (line " + std::to_string(error.line) + ")";
        m_parseFailure = notWellFormed(reason);
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
        m_parseFailure = notWellFormed("out of memory");
        return;
    }
    // Only white space the parser kept (a value, or layout it delivered in pieces) needs another look.
    if (g_keptWhiteSpace) {
        for (xmlNodePtr child = m_doc->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                dropLayoutText(child);
    }
}

long DatagroupDocument::locateInTree()
{
    m_root = m_project = m_documents = nullptr;
    if (!m_doc)
        throw m_parseFailure ? *m_parseFailure : Failure(ErrorCode::InvalidCall, kSource, "The XML document is empty");
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
    // Whatever a hand edit put after DOCUMENTS must not receive the new documents.
    if (!xmlStrEqual(documents->name, xmlText("DOCUMENTS"))) {
        throw Failure(ErrorCode::InvalidCall, kSource,
                      "The XML document's PROJECT element ends with " +
                          std::string(reinterpret_cast<const char*>(documents->name)) + ", not with DOCUMENTS");
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
        const std::optional<long long> docId = lastDocument->properties ? parseInt16(text) : std::nullopt;
        if (!lastDocument->properties) {
            throw Failure(ErrorCode::InvalidCall, kSource,
                          "The last element of DOCUMENTS has no DOCID (no attribute at all)");
        }
        if (!docId) {
            throw Failure(ErrorCode::InvalidCall, kSource,
                          "The last DOCID \"" + text + "\" is not a whole number from -32768 to 32767");
        }
        lastDocId = static_cast<long>(*docId);
        // A hand-edited file may hold a higher DOCID before its last document, or deeper inside
        // DOCUMENTS; numbering on from the last one would write that DOCID a second time.
        lastDocId = std::max(lastDocId, highestDocIdWithin(documents));
    }
    checkWritable(m_doc);
    m_root = root;
    m_project = project;
    m_documents = documents;
    m_highestDocId = lastDocId;
    m_parsed = true;
    freeze(false);
    // The parser forgives more than it can read back once this program has written it; a file it
    // would not read back must fail now, while the run can still undo, not at its next extension.
    const std::string saved = serialize();
    if (const std::optional<std::string> reason =
            whyNotWellFormed(utf8::hasNonAscii(saved) ? cp1252::decode(saved) : saved))
        throw Failure(ErrorCode::InvalidCall, kSource, "The XML document would not read back once saved: " + *reason);
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

} // namespace tollavar
