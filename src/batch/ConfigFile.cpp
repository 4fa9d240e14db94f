#include "batch/ConfigFile.h"

#include "batch/CommandContext.h"
#include "batch/CommandPorts.h"
#include "batch/ConfigFileState.h"
#include "batch/FileDialog.h"
#include "engine/ConversionSettings.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "filetools/Failure.h"
#include "filetools/FileEffects.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/RegularFileOpen.h"
#include "filetools/TextReplace.h"
#include "filetools/Windows1252.h"

#include <optional>

namespace tollavar {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kFormatVersion = "7";

// "True"/"False" in any case, or a number: zero is off, anything else on. The digits decide rather than
// a floating-point conversion, which would follow the user's locale once the window has set it.
std::optional<bool> parseSwitch(std::string_view text)
{
    const std::string word = asciiLower(text);
    if (word == "true")
        return true;
    if (word == "false")
        return false;
    if (!isNumeric(text))
        return std::nullopt;
    for (char c : text) {
        if (c == 'e' || c == 'E')
            break;
        if (c >= '1' && c <= '9')
            return true;
    }
    return false;
}

// UTF-8 after a byte-order mark, else windows-1252. A byte that breaks the UTF-8 of a marked file is
// read as windows-1252, as index files are, so nothing is lost and the settings always hold valid text.
std::string decodeLine(std::string_view raw, bool utf8)
{
    if (!utf8)
        return cp1252::decode(raw);
    if (utf8::isValid(raw))
        return std::string(raw);
    std::string out;
    out.reserve(raw.size());
    for (size_t pos = 0; pos < raw.size();) {
        const size_t start = pos;
        char32_t cp = utf8::next(raw, pos);
        if (cp == 0xFFFFFFFF)
            cp1252::decodeAppend(raw.substr(start, pos - start), out);
        else
            out.append(raw.substr(start, pos - start));
    }
    return out;
}

// Hands out the lines of the file one at a time, decoding only those asked for, so a huge file costs
// no more than its first lines. A line ends at CR LF, LF or CR; a last line without an end counts.
class LineReader
{
public:
    explicit LineReader(std::string_view bytes)
    {
        m_utf8 = bytes.starts_with(kByteOrderMark);
        m_bytes = m_utf8 ? bytes.substr(kByteOrderMark.size()) : bytes;
    }

    std::optional<std::string> next()
    {
        if (m_pos >= m_bytes.size())
            return std::nullopt;
        const size_t end = m_bytes.find_first_of("\r\n", m_pos);
        std::string_view raw;
        if (end == std::string_view::npos) {
            raw = m_bytes.substr(m_pos);
            m_pos = m_bytes.size();
        } else {
            raw = m_bytes.substr(m_pos, end - m_pos);
            m_pos = end + 1;
            if (m_bytes[end] == '\r' && m_pos < m_bytes.size() && m_bytes[m_pos] == '\n')
                ++m_pos;
        }
        ++m_lineNumber;
        return decodeLine(raw, m_utf8);
    }

    int lineNumber() const { return m_lineNumber; }

private:
    std::string_view m_bytes;
    size_t m_pos = 0;
    bool m_utf8 = false;
    int m_lineNumber = 0;
};

std::string requiredLine(LineReader& lines)
{
    auto line = lines.next();
    if (!line)
        throw Failure(ErrorCode::InputPastEndOfFile, "OpenConfig",
                      "Input past end of file: line " + std::to_string(lines.lineNumber() + 1) + " is missing");
    return std::move(*line);
}

bool requiredSwitch(LineReader& lines)
{
    const std::string line = requiredLine(lines);
    auto value = parseSwitch(line);
    if (!value)
        throw Failure(ErrorCode::TypeMismatch, "OpenConfig",
                      "Type mismatch: line " + std::to_string(lines.lineNumber()) + " is neither True nor False", line);
    return *value;
}

// A later, optional line: missing or unreadable, the setting keeps its value.
void optionalText(LineReader& lines, std::string& setting)
{
    if (auto line = lines.next())
        setting = std::move(*line);
}

void optionalSwitch(LineReader& lines, bool& setting)
{
    if (auto line = lines.next()) {
        if (auto value = parseSwitch(*line))
            setting = *value;
    }
}

const char* switchText(bool on)
{
    return on ? "True" : "False";
}

} // namespace

std::string serializeConfig(const ConversionSettings& s)
{
    const std::string_view values[] = {
        s.indexFiles,
        s.xmlFilePath,
        s.datagroupNumber,
        s.companyName,
        s.companyId,
        s.projectName,
        s.projectId,
        s.fieldNames,
        s.fieldTypes,
        switchText(s.removeProcessedFiles),
        switchText(s.autoCreateSubfolders),
        kFormatVersion,
        s.maxDocuments,
        s.imageFolder,
        switchText(s.allowDuplicates),
        s.delimiter,
        switchText(s.promptWhenFinished),
        switchText(s.skipHeaderLine),
    };
    std::string text;
    for (std::string_view value : values) {
        text += value;
        text += "\r\n";
    }
    // A windows-1252 file that happened to begin with the bytes of a byte-order mark would be read back
    // as UTF-8, so such a file is written as UTF-8 too.
    if (std::optional<std::string> ansi = cp1252::encode(text); ansi && !ansi->starts_with(kByteOrderMark))
        return std::move(*ansi);
    return std::string(kByteOrderMark) + text;
}

