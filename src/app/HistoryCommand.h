#pragma once

#include <iosfwd>

namespace tollavar {

struct LongOptions;

// tollavar --history [N] [--json]: the last N Convert commands of the run history (default 20) as a
// table, or as their records, one JSON object per line. Damaged lines are skipped and counted on
// `err`. Returns the exit status.
int printRunHistory(const LongOptions& options, int argc, const char* const* argv, std::ostream& out,
                    std::ostream& err);

} // namespace tollavar
