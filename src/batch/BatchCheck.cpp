#include "batch/BatchCheck.h"

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "batch/FolderEntries.h"
#include "batch/ImagePathRefusal.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionSettings.h"
#include "engine/DatagroupDocument.h"
#include "engine/IndexFileReader.h"
#include "engine/IndexLineParser.h"
#include "engine/NameExtension.h"
#include "engine/NumberText.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"

#include <algorithm>
#include <cstdint>

namespace tollavar {

void CheckFindings::add(long line, std::string text)
{
    ++count;
    if (examples.size() < kCheckExamples)
        examples.push_back(CheckExample{line, std::move(text)});
}

bool IsBlocking(CheckKind kind, bool allowDuplicates)
{
    switch (kind) {
    case CheckKind::MissingImage:
    case CheckKind::RefusedPath:
    case CheckKind::XmlValue:
        return true;
    case CheckKind::DuplicateImage:
        return !allowDuplicates;
    case CheckKind::ColumnCount:
    case CheckKind::FullText:
        break;
    }
    return false;
}

long BatchCheckReport::blockingCount() const
{
    long total = static_cast<long>(problems.size());
    for (const IndexFileCheck& file : files) {
        total += static_cast<long>(file.problems.size());
        for (size_t kind = 0; kind < kCheckKindCount; ++kind)
            if (IsBlocking(static_cast<CheckKind>(kind), allowDuplicates))
                total += file.findings[kind].count;
    }
    return total;
}

namespace {

// The run numbers no document above this (DOCID is 16 bits wherever a datagroup is read).
constexpr long kHighestDocId = 32767;

// Records what the conversion would write for one line: its image path and the first value that the
// document would refuse (the run stops at the first).
class CheckSink : public FieldSink
{
public:
    void startLine()
    {
        m_imagePath.clear();
        m_refused.clear();
    }
    const std::string& imagePath() const { return m_imagePath; }
    const std::string& refused() const { return m_refused; }

    void beginObject() override {}
    void imagePath(std::string_view path) override
    {
        m_imagePath.assign(path);
        note(path, "the image path");
    }
    void pageCount(std::string_view pages) override { note(pages, "the page count"); }
    void indexField(std::string_view name, std::string_view value, bool) override
    {
        if (!m_refused.empty())
            return;
        if (!XmlCanCarry(name))
            m_refused = "field name '" + std::string(name) + "'";
        else if (!XmlCanCarry(value))
            m_refused = "field '" + std::string(name) + "'";
    }

private:
    void note(std::string_view value, const char* what)
    {
        if (m_refused.empty() && !XmlCanCarry(value))
            m_refused = what;
    }

    std::string m_imagePath;
    std::string m_refused;
};

// The path as the file system takes it, built in a buffer that keeps its storage from line to line.
void nativeJoin(std::string& out, const std::string& folder, std::string_view relative)
{
    out.assign(folder);
    out.append(relative);
    std::replace(out.begin(), out.end(), '\\', '/');
}

class Checker
{
public:
    Checker(CommandContext& ctx, BatchCheckReport& report) : m_ctx(ctx), m_s(ctx.settings), m_report(report) {}

