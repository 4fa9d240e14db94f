#include "engine/DatagroupDocument.h"
#include "engine/ConversionSettings.h"
#include "engine/IndexLineParser.h"
#include "filetools/Failure.h"
#include "filetools/FaultInjection.h"
#include "filetools/FileSystem.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

using namespace tollavar;
using tollavar::testing::readFile;
using tollavar::testing::TempDir;
using tollavar::testing::writeFile;

namespace {

const std::string kDataDir = std::string(TOLLAVAR_TEST_DATA_DIR) + "/xml/";

class DocumentSink : public FieldSink
{
public:
    explicit DocumentSink(DatagroupDocument& document) : m_document(document) {}
    void beginObject() override { m_document.beginObject(); }
    void imagePath(std::string_view path) override { m_document.setImagePath(path); }
    void pageCount(std::string_view pages) override { m_document.setPages(pages); }
    void indexField(std::string_view name, std::string_view value, bool lastColumn) override
    {
        m_document.addIndexField(name, value, lastColumn);
    }

private:
    DatagroupDocument& m_document;
};

// What image placement did to a line's document.
using Placement = std::function<void(DatagroupDocument&)>;

struct Line
{
    std::string text;
    Placement placement = nullptr;
};

// Feeds lines to the document the way a conversion run does: a DOCID per non-blank line, the fields
// as the line parser dispatches them, then placement and the document's closing layout.
long convertLines(DatagroupDocument& document, const std::string& fieldNames, long lastDocId,
                  const std::vector<Line>& lines)
{
    IndexLineParser parser(splitBarList(fieldNames));
    DocumentSink sink(document);
    RunStage stage = RunStage::LineRead;
    for (const Line& line : lines) {
        if (isBlankLine(line.text))
            continue;
        document.beginDocument("DOCUMENT", ++lastDocId);
        parser.parseLine(line.text, ",", sink, stage);
        if (line.placement)
            line.placement(document);
        document.endDocument();
    }
    return lastDocId;
}

const std::string kFieldNames = "Name|IMAGEPATH|PAGECOUNT|SKIP|BATCHID|Scan Date|Notes";
const std::string kFieldTypes = "text|text|number|text|text|date|text";

void buildSampleHeader(DatagroupDocument& document, const std::string& names = kFieldNames,
                       const std::string& types = kFieldTypes)
{
    document.buildHeader("REZI_DATAGRP", {"7", "Acme & Sons", "ACME", "P-1", "Claims é"}, splitBarList(names),
                         splitBarList(types));
}

std::string between(const std::string& text, const std::string& from, const std::string& to)
{
    const size_t start = text.find(from);
    const size_t end = text.find(to, start);
    if (start == std::string::npos || end == std::string::npos)
        return "<missing " + from + ">";
    return text.substr(start, end + to.size() - start);
}

std::string layoutTabs(int tabs)
{
    return "\r\n" + std::string(static_cast<size_t>(tabs), '\t');
}

} // namespace

TEST(DatagroupDocument, NewDatagroupIsWrittenByteForByte)
{
    DatagroupDocument document;
    buildSampleHeader(document);
    const std::vector<Line> lines = {
        {"Smith,\\img\\0001.TIF,3,x,B1,2024-01-05,café – €5"},
        // A duplicate image arrived under a numbered name.
        {"\"Jones, Ann\",\\img\\0002.jpg,2,,B1,2024-01-06,\"A & B <c> \"\"q\"\"\"",
         [](DatagroupDocument& d) { d.changeFile1("\\img\\0002-0001.jpg"); }},
        {"Brown,\\img\\0003.JPG,5,,B1,,"},
        {"   "},
        {"Loner"},
        // Its image was missing and the user skipped it.
        {"Gone,\\img\\0006.TIF,1,,B2,2024-02-01,x", [](DatagroupDocument& d) { d.dropCurrentDocument(); }},
        {"Last,\\img\\0007.tif,4,,B2,2024-02-02,y"},
    };
    EXPECT_EQ(convertLines(document, kFieldNames, 0, lines), 6);
    document.closeNewDocument();

    TempDir dir;
    document.save(dir / "DATAGRP.XML");
    EXPECT_EQ(readFile(dir / "DATAGRP.XML"), readFile(kDataDir + "new-datagroup.xml"));
}

