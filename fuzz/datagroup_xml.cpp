// An existing DATAGRP.XML of any bytes, extended the way a conversion run extends it: the saved
// file must read back with the new documents whole and the new last DOCID, and saving is stable
// once the layout of the original file is gone. Each input is also read through the libxml2 tree
// alone: the as-written scanner must refuse what the tree refuses and save the same bytes.

#include "DatagroupTexts.h"
#include "FuzzCheck.h"

#include "engine/DatagroupDocument.h"
#include "filetools/Failure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using namespace tollavar;

namespace {

struct NewField
{
    const char* name;
    const char* value;
    bool lastColumn;
};

// Texts that need escaping, a character windows-1252 lacks and one it has, a tab and a line end.
constexpr NewField kFields[] = {
    {"Name", "Smith & \"Sons\" <Ltd> \xE2\x82\xAC \xE6\xBC\xA2", false},
    {"Scan Date", "", false},
    {"Notes", "\tx\r\n", true},
};

xmlNodePtr lastElementChild(xmlNodePtr node)
{
    xmlNodePtr last = node ? node->last : nullptr;
    return last && last->type == XML_ELEMENT_NODE ? last : nullptr;
}

// The texts of the last `count` documents, found the way the document class finds DOCUMENTS.
std::vector<fuzzing::Entry> lastDocumentTexts(const std::string& bytes, int count)
{
    xmlDocPtr doc = fuzzing::readSaved(bytes);
    xmlNodePtr documents = lastElementChild(lastElementChild(lastElementChild(reinterpret_cast<xmlNodePtr>(doc))));
    FUZZ_CHECK(documents != nullptr, "DOCUMENTS is where it was");
    xmlNodePtr first = documents->last;
    for (int found = 1; first && (found < count || first->type != XML_ELEMENT_NODE); first = first->prev)
        if (first->type == XML_ELEMENT_NODE)
            ++found;
    std::vector<fuzzing::Entry> texts;
    if (first)
        fuzzing::collect(first, texts);
    xmlFreeDoc(doc);
    return texts;
}

std::string saveReread(const std::string& bytes)
{
    DatagroupDocument document;
    document.parseExisting(bytes);
    document.locateDocuments();
    return document.serialize();
}

// The last DOCID, or nothing when the document is refused, as a run refuses it, with a message.
std::optional<long> locate(DatagroupDocument& document)
{
    try {
        return document.locateDocuments();
    } catch (const Failure&) {
        return std::nullopt;
    }
}

constexpr int kAdded = 2;

std::vector<fuzzing::Entry> addDocuments(DatagroupDocument& document, long lastDocId)
{
    std::vector<fuzzing::Entry> expected;
    for (int k = 0; k < kAdded; ++k) {
        document.beginDocument("DOCUMENT", ++lastDocId);
        document.beginObject();
        const std::string image = "\\B1\\000" + std::to_string(k) + ".TIF";
        document.setImagePath(image);
        document.setPages("3");
        expected.emplace_back("FILE1", image);
        expected.emplace_back("PAGES", "3");
        for (const NewField& field : kFields) {
            document.addIndexField(field.name, field.value, field.lastColumn);
            expected.emplace_back("NAME", field.name);
            expected.emplace_back("VALUE", field.value);
        }
        document.endDocument();
    }
    return expected;
}

std::string serialized(const DatagroupDocument& document)
{
    try {
        return document.serialize();
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s\n", failure.description().c_str());
        FUZZ_CHECK(false, "an extended datagroup saves");
    }
    return {};
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    DatagroupDocument document;
    document.parseExisting(input);
    DatagroupDocument tree;
    tree.parseExistingAsTree(input);
    const std::optional<long> located = locate(document);
    const std::optional<long> treeLocated = locate(tree);
    FUZZ_CHECK(located.has_value() == treeLocated.has_value(), "the scanner refuses what the tree refuses");
    if (!located)
        return 0;
    FUZZ_CHECK(*located == *treeLocated, "the scanner finds the last DOCID the tree finds");
    long lastDocId = *located;
    FUZZ_CHECK(lastDocId >= -32768 && lastDocId <= 32767, "the last DOCID is a 16-bit number");

    const std::vector<fuzzing::Entry> expected = addDocuments(document, lastDocId);
    addDocuments(tree, lastDocId);
    lastDocId += kAdded;
    const std::string saved = serialized(document);
    FUZZ_CHECK(saved == serialized(tree), "the scanner and the tree save the same bytes");
    fuzzing::checkSameTexts(lastDocumentTexts(saved, kAdded), expected, "the new documents read back as written");

    DatagroupDocument reread;
    reread.parseExisting(saved);
    if (lastDocId > 32767) {
        // The run refuses such a file at its next extension, with a message.
        bool refused = false;
        try {
            reread.locateDocuments();
        } catch (const Failure&) {
            refused = true;
        }
        FUZZ_CHECK(refused, "a DOCID past 32767 is refused");
        return 0;
    }
    FUZZ_CHECK(reread.locateDocuments() == lastDocId, "the new last DOCID reads back");

    const std::string once = reread.serialize();
    FUZZ_CHECK(saveReread(once) == once, "saving without the original layout is stable");
    return 0;
}
