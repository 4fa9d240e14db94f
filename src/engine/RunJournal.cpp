#include "engine/RunJournal.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace tollavar {

using namespace journal;

namespace {

// Room a journal starts with: enough for the moves of a usual index file, little to allocate and to sync.
constexpr size_t kFirstRoom = size_t(64) << 10;

// Writes `text` escaped at `out`, backslashes turned into "/" first (the file system's separator).
char* putNative(char* out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\':
            *out++ = '/';
            break;
        case '\t':
            *out++ = '\\';
            *out++ = 't';
            break;
        case '\n':
            *out++ = '\\';
            *out++ = 'n';
            break;
        case '\r':
            *out++ = '\\';
            *out++ = 'r';
            break;
        default:
            *out++ = c;
        }
    }
    return out;
}

std::string localDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

} // namespace

std::string RunJournal::startingPathFor(const std::string& datagroupFolder)
{
    return pathFor(datagroupFolder) + std::string(kStagingSuffix);
}

std::string RunJournal::pathFor(const std::string& datagroupFolder)
{
    return files::nativePath(datagroupFolder) + "/" + std::string(kJournalName);
}

std::string RunJournal::keptOriginalPathFor(const std::string& datagroupFolder)
{
    return files::nativePath(datagroupFolder) + "/" + std::string(kKeptOriginalName);
}

RunJournal::RunJournal(std::string datagroupFolder, std::string configFile, bool removeProcessed)
    : m_datagroupFolder(files::nativePath(datagroupFolder)), m_configFile(std::move(configFile)),
      m_removeProcessed(removeProcessed), m_path(pathFor(m_datagroupFolder))
{
}

RunJournal::~RunJournal() = default;

void RunJournal::begin(const std::string& indexFile, const std::string& xmlFile, const std::string& imageFolder,
                       std::string_view originalText)
{
    m_file.close();
    m_map = nullptr;
    // A journal still here belongs to a run nobody has recovered yet; it must not be overwritten.
    if (files::pathExists(m_path))
        throw Failure(ErrorCode::FileAlreadyExists, "Recovery Journal",
                      "The journal of an interrupted conversion is still there: " + m_path);

    std::error_code error;
    const std::string cwd = std::filesystem::current_path(error).string();
    const std::string& index = indexFile; // native, as listed: a backslash there belongs to the name
    std::string head(kMagic);
    const auto field = [&head](std::string_view name, std::string_view value) {
        head += name;
        head += '\t';
        appendEscaped(head, value);
        head += '\n';
    };
    field("folder", m_datagroupFolder);
    field("cwd", cwd);
    head += "index\t";
    appendEscaped(head, index);
    if (const auto id = identityOf(index))
        head += "\t" + std::to_string(id->device) + "\t" + std::to_string(id->inode) + "\t" + std::to_string(id->size) +
                "\t" + std::to_string(id->modifiedNs);
    head += "\n";
    field("images", files::nativePath(imageFolder));
    field("xml", files::nativePath(xmlFile));
    if (originalText.empty()) {
        head += "original\tnone\n";
    } else {
        const Fingerprint original = fingerprintOf(originalText);
        head += "original\t" + std::to_string(original.size) + "\t" + hex(original.hash, 16) + "\n";
    }
    head += m_removeProcessed ? "remove\t1\n" : "remove\t0\n";
    field("config", m_configFile);
    const files::ProcessStamp stamp = files::currentProcessStamp();
    field("host", stamp.host);
    field("boot", stamp.bootId);
    head += "process\t" + std::to_string(stamp.pid) + "\t" + std::to_string(stamp.startTicks) + "\n";
    head += "head\t" + hex(checksum(head.data(), head.size()), 8) + "\n";
    m_file.create(startingPathFor(m_datagroupFolder), m_path, head);

    m_used = head.size();
    m_capacity = 0;
    m_keptOriginal = false;
    m_previousFrom.clear();
    m_previousTo.clear();
    m_map = m_file.mapAtLeast(m_used + kFirstRoom);
    m_capacity = m_file.mappedSize();
}

