#pragma once

#include "filetools/UniqueFd.h"

#include <string>
#include <string_view>
#include <vector>

// The core's file layer: plain POSIX calls, every failure raised as a tollavar::Failure naming the
// operation and the path, and every fallible call counted by the fault-injection hook.
namespace tollavar::files {

// Paths from index and configuration files may carry Windows separators; the file system wants "/".
std::string nativePath(std::string_view path);

bool fileExists(const std::string& path);   // anything but a folder
bool folderExists(const std::string& path); // a folder (or a link to one)
bool pathExists(const std::string& path);   // file or folder

void createFolder(const std::string& path); // one level; an existing folder is an error

enum class LinkRule;

// The whole of a regular file; anything else at the name (a folder, a pipe, a device) is a Failure, and
// the open never waits. The one-argument form follows a link to a regular file.
std::string readAll(const std::string& path);
std::string readAll(const std::string& path, LinkRule links);

// Replaces (or creates) `path` so that a failure at any point leaves the previous file whole:
// temporary file in the same folder, every write checked, fsync, rename over, fsync the folder. A link
// keeps being a link, and a file keeps its other names, owner and mode (saveKeepingIdentity).
void writeFileAtomic(const std::string& path, std::string_view bytes);

// Creates an empty file, replacing one that exists (a link itself, never its target). A failure after
// the file was created removes it again.
void createEmptyFile(const std::string& path);

// Deletes a file even when it is read-only.
void deleteFile(const std::string& path);

// Removes a folder when it is empty; false when it is not, is missing or cannot be removed. A tidy-up:
// what it cannot remove stays, and no failure is raised.
bool removeEmptyFolder(const std::string& path);

// Moves a file; a taken destination is an error, never overwritten. Across file systems, and to drives
// without hard links, the file is copied, synced and only then removed from its source.
void moveFile(const std::string& from, const std::string& to);

// Moves a file over an existing one in a single step, so that at every moment the target holds
// either the old file or the new one. Only for a replacement the user asked for.
void moveFileReplacing(const std::string& from, const std::string& to);

// Gives the file `existing` the second name `newName` as well (a taken name is an error). Where the
// file system has no hard links, the file is copied.
void addNameNoReplace(const std::string& existing, const std::string& newName);

// Names of the regular files in a folder, in the order of nameOrderLess.
std::vector<std::string> listFiles(const std::string& folder);

// An open descriptor held for the length of a run (the conversion keeps DATAGRP.XML open for
// appending, creating it when missing). Nothing is written through it.
class HeldFile
{
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    void openForAppend(const std::string& path);
    void close() noexcept;
    bool isOpen() const noexcept { return m_fd.isOpen(); }

private:
    UniqueFd m_fd;
};

} // namespace tollavar::files
