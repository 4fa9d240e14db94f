#pragma once

#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace tollavar {

struct DatagroupHeader
{
    std::string dgNumber, companyName, companyId, projectId, projectName;
};

// The DATAGRP.XML document of one conversion run: a libxml2 tree built node by node, with the layout
// text (a line break and tabs) as text nodes of their own exactly where the datagroup format puts
// them, and saved as a whole in windows-1252.
//
// Adding to the current document, dropping it and changing its image path take constant time: the
// document keeps its root, PROJECT, DOCUMENTS and the current DOCUMENT, OBJECT and FILE1 at hand and
// never searches the tree.
//
// Text passed in is UTF-8. A text holding a character that XML 1.0 cannot carry (control characters
// other than tab, CR and LF; U+FFFE, U+FFFF; broken UTF-8) is refused with a Failure naming it before
// anything is added, so that no file is ever saved that could not be read back.
// False for a text that XML 1.0 cannot hold (see DatagroupDocument).
bool XmlCanCarry(std::string_view text);

class DatagroupDocument
{
public:
    DatagroupDocument();
    ~DatagroupDocument();
    DatagroupDocument(const DatagroupDocument&) = delete;
    DatagroupDocument& operator=(const DatagroupDocument&) = delete;

    // A new document: the root named `rootName`, the header and the declarations of the fields whose
    // names are not reserved. Replaces whatever the document held.
    void buildHeader(const std::string& rootName, const DatagroupHeader& header,
                     const std::vector<std::string>& fieldNames, const std::vector<std::string>& fieldTypes);

    // Parses an existing file's bytes as windows-1252 (whatever its declaration says). Never throws: a
    // file that is not well formed leaves an empty document, and locateDocuments reports it. The
    // layout between elements is not kept; an element whose only content is white space keeps it (a
    // field of tabs), unless that is a line break and tabs only, the layout of an empty element.
    void parseExisting(std::string_view bytes);

    // Finds DOCUMENTS (the last element of the last element of the root) and returns the DOCID of
    // its last document, 0 when it has none. Throws a Failure saying what is wrong when the document
    // is empty, lacks that structure or the DOCID is not a whole number from -32768 to 32767.
    long locateDocuments();

    // One document, in the order the index line gives its columns.
    void beginDocument(const std::string& documentName, long docId);
    void beginObject();                       // at the line's first delimiter
    void setImagePath(std::string_view path); // FILE1 and OBJTYPE
    void setPages(std::string_view pages);
    void addIndexField(std::string_view name, std::string_view value, bool lastColumn);
    void endDocument(); // after the image was placed

    // The current document's image could not be placed: it goes, its DOCID stays used.
    void dropCurrentDocument();
    // The current document's image was placed under another name.
    void changeFile1(std::string_view newPath);

    // The closing layout of a new document; an extended one gets none.
    void closeNewDocument();

    // The file's bytes: the declaration, CR LF, the root, no line break after it. Throws a Failure for
    // an empty document or when libxml2 fails.
    std::string serialize() const;
    // Serializes first and then replaces the file atomically: a failure leaves the previous file
    // whole and is raised as a Failure.
    void save(const std::string& path) const;

private:
    void reset();
    void prepareDictionary();
    _xmlNode* layout(int tabs);
    _xmlNode* appendLayout(_xmlNode* parent, int tabs);
    _xmlNode* appendElement(_xmlNode* parent, int name, std::string_view text);
    _xmlNode* appendElementShared(_xmlNode* parent, int name, std::string_view sharedText);
    _xmlNode* requireDocument(const char* operation) const;
    _xmlNode* requireObject(const char* operation) const;

    _xmlDoc* m_doc = nullptr;
    _xmlNode* m_root = nullptr;
    _xmlNode* m_project = nullptr;
    _xmlNode* m_documents = nullptr;
    _xmlNode* m_document = nullptr;
    _xmlNode* m_object = nullptr;
    _xmlNode* m_file1 = nullptr;
    // Layout texts and element names, interned once in the document's dictionary and shared by every
    // node that uses them: a 100,000-document datagroup holds millions of such nodes.
    std::vector<const unsigned char*> m_layout;
    std::vector<const unsigned char*> m_names;
    std::string m_parseError;
};

} // namespace tollavar
