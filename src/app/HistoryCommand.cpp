#include "app/HistoryCommand.h"

#include "app/LongOptions.h"
#include "app/Startup.h"
#include "batch/RunHistory.h"
#include "filetools/Failure.h"

#include <charconv>
#include <ostream>
#include <string_view>

namespace tollavar {

namespace {

constexpr size_t kDefaultCount = 20;

} // namespace

int printRunHistory(const LongOptions& options, int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    size_t count = kDefaultCount;
    bool json = options.json;
    bool counted = false;
    // "--history 5 --json" reads as naturally as "--json --history 5": the option may follow the number.
    for (int i = 0; i < argc; ++i) {
        const std::string_view text(argv[i]);
        if (text == "--json") {
            json = true;
            continue;
        }
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
        if (counted || text.empty() || error != std::errc() || end != text.data() + text.size() || count == 0) {
            err << "tollavar: --history takes a number of commands from 1 and --json, as in --history 50\n";
            return ExitStatus::StartupFailed;
        }
        counted = true;
    }
    const std::string path = options.logFile.value_or(defaultRunHistoryPath());
    if (path.empty()) {
        err << "tollavar: neither XDG_STATE_HOME nor HOME is set; name the history with --log=FILE\n";
        return ExitStatus::StartupFailed;
    }
    RunHistoryTail tail;
    try {
        tail = readRunHistory(path, count);
    } catch (const Failure& failure) {
        err << "tollavar: the run history cannot be read: " << failure.description() << '\n';
        return ExitStatus::ConversionFailed;
    }
    if (json) {
        for (const RunRecord& record : tail.records)
            out << runRecordJson(record) << '\n';
    } else if (tail.records.empty()) {
        out << "No Convert command recorded in " << path << '\n';
    } else {
        out << runHistoryTable(tail.records);
    }
    out.flush();
    if (tail.skipped > 0)
        err << "tollavar: skipped " << tail.skipped << (tail.skipped == 1 ? " damaged line" : " damaged lines")
            << " of " << path << '\n';
    return ExitStatus::Success;
}

} // namespace tollavar