void applyConfigText(std::string_view bytes, ConversionSettings& s)
{
    LineReader lines(bytes);
    s.indexFiles = requiredLine(lines);
    s.xmlFilePath = requiredLine(lines);
    s.datagroupNumber = requiredLine(lines);
    s.companyName = requiredLine(lines);
    s.companyId = requiredLine(lines);
    s.projectName = requiredLine(lines);
    s.projectId = requiredLine(lines);
    s.fieldNames = requiredLine(lines);
    s.fieldTypes = requiredLine(lines);
    s.removeProcessedFiles = requiredSwitch(lines);
    s.autoCreateSubfolders = requiredSwitch(lines);

    auto versionLine = lines.next();
    if (!versionLine)
        return;
    const long long version = parseInt16(*versionLine).value_or(0);
    optionalText(lines, s.maxDocuments);
    // Each setting the file's version does not carry returns to its default.
    if (version >= 3)
        optionalText(lines, s.imageFolder);
    else
        s.imageFolder = "";
    if (version >= 4)
        optionalSwitch(lines, s.allowDuplicates);
    else
        s.allowDuplicates = false;
    if (version >= 5)
        optionalText(lines, s.delimiter);
    else
        s.delimiter = ",";
    if (version >= 6)
        optionalSwitch(lines, s.promptWhenFinished);
    else
        s.promptWhenFinished = false;
    if (version >= 7)
        optionalSwitch(lines, s.skipHeaderLine);
    else
        s.skipHeaderLine = false;
}

bool readsAsConfiguration(const std::string& path)
{
    const std::optional<std::string> bytes = files::peekRegularFile(files::nativePath(path));
    if (!bytes)
        return false;
    ConversionSettings scratch;
    try {
        applyConfigText(*bytes, scratch);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

bool saveConfig(CommandContext& ctx, const std::string& configPath)
{
    // A copy: callers pass configFile itself, which the dialog may change.
    std::string path = configPath;
    try {
        if (path.empty()) {
            auto chosen = ctx.dialog.show(
                FileDialogRequest{FileDialogRequest::Kind::Save, "", kConfigFileFilter, 1, ctx.configFile});
            if (!chosen)
                throw Failure(ErrorCode::DialogCancelled, "SaveConfig", kDialogCancelledDescription);
            path = *chosen;
            ctx.configFile = path;
        }
        if (ctx.sparesUnreadableConfigFile) {
            ctx.configFileState.unreadableOnDisk = !readsAsConfiguration(path);
            if (ctx.configFileState.unreadableOnDisk)
                return true;
        }
        std::string bytes = serializeConfig(ctx.settings);
        files::FileEffects& effects = portsOf(ctx).files();
        effects.writeWhole(path, bytes);
        // What a dry run would have written is not on the disk to compare with later.
        if (!effects.recording())
            rememberConfigFile(ctx, path, std::move(bytes));
        return true;
    } catch (const Failure& failure) {
        ctx.prompter.reportFailure(FailureReport{FailedWork::SavingConfig, failure});
        return false;
    }
}

bool saveConfigIfChanged(CommandContext& ctx, const std::string& configPath)
{
    std::string bytes = serializeConfig(ctx.settings);
    if (!configPath.empty() && files::holdsExactly(configPath, bytes)) {
        rememberConfigFile(ctx, configPath, std::move(bytes));
        return true;
    }
    return saveConfig(ctx, configPath);
}

OpenConfigResult openConfig(CommandContext& ctx, const std::string& configPath)
{
    std::string path = configPath;
    try {
        if (path.empty()) {
            const std::string preset =
                FileTools::isFullPath(ctx.configFile)
                    ? ctx.configFile
                    : ctx.fileTools.readStringSetting("Quenbrook", "DefaultFolders", "Config", "") + "/*.tvr";
            auto chosen =
                ctx.dialog.show(FileDialogRequest{FileDialogRequest::Kind::Open, "", kConfigFileFilter, 1, preset});
            if (!chosen)
                return OpenConfigResult::Cancelled;
            path = *chosen;
            ctx.configFile = path;
            followConfigFolder(ctx);
        }
        if (!files::fileExists(path)) {
            Prompt missing{MessageKind::ConfigMissing};
            missing.path = path;
            ctx.prompter.ask(missing);
            return OpenConfigResult::Missing;
        }
        std::string bytes = files::readAll(path);
        applyConfigText(bytes, ctx.settings);
        rememberConfigFile(ctx, path, std::move(bytes));
        return OpenConfigResult::Opened;
    } catch (const Failure& failure) {
        ctx.prompter.reportFailure(FailureReport{FailedWork::OpeningConfig, failure});
        return OpenConfigResult::Unreadable;
    }
}

void openCommand(CommandContext& ctx)
{
    openConfig(ctx, "");
}

void saveCommand(CommandContext& ctx)
{
    saveConfig(ctx, ctx.configFile);
}

void saveAsCommand(CommandContext& ctx)
{
    saveConfig(ctx, "");
}

} // namespace tollavar