TEST(DatagroupDocument, ExtendingNumbersOnAndSavesTheExistingPartWithoutLayout)
{
    DatagroupDocument document;
    document.parseExisting(readFile(kDataDir + "new-datagroup.xml"));
    const long last = document.locateDocuments();
    ASSERT_EQ(last, 6);
    convertLines(document, kFieldNames, last,
                 {{"Seven,\\img\\0008.TIF,2,,B3,2024-03-01,z"}, {"Eight,\\img\\0009.TIF,1,,B3,,"}});
    const std::string extended = document.serialize();
    EXPECT_EQ(extended, readFile(kDataDir + "extended-datagroup.xml"));

    DatagroupDocument again;
    again.parseExisting(extended);
    EXPECT_EQ(again.locateDocuments(), 8);
}

TEST(DatagroupDocument, WhitespaceValuesSurviveBeingExtended)
{
    DatagroupDocument document;
    buildSampleHeader(document);
    document.beginDocument("DOCUMENT", 1);
    document.beginObject();
    document.addIndexField("Name", "\t\t", false);
    document.addIndexField("Scan Date", "\t \t", false);
    document.addIndexField("Remark", "\n\t\t", false); // a lone LF from a file whose lines end at CR
    document.addIndexField("Notes", "", true);
    document.endDocument();
    document.closeNewDocument();

    DatagroupDocument reopened;
    reopened.parseExisting(document.serialize());
    ASSERT_EQ(reopened.locateDocuments(), 1);
    const std::string saved = reopened.serialize();
    EXPECT_NE(saved.find("<NAME>Name</NAME><VALUE>\t\t</VALUE>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<NAME>Scan Date</NAME><VALUE>\t \t</VALUE>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<NAME>Remark</NAME><VALUE>\n\t\t</VALUE>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<NAME>Notes</NAME><VALUE/>"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("\r\n\t"), std::string::npos) << "layout of the existing part kept";

    // A datagroup converted from lines that were all blank: the layout of its empty DOCUMENTS goes too.
    DatagroupDocument empty;
    buildSampleHeader(empty);
    empty.closeNewDocument();
    DatagroupDocument extended;
    extended.parseExisting(empty.serialize());
    ASSERT_EQ(extended.locateDocuments(), 0);
    extended.beginDocument("DOCUMENT", 1);
    extended.endDocument();
    EXPECT_NE(extended.serialize().find("<DOCUMENTS>" + layoutTabs(3) + "<DOCUMENT DOCID=\"1\">" + layoutTabs(3) +
                                        "</DOCUMENT></DOCUMENTS></PROJECT></REZI_DATAGRP>"),
              std::string::npos)
        << extended.serialize();
}

TEST(DatagroupDocument, DeclaresOnlyFieldsThatAreNotReserved)
{
    DatagroupDocument document;
    buildSampleHeader(document, "Name|IMAGEPATH|PageCount|Scan Date|SKIP|BatchID|End|Due|skip",
                      "text|text|number|date|text|text|text|Date|text");
    const auto declaration = [](const std::string& name, const std::string& type, const std::string& format) {
        return layoutTabs(3) + "<DOCINDEXFIELD>" + layoutTabs(4) + "<NAME>" + name + "</NAME>" + layoutTabs(4) +
               "<TYPE>" + type + "</TYPE>" + layoutTabs(4) + format + layoutTabs(4) + "<REQUIRED>0</REQUIRED>" +
               layoutTabs(3) + "</DOCINDEXFIELD>";
    };
    EXPECT_EQ(between(document.serialize(), "<DOCINDEXFIELDS>", "</DOCINDEXFIELDS>"),
              "<DOCINDEXFIELDS>" + declaration("Name", "text", "<FORMAT/>") +
                  declaration("Scan Date", "date", "<FORMAT>yyyy-mm-dd</FORMAT>") +
                  declaration("Due", "Date", "<FORMAT>yyyy-mm-dd</FORMAT>") + layoutTabs(2) + "</DOCINDEXFIELDS>");

    // End is only kept out of the declarations; in a document it is an ordinary field.
    document.beginDocument("DOCUMENT", 1);
    document.addIndexField("End", "e", true);
    EXPECT_NE(document.serialize().find("<NAME>End</NAME>" + layoutTabs(6) + "<VALUE>e</VALUE>"), std::string::npos);
}

TEST(DatagroupDocument, ObjectTypeFollowsTheExactExtension)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\\img\\a.TIF", "1"},
        {"\\img\\a.JPG", "1"},
        {"\\img\\a.jpg", "2"},
        {"\\img\\a.tif", "2"},
        {"\\img\\a.PNG", "2"},
        {"\\img\\a", "2"},
        {"", "2"},
        {"\\x.TIF\\a.JPG", "1"},
        {"\\x.JPG\\a.Tif", "2"},
    };
    for (const auto& [path, type] : cases) {
        DatagroupDocument document;
        buildSampleHeader(document);
        document.beginDocument("DOCUMENT", 1);
        document.beginObject();
        document.setImagePath(path);
        EXPECT_NE(document.serialize().find("<OBJTYPE>" + type + "</OBJTYPE>"), std::string::npos) << path;
    }
}