    void run()
    {
        m_report.configFile = m_ctx.ConfigFile;
        m_report.allowDuplicates = m_s.mAllowDupes;
        if (m_s.txtXML.empty()) {
            m_report.problems.push_back("Missing XML file setting: the Convert command would stop at once");
            return;
        }
        try {
            m_report.datagroupFolder = DatagroupFolderPath(m_s);
        } catch (const Failure&) {
            m_report.problems.push_back("The datagroup number \"" + m_s.txtDGNUMBER +
                                        "\" is not a whole number from -32768 to 32767: the Convert command would "
                                        "stop at once");
            return;
        }
        m_datagroupFolder = files::nativePath(m_report.datagroupFolder);
        m_xmlFile = m_datagroupFolder + "/DATAGRP.XML";
        m_report.datagroupExists = files::folderExists(m_datagroupFolder);
        readDatagroup();
        m_docId = m_report.lastDocIdBefore;
        if (const auto maxFiles = ParseInt32(m_s.txtMaxFiles))
            m_report.maxFiles = static_cast<long>(*maxFiles);
        checkFieldLists();

        for (const std::string& item : SplitBarList(m_s.txtIDX)) {
            try {
                ForEachSelectedIndexFile(m_ctx, item, [this](const std::string& file) {
                    checkFile(file);
                    return true;
                });
            } catch (const Failure& failure) {
                m_report.problems.push_back("Item \"" + item + "\": " + failure.description() +
                                            ": the Convert command would stop here, without its marker");
                break;
            }
        }
        m_report.nextDocId = m_report.lastDocIdBefore + 1;
        m_report.lastDocIdAfter = m_docId;
        if (!m_report.files.empty() && !m_report.maxFiles)
            m_report.problems.push_back("Maximum files per datagroup \"" + m_s.txtMaxFiles +
                                        "\" is not a number: every conversion would fail after saving");
    }

private:
    void readDatagroup()
    {
        if (!files::fileExists(m_xmlFile)) {
            const DatagroupHeader header{m_s.txtDGNUMBER, m_s.txtDGCOMPNAME, m_s.txtDGCOMPID, m_s.txtPROJID,
                                         m_s.txtNAME};
            for (const std::string* value :
                 {&header.dgNumber, &header.companyName, &header.companyId, &header.projectId, &header.projectName}) {
                if (!XmlCanCarry(*value))
                    m_report.problems.push_back("The datagroup's header value \"" + *value +
                                                "\" holds a character XML cannot carry");
            }
            return;
        }
        m_report.xmlExists = true;
        if (m_ctx.fileTools.IsFileInUse(m_xmlFile))
            m_report.problems.push_back("DATAGRP.XML is held open by another program: the run would wait for it");
        std::string bytes;
        try {
            bytes = files::readAll(m_xmlFile);
        } catch (const Failure& failure) {
            m_report.problems.push_back(failure.description());
            return;
        }
        if (bytes.empty()) {
            m_report.problems.push_back("DATAGRP.XML is empty: the run would ask \"Datagrp.xml file is corrupt!  Do "
                                        "you want to delete?\"");
            return;
        }
        DatagroupDocument document;
        document.parseExisting(bytes);
        try {
            m_report.lastDocIdBefore = document.locateDocuments();
            m_report.xmlExtensible = true;
        } catch (const Failure& failure) {
            m_report.problems.push_back(failure.description() + ": every conversion would stop at step 9");
        }
    }

    void checkFieldLists()
    {
        m_names = SplitBarList(m_s.txtFNAMES);
        const std::vector<std::string> types = SplitBarList(m_s.txtFTYPES);
        m_imagePathColumn = FindReservedColumns(m_names).imagePath;
        if (m_names.size() != types.size()) {
            m_report.problems.push_back("Different number of field names (" + std::to_string(m_names.size()) +
                                        ") and types (" + std::to_string(types.size()) +
                                        "): no index file would be converted");
        } else if (m_imagePathColumn < 0) {
            m_report.problems.push_back("ImagePath field is missing: no index file would be converted");
        }
        if (!m_report.xmlExists) {
            for (size_t i = 0; i < m_names.size() && i < types.size(); ++i)
                if (!XmlCanCarry(m_names[i]) || !XmlCanCarry(types[i]))
                    m_report.problems.push_back("Field '" + m_names[i] + "' has a name or type that XML cannot carry");
        }
    }

    void checkFile(const std::string& file)
    {
        IndexFileCheck& check = m_report.files.emplace_back();
        check.path = file;
        const std::string imageFolder =
            files::nativePath(m_s.txtImageFolder.empty() ? FileTools::GetFPath(file) : m_s.txtImageFolder);
        const bool placesImages = m_imagePathColumn >= 0 && FileTools::GetFPath(file) != m_datagroupFolder;

        std::optional<IndexFileReader> reader;
        try {
            reader.emplace(files::nativePath(file));
        } catch (const Failure& failure) {
            check.problems.push_back(failure.description());
            return;
        }
        check.encoding = reader->encodingName();
        ConversionObserver* const progress = m_ctx.progress;
        if (progress)
            progress->indexFileStarted(file, progress->wantsLineCount() ? reader->countLines() : -1);
        std::string_view line;
        long lineNumber = 0;
        if (m_s.mSkipHeader) {
            if (!reader->readLine(line))
                check.problems.push_back("The file has no header line to skip: the run would stop at step 11");
            else
                lineNumber = check.lines = 1;
        }

        IndexLineParser parser(m_names);
        const std::string delimiter = DelimiterFromSetting(m_s.cboDelimiter);
        CheckSink sink;
        RunStage stage = RunStage::LineRead;
        check.firstDocId = m_docId + 1;
        while (reader->readLine(line)) {
            ++lineNumber;
            ++check.lines;
            if (progress && lineNumber % ConversionObserver::kProgressEvery == 0)
                progress->linesDone(lineNumber, check.documents);
            if (IsBlankLine(line))
                continue;
            if (m_docId >= kHighestDocId) {
                check.problems.push_back("Line " + std::to_string(lineNumber) +
                                         " would need DOCID 32768: the run would stop there with \"6 - Overflow: a "
                                         "datagroup holds at most 32,767 documents; split the index file or lower "
                                         "Max Files per Datagroup\"");
                break;
            }
            ++check.documents;
            ++m_docId;
            sink.startLine();
            const size_t columns = parser.parseLine(line, delimiter, sink, stage);
            if (columns != m_names.size())
                check[CheckKind::ColumnCount].add(lineNumber, std::to_string(columns) + " columns for " +
                                                                  std::to_string(m_names.size()) + " names");
            if (!sink.refused().empty())
                check[CheckKind::XmlValue].add(lineNumber, sink.refused() + " holds a character XML cannot carry");
            else if (placesImages && !sink.imagePath().empty())
                checkImage(check, lineNumber, sink.imagePath(), imageFolder);
        }
        check.lastDocId = m_docId;
        if (progress)
            progress->indexFileEnded(IndexFileFacts{}, true);
    }

