#pragma once

#include <string>

namespace tollavar {

struct CheckReport;

// The check's report for people: the command first, then each index file with its counts per kind,
// at most 20 examples each and the number of the rest, and the verdict last.
std::string checkReportText(const CheckReport& report);

// The same for scripts, as one JSON object (UTF-8; bytes of a name that are no UTF-8 become U+FFFD).
std::string checkReportJson(const CheckReport& report);

} // namespace tollavar
