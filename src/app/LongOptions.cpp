#include "app/LongOptions.h"

#include <charconv>
#include <string_view>

namespace tollavar {

namespace {

constexpr int kMaxSeconds = 7 * 24 * 3600;

// A whole number of seconds within [minimum, a week]; anything else is refused rather than guessed.
std::optional<int> readSeconds(std::string_view text, int minimum)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > kMaxSeconds)
        return std::nullopt;
    return value;
}

// Sets a flag option; false when a value was given to an option that takes none.
bool readFlag(bool& flag, bool hasValue)
{
    flag = true;
    return !hasValue;
}

} // namespace

LongOptionsResult readLongOptions(int argc, const char* const* argv)
{
    LongOptionsResult result;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--") {
            ++i;
            break;
        }
        // The short forms every command-line user tries first; without them "-h" would open the window.
        if (argument == "-h" || argument == "-v") {
            (argument == "-h" ? result.options.help : result.options.version) = true;
            continue;
        }
        if (!argument.starts_with("--"))
            break;
        const size_t equals = argument.find('=');
        const std::string_view name = argument.substr(2, equals == std::string_view::npos ? argument.npos : equals - 2);
        const bool hasValue = equals != std::string_view::npos;
        const std::string_view value = hasValue ? argument.substr(equals + 1) : std::string_view();
        LongOptions& o = result.options;

        bool ok = true;
        if (name == "help")
            ok = readFlag(o.help, hasValue);
        else if (name == "version")
            ok = readFlag(o.version, hasValue);
        else if (name == "check")
            ok = readFlag(o.check, hasValue);
        else if (name == "watch")
            ok = readFlag(o.watch, hasValue);
        else if (name == "json")
            ok = readFlag(o.json, hasValue);
        else if (name == "quiet")
            ok = readFlag(o.quiet, hasValue);
        else if (name == "history")
            ok = readFlag(o.history, hasValue);
        else if (name == "log") {
            if (value.empty()) {
                result.error = "option --log needs a file, as in --log=/srv/share/runs.jsonl";
                result.firstArgument = i + 1;
                return result;
            }
            o.logFile = std::string(value);
        } else if (name == "metrics") {
            if (value.empty()) {
                result.error = "option --metrics needs a file, as in "
                               "--metrics=/var/lib/prometheus/node-exporter/tollavar.prom";
                result.firstArgument = i + 1;
                return result;
            }
            o.metricsFile = std::string(value);
        } else if (name == "wait" || name == "settle" || name == "poll" || name == "retry" || name == "group-wait") {
            std::optional<int>& target = name == "wait"         ? o.waitSeconds
                                         : name == "settle"     ? o.settleSeconds
                                         : name == "poll"       ? o.pollSeconds
                                         : name == "group-wait" ? o.groupWaitSeconds
                                                                : o.retrySeconds;
            const bool fromOne = name == "poll" || name == "retry";
            target = readSeconds(value, fromOne ? 1 : 0);
            if (!target) {
                result.error = "option --" + std::string(name) + " needs a whole number of seconds" +
                               (fromOne ? " from 1" : "") + ", as in --" + std::string(name) + "=30";
                result.firstArgument = i + 1;
                return result;
            }
        } else {
            result.error = "unknown option " + std::string(argument.substr(0, hasValue ? equals : argument.npos));
            result.firstArgument = i + 1;
            return result;
        }
        if (!ok) {
            result.error = "option --" + std::string(name) + " takes no value";
            result.firstArgument = i + 1;
            return result;
        }
    }
    result.firstArgument = i;
    if (result.options.check && result.options.watch)
        result.error = "--check and --watch cannot be used together";
    else if (result.options.history && (result.options.check || result.options.watch))
        result.error = "--history cannot be used with --check or --watch";
    else if (result.options.json && result.options.watch)
        result.error = "--json does not go with --watch";
    else if ((result.options.settleSeconds || result.options.pollSeconds || result.options.retrySeconds ||
              result.options.groupWaitSeconds) &&
             !result.options.watch)
        result.error = "--settle, --poll, --retry and --group-wait go with --watch";
    else if (result.options.metricsFile && (result.options.check || result.options.history))
        result.error = "--metrics goes with --watch or an unattended run, not with --check or --history";
    return result;
}