TEST(DatagroupDocument, ChangingTheImagePathRewritesFile1EvenAfterPages)
{
    DatagroupDocument document;
    buildSampleHeader(document);
    document.beginDocument("DOCUMENT", 1);
    document.beginObject();
    // A PAGECOUNT column read before the IMAGEPATH column puts PAGES first in OBJECT.
    document.setPages("1");
    document.setImagePath("\\img\\a.TIF");
    document.changeFile1("\\img\\a-0001.tif");
    EXPECT_EQ(between(document.serialize(), "<OBJECT>", "</OBJTYPE>"),
              "<OBJECT>" + layoutTabs(5) + "<PAGES>1</PAGES>" + layoutTabs(4) + "<FILE1>\\img\\a-0001.tif</FILE1>" +
                  layoutTabs(5) + "<OBJTYPE>1</OBJTYPE>");
}

TEST(DatagroupDocument, LocateReadsTheLastDocId)
{
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<R><DGNUMBER>1</DGNUMBER><P><DOCUMENTS>";
    const std::string tail = "</DOCUMENTS></P></R>";
    const std::vector<std::pair<std::string, long>> cases = {
        {"", 0},
        {"\r\n\t\t", 0},
        {"<DOCUMENT DOCID=\"1\"/><DOCUMENT DOCID=\"41\"/>", 41},
        {"<DOCUMENT DOCID=\"32767\"/>", 32767},
        {"<DOCUMENT DOCID=\" 12 \"/>", 12},
        {"<DOCUMENT OTHER=\"9\" DOCID=\"3\"/>", 9}, // the first attribute, whatever its name
        // What follows the last element does not count.
        {"<DOCUMENT DOCID=\"4\"/><!-- added by hand -->", 4},
        {"<DOCUMENT DOCID=\"4\"/><?note x?>\r\n\t\t", 4},
        {"<DOCUMENT DOCID=\"4\"/>stray text", 4},
        {"<!-- no document yet -->", 0},
        // A DOCID already held is never written again.
        {"<DOCUMENT DOCID=\"41\"/><DOCUMENT DOCID=\"7\"/>", 41},
        {"<DOCUMENT DOCID=\"x\"/><DOCUMENT DOCID=\"30\"/><DOCUMENT DOCID=\"7\"/><!-- c -->", 30},
    };
    for (const auto& [documents, expected] : cases) {
        DatagroupDocument document;
        document.parseExisting(head + documents + tail);
        EXPECT_EQ(document.locateDocuments(), expected) << documents;
    }
}

