#include "engine/DatagroupXmlText.h"

#include "filetools/Windows1252.h"

#include <libxml/tree.h>

namespace tollavar::datagroupxml {

Failure outOfMemory()
{
    return Failure(ErrorCode::OutOfMemory, kSource, "Out of memory");
}

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

bool isBlankChar(xmlChar c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isContainer(const xmlChar* name)
{
    static const char* const containers[] = {"REZI_DATAGRP", "PROJECT",  "DOCINDEXFIELDS", "DOCINDEXFIELD",
                                             "DOCUMENTS",    "DOCUMENT", "OBJECT"};
    for (const char* container : containers)
        if (xmlStrEqual(name, xmlText(container)))
            return true;
    return false;
}

void appendLayoutText(std::string& out, int tabs)
{
    out.append(kLayoutTexts[tabs], 2 + static_cast<size_t>(tabs));
}

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

} // namespace tollavar::datagroupxml
