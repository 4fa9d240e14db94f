#pragma once

// What the text of DATAGRP.XML may hold and how this program writes it: shared by the as-written
// scanner, the tree path and the serializer of DatagroupDocument.

#include "filetools/Failure.h"

#include <libxml/xmlstring.h>

#include <string>
#include <string_view>

namespace tollavar::datagroupxml {

inline constexpr char kSource[] = "XML Document";
inline constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
inline constexpr int kDeepestLayout = 6;
inline constexpr const char* kLayoutTexts[kDeepestLayout + 1] = {
    "\r\n", "\r\n\t", "\r\n\t\t", "\r\n\t\t\t", "\r\n\t\t\t\t", "\r\n\t\t\t\t\t", "\r\n\t\t\t\t\t\t",
};

inline const xmlChar* xmlText(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

Failure outOfMemory();

template <typename T> T* must(T* pointer)
{
    if (!pointer)
        throw outOfMemory();
    return pointer;
}

// XML 1.0 has no place for most control characters nor for U+FFFE and U+FFFF; a file holding one is
// not well formed, and nothing (this program included) would read it back.
bool xmlCanCarry(std::string_view text);
Failure notCarried(const std::string& what);
void checkCarried(std::string_view text, const char* what);
void checkName(const std::string& name, const char* what);

bool isBlankChar(xmlChar c);

// Elements that only ever hold other elements and their layout. White space that is all such an
// element holds is the layout of an empty one (an empty DOCUMENTS, a line without image path); in any
// other element it is a value, such as a field of tabs or of line breaks, and stays.
bool isContainer(const xmlChar* name);

void appendLayoutText(std::string& out, int tabs);
// Text as libxml2 writes it in windows-1252: "<", ">", "&" and CR escaped, a character the code page
// lacks as a decimal character reference. The saved bytes must not depend on which of the two wrote them.
void appendEscaped(std::string& out, std::string_view text);
// An element holding one text, or none: libxml2 writes an element without a child as <NAME/>.
void appendTextElement(std::string& out, std::string_view name, std::string_view text);

} // namespace tollavar::datagroupxml
