#pragma once

#include "batch/CommandRecord.h"
#include "engine/JournalReader.h"
#include "engine/RunRollback.h"

#include <functional>
#include <string>
#include <vector>

namespace tollavar {

struct CommandContext;

// Puts right a conversion into this datagroup that was interrupted (killed, power lost) or that failed
// and left its images moved, from the journal it left: before its save, every file it moved goes back,
// every file it replaced returns, and DATAGRP.XML is as it was (a save cut short is undone); after its
// save, its remaining steps are done (configuration, index file, the replaced files deleted). Says in one
// message what it found and did. A journal that is not confined to this datagroup, its image folder and
// an index file the configuration selects is set aside unacted; one it cannot fully act on is acted on as
// far as is safe and set aside, naming every file it could not place. After an interruption such a report
// is raised as a Failure (the command stops); after a reported failure the command goes on. A journal
// whose writer may still be running is left alone and raised as a Failure. Without a journal it does
// nothing. The caller holds the datagroup's lock. Returns the index file whose conversion it finished
// (its save had been reached), else "". Such a file is handed to `noteFinished` while the journal still
// stands, so that a kill right after the journal is gone cannot make the file look unconverted.
std::string recoverInterruptedRun(CommandContext& ctx, const std::string& datagroupFolder, const std::string& xmlPath,
                                  const std::string& markerPath,
                                  const std::function<void(const std::string& indexFile)>& noteFinished = {});

// Puts back at once what a conversion into `datagroupFolder` did before its save, from the steps it
// recorded (`journal`), the way recovery puts back a killed one: DATAGRP.XML as `originalText` ("": the
// run created it, and it goes), every move and set-aside undone, latest first, and the folders the run
// made and emptied removed.
RollbackResult rollBackConversion(CommandContext& ctx, const JournalContents& journal,
                                  const std::string& datagroupFolder, const std::string& xmlPath,
                                  const std::string& originalText);

// A command killed after it had advanced past `previousFolder` (the datagroup numbered one below the
// configuration's) may have left there its last journal, whose work is done, its record and its lock file.
// The journal goes once its save is verified, and the lock file with it; touching no image. Returns the
// index files that record, when it is this configuration's, says the command finished: the caller's
// record takes them over and then removes it. Leaves everything to a run that still holds that datagroup.
std::vector<CommandRecord::IndexFile> finishAdvancedDatagroup(CommandContext& ctx, const std::string& previousFolder);

} // namespace tollavar