TEST(DatagroupDocument, LocateFailsOnWhatItCannotExtend)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "empty"},
        {"not xml at all", "not well formed"},
        {"<R><P><DOCUMENTS></DOCUMENTS></P>", "not well formed"},
        {"<R><P><DOCUMENTS></DOCUMENTS></P></R><R2/>", "not well formed"},
        {"<R><bad\x01/></R>", "not well formed"},
        {"<R/>", "root element"},
        {"<R><P/></R>", "PROJECT"},
        {"<R><P>text</P></R>", "PROJECT"},
        {"<R><P><DOCUMENTS/></P></R><!-- trailing -->", "root element"},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"32768\"/></DOCUMENTS></P></R>", "\"32768\""},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"-32769\"/></DOCUMENTS></P></R>", "\"-32769\""},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"abc\"/></DOCUMENTS></P></R>", "\"abc\""},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"\"/></DOCUMENTS></P></R>", "\"\""},
        // The last element, comments after it or not, must say its number.
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"5\"/><DOCUMENT/></DOCUMENTS></P></R>", "no DOCID"},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"5\"/><X>5</X><!-- c --></DOCUMENTS></P></R>", "no DOCID"},
        {"<R><P><DOCUMENTS><DOCUMENT DOCID=\"5\"/><DOCUMENT DOCID=\"x\"/>text</DOCUMENTS></P></R>", "\"x\""},
    };
    for (const auto& [bytes, expected] : cases) {
        DatagroupDocument document;
        document.parseExisting(bytes);
        try {
            document.locateDocuments();
            ADD_FAILURE() << "no failure for " << bytes;
        } catch (const Failure& failure) {
            EXPECT_NE(failure.description().find(expected), std::string::npos)
                << bytes << ": " << failure.description();
        }
        // Nothing can be added to a document that was not located.
        EXPECT_THROW(document.beginDocument("DOCUMENT", 1), Failure);
    }
}

TEST(DatagroupDocument, NewDocumentsGoOnlyIntoDocumentsAndNeverRepeatADocId)
{
    const std::string head = "<REZI_DATAGRP><DGNUMBER>1</DGNUMBER><PROJECT PROJID=\"P\"><DOCINDEXFIELDS/>";
    const std::string tail = "</PROJECT></REZI_DATAGRP>";
    const struct
    {
        const char* name;
        std::string project; // PROJECT's content after DOCINDEXFIELDS
        long lastDocId;      // -1: refused
        const char* refusal;
    } cases[] = {
        {"an element after DOCUMENTS", "<DOCUMENTS><DOCUMENT DOCID=\"7\"/></DOCUMENTS>\r\n\t<NOTE>checked</NOTE>", -1,
         "ends with NOTE"},
        {"an empty element after DOCUMENTS", "<DOCUMENTS><DOCUMENT DOCID=\"7\"/></DOCUMENTS><NOTE/>", -1,
         "not with DOCUMENTS"},
        {"DOCUMENTS in another case", "<documents><DOCUMENT DOCID=\"7\"/></documents>", -1, "ends with documents"},
        {"a DOCID deeper inside", "<DOCUMENTS><BOX><DOCUMENT DOCID=\"40\"/></BOX><DOCUMENT DOCID=\"7\"/></DOCUMENTS>",
         40, ""},
        {"a DOCID on a child of a document",
         "<DOCUMENTS><DOCUMENT DOCID=\"7\"><OBJECT DOCID=\"19\"/></DOCUMENT></DOCUMENTS>", 19, ""},
        {"a DOCID that is not a number deeper inside",
         "<DOCUMENTS><DOCUMENT DOCID=\"7\"><OBJECT DOCID=\"x\"/></DOCUMENT></DOCUMENTS>", 7, ""},
        {"only the last one numbered", "<DOCUMENTS><X/><DOCUMENT DOCID=\"3\"/></DOCUMENTS>", 3, ""},
    };
    // Once as this program writes files (read without a tree where it can be) and once through the tree.
    const std::string declarations[] = {"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n",
                                        "<?xml version='1.0' encoding='windows-1252'?>\r\n"};
    for (const auto& c : cases) {
        for (const std::string& declaration : declarations) {
            SCOPED_TRACE(std::string(c.name) + " after " + declaration);
            DatagroupDocument document;
            document.parseExisting(declaration + head + c.project + tail);
            if (c.lastDocId < 0) {
                try {
                    document.locateDocuments();
                    ADD_FAILURE() << "extended";
                } catch (const Failure& failure) {
                    EXPECT_NE(failure.description().find(c.refusal), std::string::npos) << failure.description();
                }
                continue;
            }
            const long last = document.locateDocuments();
            EXPECT_EQ(last, c.lastDocId);
            convertLines(document, kFieldNames, last, {{"A,\\img\\1.TIF,1,,B1,,x"}});
            const std::string saved = document.serialize();
            const std::string added = "<DOCUMENT DOCID=\"" + std::to_string(c.lastDocId + 1) + "\">";
            EXPECT_NE(saved.find(added), std::string::npos) << saved;
            EXPECT_GT(saved.find("</DOCUMENTS>"), saved.find(added)) << saved;
        }
    }
}

