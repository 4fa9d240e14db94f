#pragma once

#include "FuzzCheck.h"

#include "filetools/Windows1252.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace fuzzing {

// One text a document carries: the element that holds it and the text itself.
using Entry = std::pair<std::string, std::string>;

inline bool carriesText(const xmlChar* name)
{
    for (const char* wanted : {"FILE1", "PAGES", "NAME", "VALUE"})
        if (std::strcmp(reinterpret_cast<const char*>(name), wanted) == 0)
            return true;
    return false;
}

inline void collect(xmlNodePtr node, std::vector<Entry>& out)
{
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (carriesText(node->name)) {
            xmlChar* content = xmlNodeGetContent(node);
            out.emplace_back(reinterpret_cast<const char*>(node->name),
                             content ? reinterpret_cast<const char*>(content) : "");
            xmlFree(content);
        } else {
            collect(node->children, out);
        }
    }
}

inline xmlNodePtr findElement(xmlNodePtr node, const char* name)
{
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0)
            return node;
        if (xmlNodePtr found = findElement(node->children, name))
            return found;
    }
    return nullptr;
}

// Saved bytes as a plain libxml2 tree, independent of the document class. They are decoded before
// libxml2 sees them, as the program reads them: libxml2 2.9 decoding by itself loses its place in a
// long non-ASCII name that straddles two of its chunks. The bytes must be well formed: a saved
// datagroup that cannot be read back is lost work.
inline xmlDocPtr readSaved(const std::string& bytes)
{
    const std::string text = tollavar::cp1252::decode(bytes);
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC);
    FUZZ_CHECK(doc != nullptr, "the saved datagroup reads back");
    return doc;
}

// The texts of every document under the first DOCUMENTS, in document order.
inline std::vector<Entry> documentTexts(const std::string& bytes)
{
    xmlDocPtr doc = readSaved(bytes);
    std::vector<Entry> texts;
    if (xmlNodePtr documents = findElement(xmlDocGetRootElement(doc), "DOCUMENTS"))
        collect(documents->children, texts);
    xmlFreeDoc(doc);
    return texts;
}

// Fails with the first difference shown, so that a finding says which text went wrong.
inline void checkSameTexts(const std::vector<Entry>& actual, const std::vector<Entry>& expected, const char* message)
{
    if (actual == expected)
        return;
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i])
        ++i;
    const auto show = [](const std::vector<Entry>& list, size_t at) {
        return at < list.size() ? "<" + list[at].first + ">[" + list[at].second + "]" : std::string("(none)");
    };
    std::fprintf(stderr, "text %zu of %zu/%zu: read %s, wrote %s\n", i, actual.size(), expected.size(),
                 show(actual, i).c_str(), show(expected, i).c_str());
    FUZZ_CHECK(false, message);
}

} // namespace fuzzing