// Most moves of a run share their folders with the move before: a path is written as the length it
// shares with the previous one and the rest, which keeps the journal a few bytes a move.
char* RunJournal::putPath(char* out, std::string_view path, std::string& previous)
{
    const size_t limit = std::min(path.size(), previous.size());
    size_t shared = 0;
    while (shared < limit && path[shared] == previous[shared])
        ++shared;
    const auto [end, error] = std::to_chars(out, out + 20, shared);
    out = end;
    *out++ = '\t';
    out = putNative(out, path.substr(shared));
    previous.assign(path);
    return out;
}

void RunJournal::append(char type, std::string_view first, std::string_view second)
{
    if (!m_map)
        return;
    const size_t most = 2 * (first.size() + second.size()) + 96;
    m_map = m_file.recordSpace(m_used + most);
    m_capacity = m_file.mappedSize();
    char* const start = m_map + m_used;
    char* out = start;
    *out++ = type;
    if (type == kMove) {
        *out++ = '\t';
        out = putPath(out, first, m_previousFrom);
        *out++ = '\t';
        out = putPath(out, second, m_previousTo);
    }
    const uint32_t sum = checksum(start, static_cast<size_t>(out - start));
    *out++ = '\t';
    for (int shift = 28; shift >= 0; shift -= 4)
        *out++ = "0123456789abcdef"[(sum >> shift) & 0xF];
    *out++ = '\n';
    m_used += static_cast<size_t>(out - start);
}

void RunJournal::appendTexts(char type, std::initializer_list<std::string_view> texts)
{
    if (!m_map)
        return;
    std::string record(1, type);
    for (std::string_view text : texts) {
        record += '\t';
        appendEscaped(record, text);
    }
    record += "\t" + hex(checksum(record.data(), record.size()), 8) + "\n";
    m_map = m_file.recordSpace(m_used + record.size());
    m_capacity = m_file.mappedSize();
    std::memcpy(m_map + m_used, record.data(), record.size());
    m_used += record.size();
}

void RunJournal::beforeMove(std::string_view from, std::string_view to)
{
    append(kMove, from, to);
}

void RunJournal::moveNotMade()
{
    append(kNotMade, {}, {});
}

void RunJournal::beforeSetAside(std::string_view path, std::string_view aside)
{
    appendTexts(kSetAside, {files::nativePath(path), files::nativePath(aside)});
    makeDurable();
}

// A copy is rare and slow (it is synced): each of its steps is made durable on its own.
void RunJournal::copyBegun(const files::FileAt&, const files::FileAt& to)
{
    appendTexts(kCopyBegun, {files::nativePath(to.shown)});
    makeDurable();
}

void RunJournal::copyDone(const files::FileAt&, const files::FileAt& to)
{
    appendTexts(kCopyDone, {files::nativePath(to.shown)});
    makeDurable();
}

void RunJournal::makeDurable()
{
    if (m_map)
        m_file.sync(m_used);
}

void RunJournal::markSaving(long lastDocId, const Fingerprint& newContent, const std::string& target)
{
    appendTexts(kSaving, {std::to_string(lastDocId), std::to_string(newContent.size), hex(newContent.hash, 16),
                          files::nativePath(target)});
    makeDurable();
}

void RunJournal::keepOriginal(std::string_view originalText)
{
    if (!m_map)
        return;
    const std::string kept = keptOriginalPathFor(m_datagroupFolder);
    files::writeWholeFile(kept + std::string(kStagingSuffix), kept, originalText);
    m_keptOriginal = true;
    appendTexts(kKeptOriginal, {});
    makeDurable();
}

void RunJournal::dropKeptOriginal()
{
    if (!m_keptOriginal)
        return;
    m_keptOriginal = false;
    files::deleteFile(keptOriginalPathFor(m_datagroupFolder));
}

void RunJournal::markFailed()
{
    appendTexts(kFailed, {localDate()});
    makeDurable();
}

void RunJournal::markCommandEnded()
{
    appendTexts(kEnded, {});
    makeDurable();
}

JournalContents RunJournal::contents() const
{
    return parseRunJournal(std::string_view(m_map, m_used), m_path);
}

void RunJournal::remove()
{
    if (!m_file.isOpen())
        return;
    m_map = nullptr;
    m_file.remove();
}

} // namespace tollavar