TEST(DatagroupDocument, AFileThatWouldNotReadBackIsRefusedNamingTheCharacter)
{
    const std::string documents = "<P><DOCUMENTS><DOCUMENT DOCID=\"1\"/></DOCUMENTS></P>";
    const std::string bom = "\xEF\xBB\xBF";
    const std::string han = "\xE6\xBC\xA2"; // U+6F22, which windows-1252 lacks
    const struct
    {
        std::string file;
        const char* refusal; // empty: extended, and the saved file reads back
    } cases[] = {
        {"<?note" + bom + "?><R>" + documents + "</R>",
         "The character U+FEFF in the target of processing instruction note"},
        {"<R><?note " + han + "?>" + documents + "</R>", "U+6F22 in processing instruction note"},
        {"<R>\n<N" + han + ">x</N" + han + ">" + documents + "</R>", "U+6F22 in the name of element N"},
        {"<R a" + han + "=\"1\">" + documents + "</R>", "U+6F22 in an attribute name of element R"},
        {"<R><!-- " + han + " -->" + documents + "</R>", "U+6F22 in a comment"},
        {"<R><N><![CDATA[" + han + "]]></N>" + documents + "</R>", "U+6F22 in a CDATA section"},
        // Where a character reference stands for the character, it is written as one.
        {"<R a=\"" + han + "\"><N>" + han + bom + "</N>" + documents + "</R>", ""},
        {"<R><?note \xE2\x84\xA2?><!-- \xE2\x82\xAC -->" + documents + "</R>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        DatagroupDocument document;
        document.parseExisting("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + c.file);
        if (*c.refusal) {
            try {
                document.locateDocuments();
                ADD_FAILURE() << "extended";
            } catch (const Failure& failure) {
                EXPECT_NE(failure.description().find(c.refusal), std::string::npos) << failure.description();
                EXPECT_NE(failure.description().find("(line "), std::string::npos) << failure.description();
            }
            continue;
        }
        const long last = document.locateDocuments();
        convertLines(document, kFieldNames, last, {{"A,\\img\\1.TIF,1,,B1,,x"}});
        DatagroupDocument reread;
        reread.parseExisting(document.serialize());
        EXPECT_EQ(reread.locateDocuments(), last + 1) << document.serialize();
    }
}

TEST(DatagroupDocument, Windows1252RoundTripsEveryByte)
{
    // Every byte from 0x80 up, the five that windows-1252 leaves undefined included, in text and in an
    // attribute; all must come back as they were.
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.push_back(static_cast<char>(b));
    const std::string existing = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<R><DGCOMPNAME>" + high +
                                 "</DGCOMPNAME><P PROJID=\"" + high +
                                 "\"><DOCUMENTS><DOCUMENT DOCID=\"1\"/></DOCUMENTS></P></R>";
    DatagroupDocument document;
    document.parseExisting(existing);
    ASSERT_EQ(document.locateDocuments(), 1);
    EXPECT_EQ(document.serialize(), existing);

    document.beginDocument("DOCUMENT", 2);
    // Ω and an emoji have no byte; U+0081 has one; a CR inside a value must not look like layout.
    document.addIndexField("Notes", "Ω😀\u0081€\r\nx", true);
    const std::string saved = document.serialize();
    EXPECT_NE(saved.find("<VALUE>&#937;&#128512;\x81\x80&#13;\nx</VALUE>"), std::string::npos) << saved;

    DatagroupDocument reread;
    reread.parseExisting(saved);
    ASSERT_EQ(reread.locateDocuments(), 2);
    EXPECT_EQ(reread.serialize(), existing.substr(0, existing.find("</DOCUMENTS>")) +
                                      "<DOCUMENT DOCID=\"2\"><DOCINDEXFIELD>" +
                                      "<NAME>Notes</NAME><VALUE>&#937;&#128512;\x81\x80&#13;\nx</VALUE>" +
                                      "</DOCINDEXFIELD></DOCUMENT></DOCUMENTS></P></R>");
}

TEST(DatagroupDocument, ExistingFileIsReadInTheEncodingItDeclares)
{
    const std::string body = "<R><N>Z\xC3\xBCrich \xCE\xA9</N><P><DOCUMENTS/></P></R>"; // "Zürich Ω" in UTF-8
    const std::string saved =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<R><N>Z\xFCrich &#937;</N><P><DOCUMENTS/></P></R>";
    const struct
    {
        const char* name;
        std::string bytes;
        const char* failure; // nullptr: read as `saved` shows
    } cases[] = {
        {"UTF-8 declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, nullptr},
        {"no declaration", body, nullptr},
        {"declaration without encoding", "<?xml version='1.0'?>" + body, nullptr},
        {"UTF-8 mark", "\xEF\xBB\xBF" + body, nullptr},
        {"windows-1252",
         "<?xml version=\"1.0\" encoding=\"Windows-1252\"?><R><N>Z\xFCrich &#937;</N><P><DOCUMENTS/></P></R>", nullptr},
        {"ISO-8859-7", "<?xml version=\"1.0\" encoding='ISO-8859-7'?><R><N>Z&#252;rich \xD9</N><P><DOCUMENTS/></P></R>",
         nullptr},
        {"windows-1252 bytes declared UTF-8",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R><N>Z\xFCrich</N><P><DOCUMENTS/></P></R>", "not UTF-8"},
        {"windows-1252 bytes undeclared", "<R><N>Z\xFCrich</N><P><DOCUMENTS/></P></R>", "not UTF-8"},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"x-none\"?>" + body, "x-none"},
        {"UTF-8 mark against the declaration",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?><R><P><DOCUMENTS/></P></R>", "UTF-8 mark"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DatagroupDocument document;
        document.parseExisting(c.bytes);
        if (c.failure) {
            try {
                document.locateDocuments();
                ADD_FAILURE() << "read";
            } catch (const Failure& failure) {
                EXPECT_NE(failure.description().find(c.failure), std::string::npos) << failure.description();
            }
            continue;
        }
        ASSERT_EQ(document.locateDocuments(), 0);
        EXPECT_EQ(document.serialize(), saved);
    }
}

TEST(DatagroupDocument, ReopeningWhatWasSavedEqualsReadingTheFile)
{
    // Each case: field names, the existing file (empty: a new datagroup), then two index files.
    const auto drop = [](DatagroupDocument& d) { d.dropCurrentDocument(); };
    const struct
    {
        const char* name;
        std::string fieldNames;
        std::string existing;
        std::vector<Line> first, second;
    } cases[] = {
        {"sample lines",
         kFieldNames,
         "",
         {{"Smith,\\img\\0001.TIF,3,x,B1,2024-01-05,caf\u00e9 \u2013 \u20ac5 \u03a9"},
          {"\"Jones\",\\img\\0002.jpg,2,,B1,,\"A & B <c>\"",
           [](DatagroupDocument& d) { d.changeFile1("\\img\\0002-0001.jpg"); }},
          {"Loner"},
          {"Gone,\\img\\0006.TIF,1,,B2,2024-02-01,x", drop}},
         {{"Next,\\img\\0008.TIF,1,,B3,,\t"}, {"Dropped,\\img\\0009.TIF,1,,B3,,", drop}}},
        {"no lines", kFieldNames, "", {}, {{"One,\\img\\1.TIF,1,,B1,,"}}},
        {"only a dropped line", kFieldNames, "", {{"Gone,\\img\\1.TIF,1,,B1,,", drop}}, {}},
        {"nothing declared, a line of layout only", "SKIP|IMAGEPATH", "", {{"x"}}, {{"y"}}},
        {"hand-edited file",
         kFieldNames,
         "<?xml version=\"1.0\"?>\n<!-- kept -->\n<R><N>\u00fc</N><P><DOCUMENTS><DOCUMENT DOCID=\"4\"/><!-- c "
         "--></DOCUMENTS></P></R>",
         {{"A,\\img\\1.TIF,1,,B1,,"}},
         {{"B,\\img\\2.TIF,1,,B1,,"}}},
        {"existing, nothing added",
         kFieldNames,
         "<R><N>1</N><P><DOCUMENTS><DOCUMENT DOCID=\"4\"><X>\t</X></DOCUMENT></DOCUMENTS></P></R>",
         {},
         {{"B,\\img\\2.TIF,1,,B1,,"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir / "DATAGRP.XML";
        DatagroupDocument kept;
        long last = 0;
        if (c.existing.empty()) {
            buildSampleHeader(kept, c.fieldNames, c.fieldNames);
        } else {
            kept.parseExisting(c.existing);
            last = kept.locateDocuments();
        }
        last = convertLines(kept, c.fieldNames, last, c.first);
        if (c.existing.empty())
            kept.closeNewDocument();
        for (const std::vector<Line>* lines : {&c.second, &c.first}) {
            kept.save(path);
            const std::string saved = readFile(path);
            ASSERT_EQ(kept.serialize(), saved);
            const std::optional<long> reopened = kept.reopenSaved();
            if (!reopened) {
                EXPECT_EQ(std::string(c.name), "hand-edited file") << "only a file it cannot tell refuses";
                break;
            }
            const long reopenedLast = *reopened;
            // Another spelling of the declaration, so that the file goes through the parser's tree.
            DatagroupDocument read;
            read.parseExisting("<?xml version='1.0' encoding='windows-1252'?>" + saved.substr(saved.find("?>") + 2));
            EXPECT_EQ(reopenedLast, read.locateDocuments());
            EXPECT_EQ(kept.serialize(), read.serialize());
            EXPECT_EQ(convertLines(kept, c.fieldNames, reopenedLast, *lines),
                      convertLines(read, c.fieldNames, reopenedLast, *lines));
            EXPECT_EQ(kept.serialize(), read.serialize());
        }
    }
}

TEST(DatagroupDocument, AFileAsThisProgramWritesItReadsAsThroughTheParser)
{
    // The same bytes once with the declaration this program writes (read without a tree where it can
    // be) and once with another spelling of it (always parsed into a tree) must extend alike.
    const std::string layoutHeader =
        "<REZI_DATAGRP>\r\n<DGNUMBER>1</DGNUMBER>\r\n\t<PROJECT PROJID=\"a &quot;b&quot; &#13;&#9;&#10; \xFC &#937;\">";
    const std::vector<std::string> bodies = {
        readFile(kDataDir + "new-datagroup.xml").substr(47),
        readFile(kDataDir + "extended-datagroup.xml").substr(47),
        layoutHeader + "\r\n\t\t<DOCUMENTS>\r\n\t\t</DOCUMENTS>\r\n\t</PROJECT>\r\n</REZI_DATAGRP>",
        layoutHeader + "<DOCUMENTS/></PROJECT></REZI_DATAGRP>",
        layoutHeader +
            "<DOCUMENTS><DOCUMENT DOCID=\"3\">\r\n\t\t\t\t<OBJECT>\r\n\t\t\t\t\t</OBJECT><V>\t</V><V>\n</V>" +
            "<V>a&#13;</V><V> &amp; &lt; &gt; \" ' \x81 &#128512;</V><V></V></DOCUMENT>\r\n\t\t\t" +
            "<DOCUMENT DOCID=\"9\"/>\r\n\t\t\t\r\n\t\t\t<DOCUMENT X=\"8\" "
            "DOCID=\"12\"/></DOCUMENTS></PROJECT></REZI_DATAGRP>",
        layoutHeader +
            "<DOCUMENTS><DOCUMENT DOCID=\"1\"><V>&#13;</V>&#13;</DOCUMENT></DOCUMENTS></PROJECT></REZI_DATAGRP>",
        layoutHeader + "<DOCUMENTS><X DOCID=\"2\">\r\n</X></DOCUMENTS>\r\n\t</PROJECT></REZI_DATAGRP>",
        layoutHeader + "<DOCUMENTS><DOCUMENT DOCID=\"1\"/>text\r\n\t\t</DOCUMENTS></PROJECT></REZI_DATAGRP>",
        layoutHeader +
            "<DOCUMENTS><DOCUMENT DOCID=\"1\"><!-- c -->\r\n</DOCUMENT></DOCUMENTS></PROJECT></REZI_DATAGRP>",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 200));
        DatagroupDocument fast;
        DatagroupDocument parsed;
        fast.parseExisting("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n" + body);
        parsed.parseExisting("<?xml version='1.0' encoding='windows-1252'?>\r\n" + body);
        const long last = parsed.locateDocuments();
        ASSERT_EQ(fast.locateDocuments(), last);
        EXPECT_EQ(fast.serialize(), parsed.serialize());
        const std::vector<Line> lines = {
            {"A,\\img\\1.TIF,1,,B1,,\t"},
            {"B,\\img\\2.TIF,1,,B1,,x", [](DatagroupDocument& d) { d.dropCurrentDocument(); }}};
        convertLines(fast, kFieldNames, last, lines);
        convertLines(parsed, kFieldNames, last, lines);
        EXPECT_EQ(fast.serialize(), parsed.serialize());
    }
}

TEST(DatagroupDocument, RefusesCharactersXmlCannotCarry)
{
    const std::vector<std::string> values = {
        std::string("a\0b", 3), "a\x01", "\x1F", "\x0B", "a\xEF\xBF\xBE", "\xEF\xBF\xBF", "broken \xC3",
    };
    for (const std::string& bad : values) {
        DatagroupDocument document;
        buildSampleHeader(document);
        document.beginDocument("DOCUMENT", 1);
        document.beginObject();
        const std::string before = document.serialize();

        const auto expectRefused = [&](const std::function<void()>& action, const std::string& named) {
            try {
                action();
                ADD_FAILURE() << "accepted " << named;
            } catch (const Failure& failure) {
                EXPECT_NE(failure.description().find(named), std::string::npos) << failure.description();
            }
            EXPECT_EQ(document.serialize(), before) << "something was added for " << named;
        };
        expectRefused([&] { document.addIndexField("Scan Date", bad, false); }, "Field 'Scan Date'");
        expectRefused([&] { document.addIndexField("Notes", bad, true); }, "Field 'Notes'");
        expectRefused([&] { document.setImagePath(bad); }, "image path");
        document.setImagePath("\\img\\a.TIF");
        const std::string placed = document.serialize();
        EXPECT_THROW(document.changeFile1(bad), Failure);
        EXPECT_EQ(document.serialize(), placed);
    }
    DatagroupDocument header;
    EXPECT_THROW(header.buildHeader("REZI_DATAGRP", {"1", "Acme\x02", "A", "P", "N"}, {}, {}), Failure);
}

TEST(DatagroupDocument, FailedSaveLeavesThePreviousFileWhole)
{
    TempDir dir;
    const std::string path = dir / "DATAGRP.XML";
    const std::string previous = readFile(kDataDir + "new-datagroup.xml");
    writeFile(path, previous);

    DatagroupDocument document;
    buildSampleHeader(document);
    document.closeNewDocument();

    faults::arm({});
    document.save(path);
    const long operations = faults::operationsSinceArmed();
    faults::disarm();
    ASSERT_GT(operations, 0);

    const std::string replacement = document.serialize();
    for (long k = 1; k <= operations; ++k) {
        for (int error : {ENOSPC, EIO}) {
            writeFile(path, previous);
            faults::arm({.failAt = k, .error = error, .persistent = true});
            EXPECT_THROW(document.save(path), Failure) << "operation " << k;
            faults::disarm();
            // Only a failure after the replacement (syncing the folder) may leave the new file.
            const std::string left = readFile(path);
            EXPECT_TRUE(left == previous || (left == replacement && k == operations)) << "operation " << k;
            EXPECT_EQ(files::listFiles(dir.path()), std::vector<std::string>{"DATAGRP.XML"}) << "operation " << k;
        }
    }
    EXPECT_THROW(document.save(dir / "missing/DATAGRP.XML"), Failure);
}

TEST(DatagroupDocument, MisuseFailsInsteadOfCorruptingTheTree)
{
    DatagroupDocument document;
    EXPECT_THROW(document.serialize(), Failure);
    buildSampleHeader(document);
    EXPECT_THROW(document.beginObject(), Failure);
    document.beginDocument("DOCUMENT", 1);
    EXPECT_THROW(document.setPages("1"), Failure);
    EXPECT_THROW(document.setImagePath("a.TIF"), Failure);
    EXPECT_THROW(document.beginDocument("NOT A NAME", 2), Failure);
    document.dropCurrentDocument();
    document.endDocument();
    document.changeFile1("b.TIF");
    EXPECT_EQ(between(document.serialize(), "<DOCUMENTS>", "</DOCUMENTS>"),
              "<DOCUMENTS>" + layoutTabs(3) + "</DOCUMENTS>");
}