    void checkImage(IndexFileCheck& check, long line, const std::string& imagePath, const std::string& imageFolder)
    {
        nativeJoin(m_source, imageFolder, imagePath);
        const uint64_t source = PathHash(m_source);
        if (m_movedSources.contains(source)) {
            check[CheckKind::MissingImage].add(line, imagePath + ": moved into the datagroup by an earlier line");
            return;
        }
        ImagePathVerdict verdict = JudgeImagePath(imageFolder, imagePath, m_pathMemory);
        std::string_view name;
        if (verdict == ImagePathVerdict::Missing) {
            // The run takes the one file whose name differs in letter case only, and asks about several.
            const size_t otherCase = m_pathMemory.listings.ofPath(m_source, name).regularFilesIgnoringCase(name);
            if (otherCase > 1) {
                check[CheckKind::MissingImage].add(line, imagePath + ": no file " + m_source + ", and " +
                                                             std::to_string(otherCase) +
                                                             " that differ from it in letter case only");
                return;
            }
            if (otherCase == 0) {
                check[CheckKind::MissingImage].add(line, imagePath + ": no file " + m_source);
                return;
            }
            verdict = ImagePathVerdict::Usable;
        }
        if (verdict != ImagePathVerdict::Usable) {
            check[CheckKind::RefusedPath].add(line, imagePath + ": " + RefusalReason(verdict));
            return;
        }
        nativeJoin(m_destination, m_datagroupFolder, imagePath);
        const bool taken = !m_placed.insert(PathHash(m_destination)) ||
                           m_datagroupFiles.ofPath(m_destination, name).find(name) != FolderEntries::Kind::None;
        if (taken) {
            check[CheckKind::DuplicateImage].add(line, imagePath + ": " + m_destination +
                                                           (m_s.mAllowDupes
                                                                ? " is taken; the image would get a numbered name"
                                                                : " is taken; the run would ask \"File Exists\""));
            if (!m_s.mAllowDupes)
                return;
        }
        m_movedSources.insert(source);
        if (!m_pathMemory.listings.ofPath(m_source, name).anyTextFile())
            return;
        const std::optional<std::string> fullTextPath = ReplaceNameExtension(imagePath, ".txt");
        if (!fullTextPath)
            return;
        nativeJoin(m_fullText, imageFolder, *fullTextPath);
        const FolderEntries& entries = m_pathMemory.listings.ofPath(m_fullText, name);
        const FolderEntries::Kind fullText = entries.find(name);
        if (fullText != FolderEntries::Kind::None && fullText != FolderEntries::Kind::Folder) {
            check[CheckKind::FullText].add(line, m_fullText);
            return;
        }
        if (fullText != FolderEntries::Kind::None)
            return;
        const size_t otherCase = entries.regularFilesIgnoringCase(name);
        if (otherCase == 1)
            check[CheckKind::FullText].add(line, m_fullText + " in other letter case");
        else if (otherCase > 1)
            check[CheckKind::MissingImage].add(line, m_fullText + ": " + std::to_string(otherCase) +
                                                         " full-text files differ from it in letter case only; the "
                                                         "run would ask");
    }

    CommandContext& m_ctx;
    const ConversionSettings& m_s;
    BatchCheckReport& m_report;
    std::string m_datagroupFolder;
    std::string m_xmlFile;
    std::vector<std::string> m_names;
    int m_imagePathColumn = -1;
    long m_docId = 0;
    // What earlier lines would have moved: the check moves nothing, so the disk cannot tell.
    PathHashSet m_movedSources;
    PathHashSet m_placed;
    FolderListingCache m_datagroupFiles;
    std::string m_source;
    std::string m_destination;
    std::string m_fullText;
    ImagePathMemory m_pathMemory;
};

} // namespace

BatchCheckReport CheckBatch(CommandContext& ctx)
{
    BatchCheckReport report;
    Checker(ctx, report).run();
    return report;
}

} // namespace tollavar
