#include "batch/GrownFiles.h"

#include "batch/StateFolder.h"
#include "engine/ConversionObserver.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/LineLog.h"

#include <filesystem>
#include <sstream>

namespace tollavar {

namespace {

// Hands every report on, and keeps what the run says it read.
class ReadCatcher : public ConversionObserver
{
public:
    explicit ReadCatcher(ConversionObserver* inner) : m_inner(inner) {}
    bool wantsLineCount() const override { return m_inner && m_inner->wantsLineCount(); }
    void indexFileStarted(std::string_view indexFile, long totalLines) override
    {
        if (m_inner)
            m_inner->indexFileStarted(indexFile, totalLines);
    }
    void linesDone(long lines, long documents) override
    {
        if (m_inner)
            m_inner->linesDone(lines, documents);
    }
    void indexFileEnded(const IndexFileFacts& facts, bool converted) override
    {
        read = facts;
        if (m_inner)
            m_inner->indexFileEnded(facts, converted);
    }

    IndexFileFacts read;

private:
    ConversionObserver* m_inner;
};

std::string hexOfPath(const std::string& path)
{
    // The record's name stands for the path; the path itself is inside, and checked.
    return files::contentFingerprint(path);
}

} // namespace

std::string defaultWatchStateFolder()
{
    return inStateFolder("watch");
}

GrownFiles::GrownFiles(std::string stateFolder) : m_folder(std::move(stateFolder))
{
}

std::string GrownFiles::recordPath(const std::string& file) const
{
    return m_folder + "/" + hexOfPath(file) + ".grown";
}

std::string GrownFiles::appendedPartPath(const std::string& file) const
{
    // Under the file's own name, so that the run history and the messages name it.
    return m_folder + "/" + hexOfPath(file) + "/" + FileTools::namePart(file);
}

std::optional<GrownFiles::Record> GrownFiles::find(const std::string& file) const
{
    if (m_folder.empty())
        return std::nullopt;
    try {
        const std::string path = recordPath(file);
        if (!files::fileExists(path))
            return std::nullopt;
        std::istringstream text(files::readAll(path));
        std::string recordedFor;
        Record record;
        std::getline(text, recordedFor);
        text >> record.device >> record.inode >> record.convertedBytes >> record.fingerprint >> record.pendingBytes;
        if (!text || recordedFor != file)
            return std::nullopt;
        return record;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

void GrownFiles::keep(const std::string& file, const Record& record)
{
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    std::ostringstream text;
    text << file << '\n'
         << record.device << ' ' << record.inode << ' ' << record.convertedBytes << ' ' << record.fingerprint << ' '
         << record.pendingBytes << '\n';
    files::writeFileAtomic(recordPath(file), text.str());
}

void GrownFiles::forget(const std::string& file)
{
    if (m_folder.empty())
        return;
    for (const std::string& path : {recordPath(file), appendedPartPath(file)}) {
        try {
            if (files::fileExists(path))
                files::deleteFile(path);
        } catch (const Failure&) {
            // A record left behind names a file that is gone: it matches no file of that name again
            // unless the identity and the converted part are the same.
        }
    }
    std::error_code error;
    std::filesystem::remove(m_folder + "/" + hexOfPath(file), error);
}

bool GrownFiles::convertWhole(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                              const std::string& rootName, const std::string& documentName)
{
    ReadCatcher catcher(conversion.observer);
    ConversionContext watched = conversion;
    watched.observer = &catcher;
    const std::optional<struct stat> before = files::statusOf(file);
    const bool converted = convertIndexFile(watched, file, xmlFile, rootName, documentName);
    forget(file);
    if (!converted || m_folder.empty() || !before || catcher.read.bytes <= 0)
        return converted;
    // Appended to while it was converted: the part read is in the datagroup, the rest is not. A file
    // left as it was is removed by the caller, and needs no record.
    const std::optional<struct stat> after = files::statusOf(file);
    const bool changed =
        after && (after->st_size != before->st_size || after->st_mtim.tv_sec != before->st_mtim.tv_sec ||
                  after->st_mtim.tv_nsec != before->st_mtim.tv_nsec);
    if (changed && after->st_dev == before->st_dev && after->st_ino == before->st_ino &&
        after->st_size >= catcher.read.bytes) {
        try {
            keep(file, Record{after->st_dev, after->st_ino, catcher.read.bytes, catcher.read.fingerprint, 0});
        } catch (const Failure&) {
            // Then it is converted whole again, as without a state folder.
        }
    }
    return converted;
}

bool convertAppendedPart(ConversionContext& conversion, const std::string& part, const std::string& xmlFile,
                         const std::string& rootName, const std::string& documentName)
{
    ConversionSettings noHeader = conversion.settings;
    noHeader.skipHeaderLine = false;
    ConversionContext appended{noHeader,
                               conversion.flags,
                               conversion.fileTools,
                               conversion.prompter,
                               conversion.host,
                               conversion.datagroupCache,
                               conversion.folderListings,
                               conversion.journal,
                               conversion.observer,
                               conversion.files,
                               conversion.documents,
                               conversion.moves};
    return convertIndexFile(appended, part, xmlFile, rootName, documentName);
}

std::optional<GrownFiles::Record> GrownFiles::matchingRecord(const std::string& file, const std::string& bytes)
{
    std::optional<Record> record = find(file);
    if (!record)
        return std::nullopt;
    const auto size = static_cast<long long>(bytes.size());
    // An appended part under conversion when the watch stopped: gone once the run (or recovery) finished
    // it, still there when it did not.
    if (record->pendingBytes > record->convertedBytes && !files::fileExists(appendedPartPath(file)) &&
        size >= record->pendingBytes) {
        record->convertedBytes = record->pendingBytes;
        record->fingerprint =
            files::contentFingerprint(std::string_view(bytes).substr(0, static_cast<size_t>(record->pendingBytes)));
    }
    const std::optional<struct stat> st = files::statusOf(file);
    const bool sameStart =
        st && st->st_dev == record->device && st->st_ino == record->inode && size >= record->convertedBytes &&
        files::contentFingerprint(std::string_view(bytes).substr(0, static_cast<size_t>(record->convertedBytes))) ==
            record->fingerprint;
    if (!sameStart)
        return std::nullopt;
    return record;
}

std::optional<std::string> GrownFiles::appendedPartToLook(const std::string& file)
{
    if (!find(file))
        return std::nullopt;
    try {
        const std::string bytes = files::readAll(file);
        const std::optional<Record> record = matchingRecord(file, bytes);
        if (!record)
            return std::nullopt;
        if (static_cast<long long>(bytes.size()) == record->convertedBytes)
            return std::string();
        const std::string part = appendedPartPath(file);
        std::error_code error;
        std::filesystem::create_directories(FileTools::folderPart(part), error);
        files::writeFileAtomic(part, std::string_view(bytes).substr(static_cast<size_t>(record->convertedBytes)));
        return part;
    } catch (const Failure&) {
        return std::nullopt;
    }
}

bool GrownFiles::convert(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                         const std::string& rootName, const std::string& documentName, std::vector<Notice>& notices)
{
    if (!find(file))
        return convertWhole(conversion, file, xmlFile, rootName, documentName);
    std::string bytes;
    try {
        bytes = files::readAll(file);
    } catch (const Failure&) {
        return convertWhole(conversion, file, xmlFile, rootName, documentName);
    }
    std::optional<Record> record = matchingRecord(file, bytes);
    if (!record) {
        notices.push_back(Notice{NoticeKind::RewrittenConvertedWhole, file});
        return convertWhole(conversion, file, xmlFile, rootName, documentName);
    }
    if (static_cast<long long>(bytes.size()) == record->convertedBytes)
        return true; // nothing new: converted whole

    // The appended lines alone, from a file of their own.
    const std::string appendedPart = appendedPartPath(file);
    record->pendingBytes = static_cast<long long>(bytes.size());
    keep(file, *record);
    std::error_code error;
    std::filesystem::create_directories(FileTools::folderPart(appendedPart), error);
    files::writeFileAtomic(appendedPart, std::string_view(bytes).substr(static_cast<size_t>(record->convertedBytes)));
    Notice continued{NoticeKind::ConvertingAppendedLines, file};
    continued.count = static_cast<long>(record->convertedBytes);
    notices.push_back(continued);
    if (!convertAppendedPart(conversion, appendedPart, xmlFile, rootName, documentName))
        return false;
    try {
        if (files::fileExists(appendedPart))
            files::deleteFile(appendedPart);
        record->convertedBytes = record->pendingBytes;
        record->fingerprint = files::contentFingerprint(bytes);
        record->pendingBytes = 0;
        keep(file, *record);
    } catch (const Failure&) {
        // The next look finds the appended part gone and takes it as converted.
    }
    return true;
}

} // namespace tollavar
