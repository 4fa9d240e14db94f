#pragma once

#include "filetools/Failure.h"

#include <functional>
#include <memory>
#include <optional>
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

// The DATAGRP.XML document of one conversion run, with the layout text (a line break and tabs)
// exactly where the datagroup format puts it, saved as a whole in windows-1252.
//
// The as-written scanner lives in AsWrittenScan.cpp, the tree path in DatagroupTree.cpp and the
// serializer of the added documents in DatagroupSerializer.cpp.
//
// Only the header of a new datagroup and the existing part of an extended one go through a libxml2
// tree, which is written out as soon as DOCUMENTS is known and then freed; an existing file that looks
// exactly as this program writes it needs no tree at all. The documents a run adds are
// kept as the bytes they are saved as: a tree costs several kilobytes per document, and an archive
// batch has a million of them. The current document alone stays open until the next one begins, so
// that it can still be dropped or have its image path changed.
//
// Text passed in is UTF-8. A text holding a character that XML 1.0 cannot carry (control characters
// other than tab, CR and LF; U+FFFE, U+FFFF; broken UTF-8) is refused with a Failure naming it before
// anything is added, so that no file is ever saved that could not be read back.
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

    // Parses an existing file's bytes in the encoding its declaration names (UTF-8 without one, or
    // with a UTF-8 mark). Never throws: a file that is not well formed, or whose bytes are not in its
    // encoding, leaves an empty document, and locateDocuments reports it. The
    // layout between elements is not kept; an element whose only content is white space keeps it (a
    // field of tabs), unless that is a line break and tabs only, the layout of an empty element.
    void parseExisting(std::string_view bytes);
    // The same, always through the libxml2 tree, never the as-written scanner: both must make the same
    // document of every input, which the DATAGRP.XML fuzz target compares.
    void parseExistingAsTree(std::string_view bytes);

    // Finds DOCUMENTS (the last element of the last element of the root, which must be named so) and
    // returns the number of its last element (comments and text after it do not count), or a higher
    // DOCID that an element anywhere inside it already holds, so that numbering on never repeats one;
    // 0 when it has no element. Throws a Failure saying what is wrong when the document is empty, lacks
    // that structure, the last element's first attribute is missing or not a whole number from -32768
    // to 32767, a character windows-1252 lacks stands where no character reference can stand for it
    // (a name, a processing instruction, a comment), or the file would not read back once saved.
    long locateDocuments();

    // After a save: makes the document what parseExisting and locateDocuments would make of the file
    // it saved (its layout gone), without reading it, and returns the last DOCID as they would. Nothing
    // when that cannot be told without reading the file; the document must then be read afresh.
    std::optional<long> reopenSaved();

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
    // The current document's image replaced the file that an earlier document names in FILE1: that
    // document (the last such) takes the current one's values, OBJECT and pages, keeping its DOCID, and
    // the current one goes, leaving its DOCID unused. False, and nothing changed, when no earlier
    // document names `imagePath`.
    bool replaceEarlierDocument(std::string_view imagePath);

    // The closing layout of a new document; an extended one gets none.
    void closeNewDocument();

    // The file's bytes: the declaration, CR LF, the root, no line break after it. Throws a Failure for
    // an empty document or when libxml2 fails.
    std::string serialize() const;
    // Replaces the file atomically: a failure leaves the previous file whole and is raised as a Failure.
    void save(const std::string& path) const;
    // Hands the bytes a save would write to `write`, without a copy of a large document.
    void saveWith(const std::function<void(std::string_view)>& write) const;

private:
    class Bytes;
    struct Open;

    void reset();
    bool adoptAsWritten(std::string_view bytes);
    void parseTree(std::string_view bytes);
    long locateInTree();
    void freeze(bool newDocument);
    void serializeTree(Bytes& out, _xmlNode* marker, size_t* rootStart) const;
    void flushOpen();
    void appendOpen(Bytes& out) const;
    void appendTail(Bytes& out) const;
    template <class Use> void withWholeFile(Use&& use) const;
    bool documentsEmpty() const;
    void prepareDictionary();
    _xmlNode* layout(int tabs);
    _xmlNode* appendLayout(_xmlNode* parent, int tabs);
    _xmlNode* appendElement(_xmlNode* parent, int name, std::string_view text);
    _xmlNode* appendElementShared(_xmlNode* parent, int name, std::string_view sharedText);
    Open& requireDocument(const char* operation) const;
    Open& requireObject(const char* operation) const;

    // The tree, until DOCUMENTS is located (or for a new document, until its header is built).
    _xmlDoc* m_doc = nullptr;
    _xmlNode* m_root = nullptr;
    _xmlNode* m_project = nullptr;
    _xmlNode* m_documents = nullptr;
    // Layout texts and element names, interned once in the tree's dictionary and shared by every node
    // that uses them.
    std::vector<const unsigned char*> m_layout;
    std::vector<const unsigned char*> m_names;
    // Why the existing file could not be read: raised when its documents are looked for, the stage at
    // which the run reports it.
    std::optional<Failure> m_parseFailure;

    // Once frozen: the bytes up to the end of DOCUMENTS' content, the documents added so far included
    // (m_bytes), and what follows that content (m_tailOpen; m_tailClosed once a new document is closed).
    std::unique_ptr<Bytes> m_bytes;
    std::unique_ptr<Open> m_open; // the current document, not yet in m_bytes
    bool m_frozen = false;
    bool m_closed = false;
    bool m_parsed = false;                 // the existing part was read from a file
    bool m_documentsHadChild = false;      // in the part before m_contentStart
    bool m_documentsEndsInElement = false; // that part ends with an element (or is empty)
    bool m_documentsIsContainer = true;    // DOCUMENTS is named as one whose white space is layout
    bool m_documentsHoldElement = false;   // DOCUMENTS holds an element, so its white space is layout
    size_t m_rootStart = 0;                // no layout before it; the bytes after it up to m_strippedTo have none
    size_t m_strippedTo = 0;
    size_t m_contentStart = 0;    // where DOCUMENTS' content begins
    size_t m_documentsEndTag = 0; // length of DOCUMENTS' end tag at the start of the tails
    std::string m_tailOpen, m_tailClosed;
    long m_highestDocId = 0;
    std::string m_documentName; // the last name checked, so a run checks it once
    std::string m_documentTag;  // and as it is written
    mutable std::string m_scratch;
};

} // namespace tollavar
