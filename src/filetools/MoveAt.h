#pragma once

#include <string>

// Moves between folders held open (see Beneath.h), so that nothing can be swapped into a path between
// the checks made on it and the move.
namespace tollavar::files {

// A name inside an open folder; `shown` is the path that failures name.
struct FileAt
{
    int folder = -1;
    std::string name;
    std::string shown;
};

// Told of the two steps of a move that has to copy: before the copy begins, and once the whole copy has
// its name (durably) and before the source is deleted. Either may raise; the move then stops with the
// file at its source only.
class CopySteps
{
public:
    virtual ~CopySteps() = default;
    virtual void copyBegun(const FileAt& from, const FileAt& to) = 0;
    virtual void copyDone(const FileAt& from, const FileAt& to) = 0;
};

enum class MoveOutcome
{
    Moved,
    SourceMissing,
    DestinationTaken,
};

// Moves a file and never replaces one: a missing source or a taken destination is answered with
// nothing moved; other failures are raised. Within a file system this is one rename. Across file systems,
// or where neither a rename that refuses to replace nor a hard link exists (FAT and exFAT drives, many
// network and FUSE mounts), the file is copied and synced under its new name before the source is
// deleted; a failure on the way leaves the file at its source and no part of a copy behind.
MoveOutcome moveFileAt(const FileAt& from, const FileAt& to, CopySteps* steps = nullptr);

// Moves a file over an existing one in a single step, so that at every moment the target holds either
// the old file or the new one. Only for a replacement the user asked for.
void moveFileAtReplacing(const FileAt& from, const FileAt& to);

// Deletes the file `name` of the open folder; one already gone is no failure.
void deleteFileAt(int folder, const std::string& name, const std::string& shown);

} // namespace tollavar::files
