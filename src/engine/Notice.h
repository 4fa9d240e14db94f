#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tollavar {

// What the program tells without asking: a status text, a notice the run history keeps, a line of the
// hot folder's log. The core hands over the kind and its values; the words are chosen above it.
enum class NoticeKind
{
    // The Convert command's notices: shown in the status panel and kept in the run history.
    NoIndexFileMatched,            // `text`: the configuration's index file items
    StoppedBetweenFiles,           // `reason` stopped it after converting `path`; `count` files left
    StoppedBeforeConverting,       // `reason` stopped it before anything was converted
    WritersUnknown,                // which programs write the index files cannot be asked
    IndexFileInUse,                // `path` is being written: left for the next run
    ConvertedByInterruptedCommand, // `path` was converted by the command cut short
    IndexFileChangedKept,          // `path` changed while it was converted: not removed
    WaitingForDatagroup,           // the status text while another conversion holds the datagroup `path`

    // The hot folder's log.
    ItemNamesNoFolder,      // the item `text` names no folder
    ItemFolderMissing,      // the folder `path` of the item `text` does not exist
    NothingToWatch,         // no item has a folder that can be watched
    WatchingStarted,        // files settle for `count` milliseconds
    RemovingEveryConverted, // the hot folder removes every converted index file
    ConfigurationReadAgain, // after SIGHUP, from `path`
    CommandStoppedEarly,    // the Convert command stopped before its end
    DatagroupFull,          // the next files go into datagroup number `text`
    WaitsForDatagroup,      // `path` is tried again once the datagroup frees
    TriedAgain,             // `path` is tried again at once
    NotConverted,           // `path` was not converted: tried again when it changes or in `count` s
    BeingWrittenAgain,      // `path` is being written again
    ConversionFailed,       // `path` failed: tried again when it changes or in `count` s
    Converted,              // `path` was converted into the folder `folder`
    ConvertedButChanged,    // `path` was converted into `folder` but changed meanwhile
    ConvertedNotRemoved,    // `path` was converted but could not be removed, for `reason`
    BurstConverted,         // the status line: `paths` converted, `count` documents into `folder`
    BurstFailed,            // the status line: `paths` not all converted, `count` documents into `folder`
    BurstWithoutFiles,      // the status line: the command's outcome `text`, in the datagroup `folder` if any

    // How a folder `path` is watched; polled every `count` seconds.
    WatchedByInotify,
    PolledOnRequest,
    PolledNetworkMount, // on a network mount of the file system `text` ("NFS", "SMB/CIFS")
    PolledWithoutInotify,
    PolledWithoutWatch,
    PolledFolderGone,

    // What the hot folder met while watching.
    InotifyWatchLimit,     // no watch for `path`: polled instead
    InotifyInstanceLimit,  // no inotify at all: every folder polled
    InotifyUnavailable,    // no inotify for `reason`: `path` polled instead
    EventQueueOverflowed,  // events were lost: every folder looked at again
    WatchedFolderGone,     // the folder `path` was removed or moved: its path polled
    WaitingForFilesFailed, // for `reason`

    // What the operator's own files met.
    RunHistoryUnwritable, // the run history `path` cannot be written, for `reason` (no `path`: no place for it)
    NotifySocketDropped,  // systemd's notify socket `path` took a message not at once, for `reason`: dropped

    // The hot folder's log, continued.
    StillFailing,                // `path` failed as the last time, with `reason` first; since `text`, `count` tries
    ConfigFileKeptInMemory,      // the configuration `path` does not read as one: not written until it does
    DatagroupNumberKeptInMemory, // the datagroup advanced to number `text`, which `path` could not be given

    // The Convert command's notices, continued.
    DatagroupAtCapAdvanced, // the datagroup `path` held the most documents: marked, number advanced to `text`
    PreviousDatagroupLeft,  // the tidy-up of the datagroup `path` below this one stopped, for `reason`
                            // A datagroup or hot folder on the mount `path`, whose locks keep out only this machine's
                            // runs.
    LocksLocalOnly,
    // The metrics file `path` could not be written, for `reason`.
    MetricsNotWritten,
    // The index file `path` waits for `count` images and full-text files it names, the first `text`.
    WaitingForNamedFiles,
    // Nothing new arrived for the index file `path` in the group wait: converted with `count` missing.
    GroupWaitOver,
    // The index file `path` changed before the part of it converted earlier ended: converted whole.
    RewrittenConvertedWhole,
    // Only the lines appended to the index file `path` after its first `count` bytes are converted.
    ConvertingAppendedLines,
};

struct Notice
{
    explicit Notice(NoticeKind noticeKind, std::string about = {}) : kind(noticeKind), path(std::move(about)) {}

    NoticeKind kind;
    std::string path;               // the file or folder the notice is about
    std::string folder;             // where it went
    std::string text;               // a value as the configuration or the record holds it
    std::string reason;             // why, as the system said it, or what stopped the command
    std::vector<std::string> paths; // the files of a status line
    long count = 0;
};

} // namespace tollavar
