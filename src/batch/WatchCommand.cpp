#include "batch/WatchCommand.h"

#include "batch/CommandContext.h"
#include "batch/ConvertCommand.h"
#include "batch/HotFolder.h"
#include "batch/WatchEvents.h"
#include "engine/ConversionRun.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>

namespace tollavar {

namespace {

// The folder as the Convert command's listing names its files: absolute, without a trailing "/".
std::string listedFolder(const std::string& folder)
{
    std::error_code error;
    std::string full = std::filesystem::absolute(folder, error).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    return full;
}

std::vector<std::string> watchableFolders(const ConversionSettings& settings, std::ostream& log)
{
    std::vector<std::string> folders;
    for (const std::string& item : SplitBarList(settings.txtIDX)) {
        const std::string folder = files::nativePath(FileTools::GetFPath(item));
        if (folder.empty()) {
            log << "tollavar: the item \"" << item << "\" names no folder to watch" << std::endl;
            continue;
        }
        if (!files::folderExists(folder)) {
            log << "tollavar: the folder " << folder << " of the item \"" << item << "\" does not exist" << std::endl;
            continue;
        }
        const std::string full = listedFolder(folder);
        if (std::find(folders.begin(), folders.end(), full) == folders.end())
            folders.push_back(full);
    }
    return folders;
}

class Watch
{
public:
    Watch(CommandContext& ctx, std::ostream& log, WatchEvents* events) : m_ctx(ctx), m_log(log), m_events(events)
    {
        m_ctx.alwaysRemoveProcessed = true;
    }

    // One Convert command over the files of the burst that an item selects; the rest wait.
    void convertBurst(const std::vector<ReadyFile>& ready)
    {
        m_ready.clear();
        for (const ReadyFile& file : ready)
            m_ready.emplace(file.path, file);
        m_selected.clear();
        for (const std::string& item : SplitBarList(m_ctx.settings.txtIDX)) {
            try {
                ForEachSelectedIndexFile(m_ctx, item, [this](const std::string& file) {
                    if (m_ready.count(file))
                        m_selected.insert(file);
                    return true;
                });
            } catch (const Failure&) {
                // The Convert command meets the same failure and reports it.
            }
        }
        if (m_selected.empty())
            return;

        const ConvertOutcome outcome = mConvert_Click(
            m_ctx, [this](ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                          const std::string& rootName, const std::string& documentName) {
                return convertOne(conversion, file, xmlFile, rootName, documentName);
            });
        if (m_events)
            m_events->status(statusLine(outcome.record));
        if (!outcome.ranToEnd)
            m_log << "tollavar: the Convert command stopped before its end (see above); watching goes on" << std::endl;
        else if (m_ctx.flags.DatagroupFull)
            m_log << "tollavar: the datagroup is full; the next files go into datagroup number "
                  << m_ctx.settings.txtDGNUMBER << std::endl;
    }

private:
    // "converted a.idx: 300 documents into ACME0007"
    static std::string statusLine(const RunRecord& record)
    {
        std::string names;
        long documents = 0;
        bool allConverted = true;
        for (const IndexFileRecord& file : record.files) {
            names += (names.empty() ? "" : ", ") + FileTools::GetFName(file.path);
            documents += file.facts.documentsAdded;
            allConverted &= file.converted;
        }
        const std::string datagroup = FileTools::GetFName(record.datagroupFolder);
        if (record.files.empty())
            return record.outcome + (datagroup.empty() ? "" : " in " + datagroup);
        return std::string(allConverted && record.exitStatus == 0 ? "converted " : "failed ") + names + ": " +
               std::to_string(documents) + " documents into " + datagroup;
    }

    bool convertOne(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                    const std::string& rootName, const std::string& documentName)
    {
        // Files the command selects that were not judged complete are not this burst's.
        if (!m_selected.count(file))
            return false;
        const ReadyFile& judged = m_ready.at(file);
        struct stat st
        {
        };
        if (::stat(file.c_str(), &st) != 0)
            return false; // taken away meanwhile
        if (st.st_ino != judged.inode || st.st_size != judged.size || st.st_mtim.tv_sec != judged.modified.tv_sec ||
            st.st_mtim.tv_nsec != judged.modified.tv_nsec || m_ctx.fileTools.IsFileInUse(file)) {
            m_log << "tollavar: " << file << " is being written again; left for later" << std::endl;
            return false;
        }
        const bool converted = ConvertIndexFile(conversion, file, xmlFile, rootName, documentName);
        if (!converted) {
            m_log << "tollavar: failed " << file << "; it stays where it is (see above)" << std::endl;
            return false;
        }
        // With the configuration's own switch on, the command removes the file itself.
        if (!m_ctx.settings.mRemove) {
            try {
                files::deleteFile(file);
            } catch (const Failure& failure) {
                m_log << "tollavar: converted " << file << " but could not remove it: " << failure.description()
                      << "; it is not converted again unless it changes" << std::endl;
                return true;
            }
        }
        m_log << "tollavar: converted " << file << " into " << FileTools::GetFPath(xmlFile) << std::endl;
        return true;
    }

    CommandContext& m_ctx;
    std::ostream& m_log;
    WatchEvents* m_events;
    std::map<std::string, ReadyFile> m_ready;
    std::set<std::string> m_selected;
};

void printNotices(HotFolder& hot, std::ostream& log)
{
    for (const std::string& notice : hot.takeNotices())
        log << "tollavar: " << notice << std::endl;
}

} // namespace

int WatchAndConvert(CommandContext& ctx, const WatchOptions& options, int stopFd, std::ostream& log)
{
    const std::vector<std::string> folders = watchableFolders(ctx.settings, log);
    if (folders.empty()) {
        log << "tollavar: no item of the configuration has a folder that can be watched" << std::endl;
        return 2;
    }
    HotFolder hot(folders, options.settle, options.poll, ctx.fileTools);
    log << "tollavar: watching for index files; a file is converted once it is closed, held open by no one and "
           "unchanged for "
        << options.settle.count() / 1000.0 << " s" << std::endl;
    log << "tollavar: Remove Processed Files is on in this mode: every converted index file is removed, so that "
           "none is converted twice"
        << std::endl;
    for (const HotFolder::WatchedFolder& folder : hot.folders())
        log << "tollavar: " << folder.path << ": " << folder.how << std::endl;
    printNotices(hot, log);

    Watch watch(ctx, log, options.events);
    if (options.events) {
        if (options.events->heartbeatEvery().count() > 0)
            hot.setHeartbeat(options.events->heartbeatEvery(), [events = options.events] { events->alive(); });
        options.events->watching();
    }
    std::vector<ReadyFile> ready;
    while (hot.waitForBurst(stopFd, ready)) {
        printNotices(hot, log);
        watch.convertBurst(ready);
        hot.handled(ready);
    }
    if (options.events)
        options.events->stopping();
    printNotices(hot, log);
    return 0;
}

} // namespace tollavar
