#include "batch/DryRunFiles.h"

#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/IdentityKeepingSave.h"
#include "filetools/JournalFile.h"
#include "filetools/NameOrder.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace tollavar {

namespace {

// One spelling per path, whichever way the command composed it: relative folders, either separator,
// doubled or trailing separators and "." parts all name the same file.
std::string spellingOf(std::string_view path)
{
    std::string key = files::nativePath(path);
    std::error_code error;
    std::filesystem::path full =
        key.starts_with('/') ? std::filesystem::path(key) : std::filesystem::current_path(error) / key;
    key = full.lexically_normal().string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

bool plainSpelling(std::string_view path)
{
    if (path.size() < 2 || !files::isSeparator(path.front()) || files::isSeparator(path.back()))
        return false;
    size_t start = 1;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && !files::isSeparator(path[i]))
            continue;
        const std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = i + 1;
    }
    return true;
}

std::pair<std::string, std::string> splitSpelling(const std::string& key)
{
    const size_t slash = key.find_last_of('/');
    if (slash == std::string::npos)
        return {".", key};
    return {slash == 0 ? "/" : key.substr(0, slash), key.substr(slash + 1)};
}

} // namespace

DryRunFiles::PathKey DryRunFiles::keyOf(std::string_view path)
{
    if (!plainSpelling(path)) {
        const std::string spelling = spellingOf(path);
        if (plainSpelling(spelling))
            return keyOf(spelling);
        path = "/"; // the root itself
    }
    // FNV-1a, with the state at the last separator kept as the folder's key.
    uint64_t hash = 14695981039346656037ull;
    uint64_t folder = hash;
    for (const char c : path) {
        const char native = c == '\\' ? '/' : c;
        if (native == '/')
            folder = hash;
        hash = (hash ^ static_cast<unsigned char>(native)) * 1099511628211ull;
    }
    return PathKey{hash, folder};
}

const DryRunFiles::State* DryRunFiles::stateOf(std::string_view path) const
{
    if (m_changed.empty())
        return nullptr;
    const auto found = m_changed.find(keyOf(path).path);
    return found == m_changed.end() ? nullptr : &found->second;
}

void DryRunFiles::set(std::string_view path, State state)
{
    set(keyOf(path), path, state);
}

void DryRunFiles::set(const PathKey& key, std::string_view path, State state)
{
    auto [changed, added] = m_changed.insert_or_assign(key.path, state);
    (void)changed;
    if (!added)
        return;
    const size_t slash = path.find_last_of("/\\");
    m_changedIn[key.folder].push_back(m_changedNames.size());
    m_changedNames.emplace_back(path.substr(slash == std::string_view::npos ? 0 : slash + 1));
}

void DryRunFiles::markWritten(const std::string& path)
{
    set(path, State::Present);
    m_written.push_back(path);
    ++m_counts.filesWritten;
}

files::EntryLook DryRunFiles::kindOfEntry(int folderFd, const std::string& name, const std::string& shown)
{
    if (const State* state = stateOf(shown))
        return {*state == State::Present ? files::EntryKind::File : files::EntryKind::Missing};
    return FileEffects::kindOfEntry(folderFd, name, shown);
}

bool DryRunFiles::fileExists(const std::string& path)
{
    if (const State* state = stateOf(path))
        return *state == State::Present;
    return files::fileExists(path);
}

bool DryRunFiles::folderExists(const std::string& path)
{
    return m_folders.contains(keyOf(path).path) || files::folderExists(path);
}

std::vector<std::string> DryRunFiles::listFiles(const std::string& folder)
{
    const uint64_t key = keyOf(folder).path;
    std::vector<std::string> names;
    if (files::folderExists(folder) || !m_folders.contains(key))
        names = files::listFiles(folder); // raises as the disk does
    const auto changed = m_changedIn.find(key);
    if (changed == m_changedIn.end())
        return names;
    const std::string prefix = spellingOf(folder) + "/";
    for (const size_t index : changed->second) {
        const std::string& name = m_changedNames[index];
        const bool present = *stateOf(prefix + name) == State::Present;
        const auto at = std::find(names.begin(), names.end(), name);
        if (present && at == names.end())
            names.push_back(name);
        else if (!present && at != names.end())
            names.erase(at);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return files::nameOrderLess(a, b); });
    return names;
}

