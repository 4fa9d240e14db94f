#pragma once

#include "filetools/Beneath.h"
#include "filetools/MoveAt.h"

#include <string>
#include <string_view>
#include <vector>

namespace tollavar {
class FileTools;
}

namespace tollavar::files {

class HeldFile;

// Every change a Convert command makes to files, and the reads that an earlier change of the same
// command may have overtaken. The disk is the usual answer; a dry run answers with a record of the
// changes it would have made, so that it takes each later decision on the files as the run would see
// them, and changes nothing.
class FileEffects
{
public:
    virtual ~FileEffects() = default;
    // True when nothing reaches the disk.
    virtual bool recording() const { return false; }

    // `folderFd` is -1 when the folder is not on the disk (a dry run may have made it).
    virtual EntryLook kindOfEntry(int folderFd, const std::string& name, const std::string& shown);
    virtual bool fileExists(const std::string& path);
    virtual bool folderExists(const std::string& path);
    virtual std::vector<std::string> listFiles(const std::string& folder);

    // A place found taken by a look rather than by a move (a full-text file's, asked about with its image).
    virtual void noteTaken(const std::string& /*shown*/) {}
    // `steps` is told of the two steps of a move that has to copy (a dry run copies nothing).
    virtual MoveOutcome move(const FileAt& from, const FileAt& to, CopySteps* steps = nullptr);
    virtual void deleteAt(const FileAt& file);
    virtual void deleteFile(const std::string& path);
    virtual void createFolder(const FileTools& fileTools, const std::string& folder);
    // A folder a run made and emptied again goes; anything else stays. False when it stays.
    virtual bool removeEmptyFolder(const std::string& path);
    virtual void writeWhole(const std::string& path, std::string_view bytes);
    virtual void createEmptyFile(const std::string& path);
    // The conversion holds DATAGRP.XML open for appending (creating it) while it works.
    virtual void holdOpen(HeldFile& held, const std::string& path);
    // Moves a journal out of the datagroup into `folder` as `name` (numbered when taken), or, without a
    // folder, renames it to the first free "-n" name beside it; returns where it went.
    virtual std::string setJournalAside(const std::string& path, const std::string& folder, const std::string& name);
};

// The disk itself.
FileEffects& diskEffects();

} // namespace tollavar::files