std::string usageText()
{
    return "Usage: tollavar [OPTION...] [CONFIG.tvr] [/SWITCH:VALUE...]\n"
           "Converts the index files of a scanning station into a datagroup.\n"
           "\n"
           "With no configuration file the window opens and asks for one. Naming one converts it\n"
           "unattended; add /m to open it in the window instead.\n"
           "\n"
           "Options (before the configuration file):\n"
           "  -h, --help        print this text and exit\n"
           "  -v, --version     print the version and exit\n"
           "  --wait=SECONDS    how long an unattended run waits for a datagroup that another run or\n"
           "                    program holds (default 600)\n"
           "  --check           report what converting would do; move, create and write nothing\n"
           "  --json            with --check: the report as JSON; on an unattended run: the command's\n"
           "                    record as one JSON object on standard output; with --history: the records\n"
           "  --quiet           no progress line on a terminal\n"
           "  --log=FILE        keep the run history in FILE (default\n"
           "                    $XDG_STATE_HOME/tollavar/runs.jsonl, ~/.local/state/tollavar/runs.jsonl)\n"
           "  --history [N]     print the last N Convert commands of the run history (default 20)\n"
           "  --watch           convert index files as they arrive in the items' folders, until stopped\n"
           "  --settle=SECONDS  with --watch: how long a file must stay unchanged (default 2)\n"
           "  --poll=SECONDS    with --watch: poll the folders instead of waiting for the kernel's word\n"
           "  --retry=SECONDS   with --watch: try a file that failed again after this long, or as soon\n"
           "                    as it changes (default 300)\n"
           "  --group-wait=SECONDS\n"
           "                    with --watch: how long an index file waits for the images it names\n"
           "                    once nothing new arrives (default: the --retry value; 0: no wait)\n"
           "  --metrics=FILE    with --watch or an unattended run: keep figures for monitoring in FILE\n"
           "                    (Prometheus text format), rewritten after each Convert command\n"
           "\n"
           "Switches (after the configuration file; each replaces one setting):\n"
           "  /c:FILE   configuration file        /f:ITEMS  index files, \"|\"-separated, \"*\" allowed\n"
           "  /x:FILE   XML file location         /u:N      datagroup number\n"
           "  /e:TEXT   company name              /i:ID     company ID\n"
           "  /p:ID     project ID                /n:NAME   project name\n"
           "  /a:DIR    image folder              /s:N      maximum files per datagroup\n"
           "  /d        allow duplicate images    /r        remove processed files\n"
           "  /k        skip the header line      /w        prompt\n"
           "  /l        put the argument text on the clipboard\n"
           "  /m        show the window with the configuration loaded; do not convert\n"
           "\n"
           "Exit status: 0 every index file converted and every save made (a file left because another\n"
           "program is writing it is no failure); 1 a conversion, a save or the command failed (a signal\n"
           "included); 2 start-up failed (an unreadable configuration, a bad option). With --check: 0 the conversion "
           "would meet no question and no error, 1 it\n"
           "would, 2 the configuration cannot be read. With --watch: 0 once stopped by SIGTERM or SIGINT,\n"
           "each ending a wait at once and a conversion after its end; SIGHUP reads the configuration\n"
           "again after the conversion in hand, and watching goes on.\n"
           "\n"
           "More in 'man tollavar' and in the user manual TLManual.pdf (Help, View Manual), with a\n"
           "cron line and a systemd timer for unattended runs.\n";
}

std::string versionText()
{
    return "Tollavar " + std::to_string(TOLLAVAR_VERSION_MAJOR) + "." + std::to_string(TOLLAVAR_VERSION_MINOR) + "." +
           std::to_string(TOLLAVAR_VERSION_PATCH);
}

} // namespace tollavar
