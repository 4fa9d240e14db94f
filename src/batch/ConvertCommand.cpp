#include "batch/ConvertCommand.h"

#include "batch/ConfigFile.h"
#include "batch/DatagroupLock.h"
#include "batch/Recovery.h"
#include "batch/Wildcard.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "engine/StopRequest.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/FolderLock.h"
#include "filetools/TextReplace.h"

#include <atomic>
#include <cstdint>
#include <filesystem>

namespace tollavar {

namespace {

constexpr const char* kProgramName = "Tollavar";
constexpr int kOverflow = 6;
constexpr int kTypeMismatch = 13;

std::atomic<bool> g_commandRunning{false};

// Clears the in-progress mark on every way out of the command, exceptions included.
struct RunningMark
{
    ~RunningMark() { g_commandRunning.store(false); }
};

Failure numberFailure(std::string_view text)
{
    return IsNumeric(text) ? Failure(kOverflow, kProgramName, "Overflow")
                           : Failure(kTypeMismatch, kProgramName, "Type mismatch");
}

// The full path a folder listing reports for its folder: a relative folder is taken from the current
// folder. This is why an exact item written as a relative path never matches a listed file.
std::string fullFolderPath(const std::string& folder)
{
    std::filesystem::path path(folder);
    if (!path.is_absolute()) {
        std::error_code error;
        std::filesystem::path current = std::filesystem::current_path(error);
        if (error)
            throw systemFailure(error.value(), "List Folder", folder);
        path = current / path;
    }
    std::string full = path.lexically_normal().string();
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    return full;
}

// Whether any file of the folder matches the pattern now: earlier conversions and deletions may have
// changed the folder. A file known to match that is still there settles it without a listing; listing
// the folder for each of its files would make a folder of n index files cost n * n.
bool anyFileMatches(const std::string& folder, std::string_view pattern, std::string& witness)
{
    const auto inFolder = [&](const std::string& name) { return (folder == "/" ? "" : folder) + "/" + name; };
    if (!witness.empty() && files::fileExists(inFolder(witness)))
        return true;
    witness.clear();
    for (const std::string& name : files::listFiles(folder)) {
        if (MatchesWildcard(pattern, name)) {
            witness = name;
            return true;
        }
    }
    return false;
}

class ConvertRun
{
public:
    ConvertRun(CommandContext& ctx, const IndexFileConverter& convert, ConvertOutcome& outcome)
        : m_ctx(ctx), m_convert(convert), m_outcome(outcome)
    {
    }

