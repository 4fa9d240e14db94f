#include "batch/DryRunFiles.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/NameOrder.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar {

namespace {

// One spelling per path, whichever way the command composed it: relative folders, doubled or trailing
// separators and "." parts all name the same file.
std::string keyOf(const std::string& path)
{
    std::string key = files::nativePath(path);
    const bool plain = key.starts_with('/') && key.find("//") == std::string::npos &&
                       key.find("/.") == std::string::npos && (key.size() == 1 || key.back() != '/');
    if (plain)
        return key;
    std::error_code error;
    std::filesystem::path full =
        key.starts_with('/') ? std::filesystem::path(key) : std::filesystem::current_path(error) / key;
    key = full.lexically_normal().string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

std::pair<std::string, std::string> splitKey(const std::string& key)
{
    const size_t slash = key.find_last_of('/');
    if (slash == std::string::npos)
        return {".", key};
    return {slash == 0 ? "/" : key.substr(0, slash), key.substr(slash + 1)};
}

} // namespace

const DryRunFiles::State* DryRunFiles::stateOf(const std::string& path) const
{
    if (m_changed.empty())
        return nullptr;
    const auto found = m_changed.find(keyOf(path));
    return found == m_changed.end() ? nullptr : &found->second;
}

void DryRunFiles::set(const std::string& path, State state)
{
    std::string key = keyOf(path);
    auto [folder, name] = splitKey(key);
    m_changedIn[folder].push_back(std::move(name));
    m_changed[std::move(key)] = state;
}

void DryRunFiles::markWritten(const std::string& path)
{
    set(path, State::Present);
    m_written.push_back(path);
    ++m_counts.filesWritten;
}

files::EntryKind DryRunFiles::kindOfEntry(int folderFd, const std::string& name, const std::string& shown, int& error)
{
    if (const State* state = stateOf(shown))
        return *state == State::Present ? files::EntryKind::File : files::EntryKind::Missing;
    return FileEffects::kindOfEntry(folderFd, name, shown, error);
}

bool DryRunFiles::fileExists(const std::string& path)
{
    if (const State* state = stateOf(path))
        return *state == State::Present;
    return files::fileExists(path);
}

bool DryRunFiles::folderExists(const std::string& path)
{
    return m_folders.contains(keyOf(path)) || files::folderExists(path);
}

std::vector<std::string> DryRunFiles::listFiles(const std::string& folder)
{
    const std::string key = keyOf(folder);
    std::vector<std::string> names;
    if (files::folderExists(folder))
        names = files::listFiles(folder);
    else if (!m_folders.contains(key))
        names = files::listFiles(folder); // raises as the disk does
    const auto changed = m_changedIn.find(key);
    if (changed == m_changedIn.end())
        return names;
    const std::string prefix = key == "/" ? "/" : key + "/";
    for (const std::string& name : changed->second) {
        const bool present = m_changed.at(prefix + name) == State::Present;
        const auto at = std::find(names.begin(), names.end(), name);
        if (present && at == names.end())
            names.push_back(name);
        else if (!present && at != names.end())
            names.erase(at);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return files::NameOrderLess(a, b); });
    return names;
}

files::MoveOutcome DryRunFiles::move(const files::FileAt& from, const files::FileAt& to)
{
    // The placer found the source in its folder's listing or by lstat; only an earlier move of this run
    // can have taken it since.
    if (const State* source = stateOf(from.shown); source && *source == State::Gone)
        return files::MoveOutcome::SourceMissing;
    int error = 0;
    if (kindOfEntry(to.folder, to.name, to.shown, error) != files::EntryKind::Missing) {
        if (m_onTaken)
            m_onTaken(to.shown);
        return files::MoveOutcome::DestinationTaken;
    }
    set(from.shown, State::Gone);
    set(to.shown, State::Present);
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
    std::string key = keyOf(folder);
    // Its parents too, as CreateAnyFolder makes them.
    while (key.size() > 1 && !m_folders.contains(key) && !files::folderExists(key)) {
        m_folders.insert(key);
        ++m_counts.foldersCreated;
        key = splitKey(key).first;
    }
}

void DryRunFiles::checkWritable(const std::string& path, const char* operation) const
{
    if (stateOf(path))
        return;
    struct stat st
    {
    };
    if (::lstat(files::nativePath(path).c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw systemFailure(EISDIR, operation, path);
        return;
    }
    const std::string folder = splitKey(keyOf(path)).first;
    if (!m_folders.contains(folder) && !files::folderExists(folder))
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

std::string DryRunFiles::setJournalAside(const std::string& path)
{
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
