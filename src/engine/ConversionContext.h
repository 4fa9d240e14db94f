#pragma once

#include "engine/RunStage.h"

namespace tollavar {

class LineFailureSkipper;
struct ConversionSettings;
struct RunFlags;
class FileTools;
class Prompter;
class ConversionHost;
class DatagroupCache;
class RunJournal;
class ConversionObserver;
class DocumentStore;
class MoveRecorder;
class RunRollback;
namespace files {
class SharedFolderListings;
class FileEffects;
} // namespace files

// What a conversion run reads and writes of the window that owns it. The settings are read where
// they are used, so a value edited while the run yields takes effect at its next reading.
struct ConversionContext
{
    ConversionSettings& settings;
    RunFlags& flags;
    const FileTools& fileTools;
    Prompter& prompter;
    ConversionHost& host;
    // The datagroup as the previous index file of the same command saved it; null: read it every time.
    DatagroupCache* datagroupCache = nullptr;
    // The image folders as the command's earlier index files read them; null: each run reads its own.
    files::SharedFolderListings* folderListings = nullptr;
    // The Convert command's record of this run, so that an interruption can be put right; none when the
    // run is used on its own.
    RunJournal* journal = nullptr;
    // Told of the run's progress and of what it did; none when nobody keeps a record or shows progress.
    ConversionObserver* observer = nullptr;
    // Where the run's changes to files go, and its finished document; null: the disk.
    files::FileEffects* files = nullptr;
    DocumentStore* documents = nullptr;
    // Told of the moves when there is no journal to tell (a dry run keeps the run's order of moves).
    MoveRecorder* moves = nullptr;
    // Puts everything back when the run ends before its save; none: only replaced files come back.
    RunRollback* rollback = nullptr;
    // Asked whether a line that fails may be left out instead of ending the run: only a check that has
    // passed the point where the run stops goes on, to find what the later lines hold. Null: never.
    LineFailureSkipper* lineFailures = nullptr;
};

class Failure;

class LineFailureSkipper
{
public:
    virtual ~LineFailureSkipper() = default;
    // True: the line is dropped and the run goes on with the next one.
    virtual bool skipsLine(const Failure& failure, RunStage stage) = 0;
};

} // namespace tollavar