    void run()
    {
        ConversionSettings& s = m_ctx.settings;
        const std::vector<std::string> items = SplitBarList(s.txtIDX);
        m_ctx.flags = RunFlags{};
        if (s.txtXML.empty())
            throw Failure(ErrorCode::InvalidCall, "Reading Configuration", "Missing XML file setting");
        const auto number = ParseInt16(s.txtDGNUMBER);
        if (!number)
            throw numberFailure(s.txtDGNUMBER);
        const std::string datagroupFolder =
            FileTools::GetFPath(s.txtXML) + "/" + s.txtDGCOMPID + FileTools::L0Pad(*number, 4);
        if (!files::folderExists(files::nativePath(datagroupFolder)))
            m_ctx.fileTools.CreateAnyFolder(datagroupFolder);
        m_xmlPath = datagroupFolder + "/DATAGRP.XML";
        m_datagroupFolder = datagroupFolder;
        // Every ".XML" of the path, folder names included, becomes ".SUBMIT" (so a folder named "x.xml"
        // sends the marker into a folder that does not exist, and the command fails there).
        const std::string markerPath = ReplaceAllIgnoreCase(m_xmlPath, ".XML", ".SUBMIT");

        // One writer per datagroup, from before DATAGRP.XML is read until the marker and the advance:
        // two runs reading the same DATAGRP.XML would each save it without the other's documents.
        files::FolderLock lock;
        TakeDatagroupLock(m_ctx, lock, datagroupFolder);
        RecoverInterruptedRun(m_ctx, datagroupFolder, m_xmlPath, markerPath);

        for (const std::string& item : items) {
            if (StopRequested() || !convertItem(item))
                return;
        }

        files::createEmptyFile(files::nativePath(markerPath));
        if (m_ctx.flags.DatagroupFull) {
            const auto current = ParseInt32(s.txtDGNUMBER);
            if (!current)
                throw numberFailure(s.txtDGNUMBER);
            if (*current == INT32_MAX)
                throw Failure(kOverflow, kProgramName, "Overflow");
            s.txtDGNUMBER = std::to_string(*current + 1);
            SaveConfig(m_ctx, m_ctx.ConfigFile);
        }
        m_outcome.ranToEnd = true;
    }

private:
    // False when the conversion run cancelled the batch.
    bool convertItem(const std::string& item)
    {
        const bool wildcard = item.find('*') != std::string::npos;
        const std::string folder = files::nativePath(FileTools::GetFPath(item));
        const std::vector<std::string> names = files::listFiles(folder);
        const std::string folderFull = fullFolderPath(folder);
        const std::string itemPath = files::nativePath(item);
        const std::string itemExtension = FileTools::GetFExt(item);
        const std::string pattern = FileTools::GetFName(item);
        // The pattern test is made for every listed file; a listed file that matches the pattern itself
        // and is still there answers it at once, else the last file found to match.
        std::string witness;

        for (const std::string& name : names) {
            const std::string file = (folderFull == "/" ? "" : folderFull) + "/" + name;
            if (wildcard && itemExtension != "*" && FileTools::GetFExt(name) != itemExtension)
                continue;
            bool selected = file == itemPath;
            if (!selected && wildcard) {
                if (MatchesWildcard(pattern, name))
                    witness = name;
                selected = anyFileMatches(folder, pattern, witness);
            }
            if (!selected)
                continue;

            RunJournal journal(m_datagroupFolder, m_ctx.ConfigFile, m_ctx.settings.mRemove);
            ConversionContext conversion = m_ctx.conversion();
            conversion.journal = &journal;
            const bool converted =
                m_convert(conversion, file, files::nativePath(m_xmlPath), "REZI_DATAGRP", "DOCUMENT");
            if (converted) {
                SaveConfig(m_ctx, m_ctx.ConfigFile);
                if (m_ctx.settings.mRemove)
                    files::deleteFile(file);
                journal.remove();
            } else {
                m_outcome.allConverted = false;
            }
            if (m_ctx.flags.BatchCanceled || StopRequested())
                return false;
        }
        return true;
    }

    CommandContext& m_ctx;
    const IndexFileConverter& m_convert;
    ConvertOutcome& m_outcome;
    std::string m_xmlPath;
    std::string m_datagroupFolder;
};

} // namespace

ConvertOutcome mConvert_Click(CommandContext& ctx, const IndexFileConverter& convert)
{
    ConvertOutcome outcome;
    bool idle = false;
    if (!g_commandRunning.compare_exchange_strong(idle, true)) {
        outcome.refused = true;
        return outcome;
    }
    RunningMark mark;
    const IndexFileConverter& converter = convert ? convert : IndexFileConverter(ConvertIndexFile);
    try {
        ConvertRun(ctx, converter, outcome).run();
    } catch (const Failure& failure) {
        ctx.prompter.ask(Message{failure.description(), "Error in Convert - " + failure.source(), MessageIcon::Warning,
                                 MessageButtons::Ok});
    } catch (const std::exception& error) {
        ctx.prompter.ask(Message{error.what(), std::string("Error in Convert - ") + kProgramName, MessageIcon::Warning,
                                 MessageButtons::Ok});
    }
    return outcome;
}

ConvertOutcome cmdRun_Click(CommandContext& ctx)
{
    return mConvert_Click(ctx);
}

} // namespace tollavar
