#pragma once

#include <string>

namespace tollavar {

struct CommandContext;

// Puts right a conversion into this datagroup that was interrupted (killed, power lost, stopped),
// from the journal it left: before its save, every file it moved goes back and DATAGRP.XML stays as
// it was; after its save, its remaining steps are done (configuration, index file, marker). Says in
// one message what it found and did. A journal it cannot act on is raised as a Failure naming it and
// nothing is changed. Without a journal it does nothing. The caller holds the datagroup's lock.
void RecoverInterruptedRun(CommandContext& ctx, const std::string& datagroupFolder, const std::string& xmlPath,
                           const std::string& markerPath);

} // namespace tollavar
