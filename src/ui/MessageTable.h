#pragma once

#include "engine/FailureReport.h"
#include "engine/Prompter.h"

namespace tollavar {

// The program's name, as titles and messages show it.
inline constexpr const char* kProgramTitle = "Tollavar";

// The words of every message the program shows, for what the core asks or tells and for every failure:
// the one place a value becomes a message. Kept free of Qt so that the terminal, the window and the
// tests all show the same text.
Message promptMessage(const Prompt& prompt);
Message failureMessage(const FailureReport& report);
// A status text, a notice the run history keeps, a line of the hot folder's log (without the program's
// name in front).
std::string noticeText(const Notice& notice);

// The same table, for what in the core must record a message without showing it.
const MessageWords& messageTable();

// What recovery would do with an earlier run's journal, told before anything is done (a check).
std::string foreseenRecoveryText(const RecoveryFacts& facts);

} // namespace tollavar
