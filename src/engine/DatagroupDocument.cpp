#include "engine/DatagroupDocument.h"

#include "engine/AsWrittenScan.h"
#include "engine/DatagroupDocumentBytes.h"
#include "engine/DatagroupXmlText.h"
#include "engine/XmlWindows1252.h"
#include "filetools/Failure.h"
#include "filetools/Windows1252.h"

#include <libxml/tree.h>

#include <cstring>

namespace tollavar {

using namespace datagroupxml;

DatagroupDocument::DatagroupDocument() : m_bytes(std::make_unique<Bytes>()), m_open(std::make_unique<Open>())
{
    xmlWindows1252Handler();
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
    m_parseFailure.reset();
    m_bytes->truncate(0);
    m_open->live = false;
    m_frozen = m_closed = m_parsed = m_documentsHadChild = m_documentsEndsInElement = m_documentsHoldElement = false;
    m_documentsIsContainer = true;
    m_rootStart = m_strippedTo = m_contentStart = m_documentsEndTag = 0;
    m_tailOpen.clear();
    m_tailClosed.clear();
    m_highestDocId = 0;
}

void DatagroupDocument::parseExisting(std::string_view bytes)
{
    reset();
    if (bytes.starts_with(kDeclaration) && adoptAsWritten(bytes))
        return;
    reset();
    parseTree(bytes);
}

void DatagroupDocument::parseExistingAsTree(std::string_view bytes)
{
    reset();
    parseTree(bytes);
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
    if (whyNotWellFormed(decoded.empty() ? bytes : std::string_view(decoded)))
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
    return locateInTree();
}

} // namespace tollavar
