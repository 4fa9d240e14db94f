// Index lines under any settings, written into a real datagroup that must read back with every text
// it was given.
//
// Input: the delimiter setting, the field-name list and the field-type list, one line each, then the
// bytes of the index file.

#include "DatagroupTexts.h"
#include "FuzzCheck.h"

#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/IndexFileReader.h"
#include "engine/IndexLineParser.h"
#include "filetools/Failure.h"
#include "filetools/Windows1252.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace tollavar;

namespace {

// Settings always hold valid text (the configuration reader and the window see to that), so the
// settings lines are decoded the way a configuration file without a byte-order mark is.
std::string settingText(std::string_view raw)
{
    return utf8::isValid(raw) ? std::string(raw) : cp1252::decode(raw);
}

class CheckingSink : public FieldSink
{
public:
    CheckingSink(const std::vector<std::string>& names, DatagroupDocument* document)
        : m_names(names), m_document(document)
    {
    }

    void startLine()
    {
        m_objectOpen = false;
        m_object.clear();
        m_fields.clear();
        m_file1 = -1;
    }
    // The line's texts become expected once its document stays in the datagroup. OBJECT opens before
    // the first field, so its texts come first in the document whenever the line gives them.
    void commit(std::vector<fuzzing::Entry>& expected)
    {
        expected.insert(expected.end(), m_object.begin(), m_object.end());
        expected.insert(expected.end(), m_fields.begin(), m_fields.end());
    }
    void renameFile1(const std::string& newPath)
    {
        if (m_file1 >= 0)
            m_object[static_cast<size_t>(m_file1)].second = newPath;
    }
    bool hasFile1() const { return m_file1 >= 0; }
    const std::string& file1() const { return m_object[static_cast<size_t>(m_file1)].second; }

    void beginObject() override
    {
        FUZZ_CHECK(!m_objectOpen, "a line opens one OBJECT");
        m_objectOpen = true;
        if (m_document)
            m_document->beginObject();
    }
    void imagePath(std::string_view path) override
    {
        checkText(path);
        FUZZ_CHECK(m_objectOpen, "the image path goes into an open OBJECT");
        if (m_document)
            m_document->setImagePath(path);
        m_file1 = static_cast<int>(m_object.size());
        m_object.emplace_back("FILE1", path);
    }
    void pageCount(std::string_view pages) override
    {
        checkText(pages);
        FUZZ_CHECK(m_objectOpen, "the page count goes into an open OBJECT");
        if (m_document)
            m_document->setPages(pages);
        m_object.emplace_back("PAGES", pages);
    }
    void indexField(std::string_view name, std::string_view value, bool lastColumn) override
    {
        checkText(value);
        FUZZ_CHECK(std::find(m_names.begin(), m_names.end(), name) != m_names.end(), "a field is named by the list");
        if (m_document)
            m_document->addIndexField(name, value, lastColumn);
        m_fields.emplace_back("NAME", name);
        m_fields.emplace_back("VALUE", value);
    }

private:
    static void checkText(std::string_view text)
    {
        FUZZ_CHECK(tollavar::utf8::isValid(text), "a field is valid UTF-8");
    }

    const std::vector<std::string>& m_names;
    DatagroupDocument* m_document;
    bool m_objectOpen = false;
    std::vector<fuzzing::Entry> m_object;
    std::vector<fuzzing::Entry> m_fields;
    int m_file1 = -1;
};

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string delimiter = delimiterFromSetting(settingText(fuzzing::takeLine(input)));
    const std::vector<std::string> names = splitBarList(settingText(fuzzing::takeLine(input)));
    const std::vector<std::string> types = splitBarList(settingText(fuzzing::takeLine(input)));

    DatagroupDocument document;
    bool haveDocument = true;
    try {
        document.buildHeader("REZI_DATAGRP", DatagroupHeader{"1", "Company", "CO", "7", "Project"}, names, types);
    } catch (const Failure&) {
        haveDocument = false; // a field name XML cannot carry: the lines are still parsed
    }

    IndexFileReader reader = IndexFileReader::fromBytes(std::string(input));
    IndexLineParser parser(names);
    CheckingSink sink(names, haveDocument ? &document : nullptr);
    std::vector<fuzzing::Entry> expected;
    long docId = 0;
    long lastKept = 0;
    std::string_view line;
    while (reader.readLine(line)) {
        FUZZ_CHECK(utf8::isValid(line), "the reader hands out valid UTF-8");
        if (isBlankLine(line))
            continue;
        ++docId;
        sink.startLine();
        RunStage stage = RunStage::LineRead;
        try {
            if (haveDocument)
                document.beginDocument("DOCUMENT", docId);
            parser.parseLine(line, delimiter, sink, stage);
            FUZZ_CHECK(stage == RunStage::WritingLastField, "a parsed line ends at its last field");
            // What image placement may do to a finished line: rename its image or drop it.
            if (haveDocument && sink.hasFile1() && docId % 3 == 0) {
                const std::string renamed = sink.file1() + "-0001";
                document.changeFile1(renamed);
                sink.renameFile1(renamed);
            }
            if (haveDocument && docId % 7 == 0) {
                document.dropCurrentDocument();
                continue;
            }
        } catch (const Failure&) {
            // A text XML cannot carry: the run would stop here; the datagroup must stay sound.
            FUZZ_CHECK(stage >= RunStage::LineRead && stage <= RunStage::WritingLastField,
                       "a refused field fails during the line");
            if (haveDocument)
                document.dropCurrentDocument();
            continue;
        }
        if (haveDocument)
            document.endDocument();
        sink.commit(expected);
        lastKept = docId;
    }
    FUZZ_CHECK(utf8::isValid(parser.mostRecentImagePath()), "the remembered image path is valid UTF-8");
    if (!haveDocument)
        return 0;

    document.closeNewDocument();
    const std::string saved = document.serialize();
    fuzzing::checkSameTexts(fuzzing::documentTexts(saved), expected, "every text reads back as it was written");

    DatagroupDocument reread;
    reread.parseExisting(saved);
    FUZZ_CHECK(reread.locateDocuments() == lastKept, "the last DOCID reads back");
    return 0;
}