files::MoveOutcome DryRunFiles::move(const files::FileAt& from, const files::FileAt& to, files::CopySteps*)
{
    // The placer found the source in its folder's listing or by lstat; only an earlier move of this run
    // can have taken it since.
    const PathKey source = keyOf(from.shown);
    if (const auto known = m_changed.find(source.path); known != m_changed.end() && known->second == State::Gone)
        return files::MoveOutcome::SourceMissing;
    const PathKey destination = keyOf(to.shown);
    const files::FolderAccess& fromFolder = accessOf(source.folder, from.folder, from.shown);
    const files::FolderAccess& toFolder = accessOf(destination.folder, to.folder, to.shown);
    // Between file systems the move is a copy: the source is read, a temporary made beside the
    // destination, the source removed. Within one, a rename meets a read-only mount before any name.
    const bool copied = fromFolder.device != toFolder.device;
    if (!copied && fromFolder.entriesRefusal == EROFS)
        refuse(EROFS, "Move File", from.shown);
    if (copied && from.folder >= 0) {
        if (const int error = files::readRefusalAt(from.folder, from.name))
            refuse(error, "Open File", from.shown);
    }
    const auto known = m_changed.find(destination.path);
    const bool taken = known != m_changed.end()
                           ? known->second == State::Present
                           : FileEffects::kindOfEntry(to.folder, to.name, to.shown).kind != files::EntryKind::Missing;
    if (taken) {
        if (m_onTaken)
            m_onTaken(to.shown);
        return files::MoveOutcome::DestinationTaken;
    }
    // A folder this run makes is its own to fill.
    const int intoRefusal = toFolder.exists ? toFolder.entriesRefusal : 0;
    const int outOfRefusal = files::removalRefusal(fromFolder, from.folder, from.name);
    if (!copied && (outOfRefusal != 0 || intoRefusal != 0))
        refuse(outOfRefusal != 0 ? outOfRefusal : intoRefusal, "Move File", from.shown);
    if (copied && intoRefusal != 0)
        refuse(intoRefusal, "Create File", to.shown);
    if (copied && outOfRefusal != 0)
        refuse(outOfRefusal, "Delete File", from.shown);
    set(source, from.shown, State::Gone);
    set(destination, to.shown, State::Present);
    if (m_onFullText && to.shown.ends_with(".PVFULLTEXT"))
        m_onFullText(from.shown, to.shown);
    return files::MoveOutcome::Moved;
}

void DryRunFiles::deleteAt(const files::FileAt& file)
{
    if (!stateOf(file.shown)) {
        const files::FolderAccess& folder = accessOf(keyOf(file.shown).folder, file.folder, file.shown);
        if (const int error = files::removalRefusal(folder, file.folder, file.name))
            refuse(error, "Delete File", file.shown);
    }
    set(file.shown, State::Gone);
    ++m_counts.filesDeleted;
}

void DryRunFiles::deleteFile(const std::string& path)
{
    if (!stateOf(path)) {
        const files::FolderAccess& folder = accessOf(keyOf(path).folder, -1, path);
        if (const int error = files::removalRefusal(folder, files::nativePath(path)))
            refuse(error, "Delete File", path);
    }
    set(path, State::Gone);
    ++m_counts.filesDeleted;
}

