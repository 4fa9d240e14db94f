#include "batch/DryRunFiles.h"

#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
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
    const auto known = m_changed.find(destination.path);
    const bool taken = known != m_changed.end()
                           ? known->second == State::Present
                           : FileEffects::kindOfEntry(to.folder, to.name, to.shown).kind != files::EntryKind::Missing;
    if (taken) {
        if (m_onTaken)
            m_onTaken(to.shown);
        return files::MoveOutcome::DestinationTaken;
    }
    set(source, from.shown, State::Gone);
    set(destination, to.shown, State::Present);
    if (m_onFullText && to.shown.ends_with(".PVFULLTEXT"))
        m_onFullText(from.shown, to.shown);
    return files::MoveOutcome::Moved;
}

void DryRunFiles::deleteAt(const files::FileAt& file)
{
    deleteFile(file.shown);
}

void DryRunFiles::deleteFile(const std::string& path)
{
    set(path, State::Gone);
    ++m_counts.filesDeleted;
}

void DryRunFiles::createFolder(const FileTools&, const std::string& folder)
{
    std::string spelling = spellingOf(folder);
    // Its parents too, as createFolderPath makes them.
    while (spelling.size() > 1 && !m_folders.contains(keyOf(spelling).path) && !files::folderExists(spelling)) {
        m_folders.insert(keyOf(spelling).path);
        ++m_counts.foldersCreated;
        spelling = splitSpelling(spelling).first;
    }
}

void DryRunFiles::checkWritable(const std::string& path, const char* operation) const
{
    if (stateOf(path))
        return;
    if (const std::optional<struct stat> st = files::statusOf(files::nativePath(path))) {
        if (S_ISDIR(st->st_mode))
            throw systemFailure(EISDIR, operation, path);
        return;
    }
    const std::string folder = splitSpelling(spellingOf(path)).first;
    if (!m_folders.contains(keyOf(folder).path) && !files::folderExists(folder))
        throw systemFailure(ENOENT, operation, path);
}

void DryRunFiles::writeWhole(const std::string& path, std::string_view)
{
    checkWritable(path, "Save File");
    markWritten(path);
}

void DryRunFiles::createEmptyFile(const std::string& path)
{
    checkWritable(path, "Create File");
    markWritten(path);
}

void DryRunFiles::holdOpen(files::HeldFile&, const std::string& path)
{
    checkWritable(path, "Open File");
}

std::string DryRunFiles::setJournalAside(const std::string& path, const std::string& folder, const std::string& name)
{
    // Where the run would put it; the record only notes that it leaves the datagroup.
    if (!folder.empty()) {
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
