#pragma once

#include "engine/JournalReader.h"

#include <string>
#include <vector>

namespace tollavar {

struct CommandContext;
class DocumentStore;
class MoveRecorder;
namespace files {
class FileEffects;
class FolderLock;
} // namespace files

// What a Convert command acts through: the disk, the datagroup's lock, its record and journals. The
// usual ports act; a dry run swaps in ports that record instead, and runs the very same command.
class CommandPorts
{
public:
    virtual ~CommandPorts() = default;
    virtual files::FileEffects& files();
    // Null: DATAGRP.XML is saved.
    virtual DocumentStore* documents() { return nullptr; }
    // Told of the moves of a conversion that keeps no journal; null: none.
    virtual MoveRecorder* moves() { return nullptr; }
    // The steps `moves` was told of since it was last asked: a conversion without a journal is put back
    // from them.
    virtual std::vector<JournalContents::Step> takeMoveSteps() { return {}; }
    virtual void takeLock(CommandContext& ctx, files::FolderLock& lock, const std::string& datagroupFolder);
    // The command's record and the journals of its conversions, which let an interrupted run be put right.
    virtual bool keepsRecords() const { return true; }
};

// The context's ports, or the usual ones.
CommandPorts& portsOf(const CommandContext& ctx);

} // namespace tollavar