void DryRunFiles::createFolder(const FileTools&, const std::string& folder)
{
    std::string spelling = spellingOf(folder);
    // Its parents too, as createFolderPath makes them; the first one missing is made in a folder on the
    // disk, which must let this process add to it.
    std::string first;
    while (spelling.size() > 1 && !m_folders.contains(keyOf(spelling).path) && !files::folderExists(spelling)) {
        first = spelling;
        spelling = splitSpelling(spelling).first;
    }
    if (first.empty())
        return;
    if (!m_folders.contains(keyOf(spelling).path)) {
        if (const int error = files::folderAccess(spelling).entriesRefusal)
            refuse(error, "Create Folder", first);
    }
    for (spelling = spellingOf(folder); spelling.size() >= first.size(); spelling = splitSpelling(spelling).first) {
        m_folders.insert(keyOf(spelling).path);
        ++m_counts.foldersCreated;
        if (spelling.size() == first.size())
            break;
    }
}

void DryRunFiles::refuse(int error, const char* operation, const std::string& subject)
{
    const Failure refusal = systemFailure(error, operation, subject);
    if (!m_onRefusal || m_onRefusal(refusal))
        throw refusal;
}

const files::FolderAccess& DryRunFiles::accessOf(uint64_t folderKey, int folderFd, std::string_view shownPath)
{
    if (const auto known = m_access.find(folderKey); known != m_access.end())
        return known->second;
    files::FolderAccess access;
    if (folderFd >= 0) {
        access = files::folderAccessAt(folderFd);
    } else {
        const size_t slash = shownPath.find_last_of("/\\");
        const std::string folder = spellingOf(slash == std::string_view::npos ? "." : shownPath.substr(0, slash));
        // One this run would make is reached through the record only.
        access = files::folderAccess(folder);
    }
    return m_access.emplace(folderKey, access).first->second;
}

void DryRunFiles::checkWritable(const std::string& path, const std::string& target, const char* existingOperation,
                                const char* newOperation)
{
    if (stateOf(path))
        return;
    if (const std::optional<struct stat> st = files::statusOf(target)) {
        if (S_ISDIR(st->st_mode))
            refuse(EISDIR, existingOperation, path);
        else if (const int error = files::writeRefusal(target))
            refuse(error, existingOperation, path);
        return;
    }
    const std::string folder = splitSpelling(spellingOf(target)).first;
    if (m_folders.contains(keyOf(folder).path))
        return;
    const files::FolderAccess access = files::folderAccess(folder);
    if (!access.exists)
        refuse(ENOENT, newOperation, path);
    else if (access.entriesRefusal != 0)
        refuse(access.entriesRefusal, newOperation, path);
}

void DryRunFiles::checkLockFile(const std::string& lockFile)
{
    // The run opens a lock file that is there for reading and writing both.
    if (files::statusOf(lockFile)) {
        if (const int error = files::readRefusal(lockFile))
            refuse(error, "Lock File", lockFile);
    }
    checkWritable(lockFile, lockFile, "Lock File", "Lock File");
}

void DryRunFiles::writeWhole(const std::string& path, std::string_view)
{
    // A save lands on a link's target, its temporary beside that; a file there is opened for writing first.
    std::string target = files::nativePath(path);
    if (!stateOf(path))
        target = files::saveTargetOf(target);
    checkWritable(path, target, "Open File", "Create File");
    markWritten(path);
}

void DryRunFiles::createEmptyFile(const std::string& path)
{
    checkWritable(path, files::nativePath(path), "Create File", "Create File");
    markWritten(path);
}

void DryRunFiles::holdOpen(files::HeldFile&, const std::string& path)
{
    checkWritable(path, files::nativePath(path), "Open File", "Open File");
}

std::string DryRunFiles::setJournalAside(const std::string& path, const std::string& folder, const std::string& name)
{
    // Where the run would put it; the record only notes that it leaves the datagroup.
    if (files::folderCanTakeJournals(folder)) {
        set(path, State::Gone);
        return files::freeNameIn(folder, name);
    }
    for (int n = 1;; ++n) {
        const std::string aside = path + "-" + std::to_string(n);
        if (!fileExists(aside) && !files::pathExists(aside)) {
            set(path, State::Gone);
            set(aside, State::Present);
            return aside;
        }
    }
}

} // namespace tollavar
