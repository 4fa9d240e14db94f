#pragma once

#include "batch/RunRecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// One record as one line of JSON (no newline). Bytes that are no UTF-8 become U+FFFD.
std::string runRecordJson(const RunRecord& record);

// A history line read back; nothing when it is damaged, cut short or no record.
std::optional<RunRecord> runRecordFromJson(std::string_view line);

// The history file when none is named: $XDG_STATE_HOME/tollavar/runs.jsonl, where XDG_STATE_HOME
// defaults to ~/.local/state. Empty when neither it nor HOME is set.
std::string defaultRunHistoryPath();

struct RunHistoryTail
{
    std::vector<RunRecord> records; // oldest first
    long skipped = 0;               // damaged lines among those read
};

// The last `count` records of the history at `path` and of its rotated files, as far as needed. A
// missing file is an empty history; one that cannot be read throws Failure.
RunHistoryTail readRunHistory(const std::string& path, size_t count);

// The table --history prints: when, configuration, files, documents, datagroup and outcome.
std::string runHistoryTable(const std::vector<RunRecord>& records);

} // namespace tollavar
