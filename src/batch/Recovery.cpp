#include "batch/Recovery.h"

#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "engine/NumberText.h"
#include "engine/Prompter.h"
#include "engine/RunJournal.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"

#include <map>
#include <set>

namespace tollavar {

namespace {

constexpr const char* kSource = "Recovery Journal";

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// Hidden temporaries of interrupted atomic writes: ".NAME.tmp-XXXXXX" beside NAME. The caller holds the
// datagroup's lock, so none of them belongs to a write still going on.
void deleteTemporaries(const std::map<std::string, std::set<std::string>>& namesByFolder)
{
    for (const auto& [folder, names] : namesByFolder) {
        if (!files::folderExists(folder))
            continue;
        for (const std::string& entry : files::listFiles(folder)) {
            const size_t mark = entry.rfind(".tmp-");
            if (entry.size() < 2 || entry[0] != '.' || mark == std::string::npos || mark < 2)
                continue;
            if (names.count(entry.substr(1, mark - 1)))
                files::deleteFile(folder + "/" + entry);
        }
    }
}

} // namespace

void RecoverInterruptedRun(CommandContext& ctx, const std::string& datagroupFolder, const std::string& xmlPath,
                           const std::string& markerPath)
{
    const std::string folder = files::nativePath(datagroupFolder);
    const std::string journalPath = RunJournal::pathFor(folder);
    // A run killed while it started its journal leaves the journal's first lines under their own name.
    const std::string startingPath = RunJournal::startingPathFor(folder);
    if (files::pathExists(startingPath))
        files::deleteFile(startingPath);
    if (!files::pathExists(journalPath))
        return;
    const JournalContents journal = ReadRunJournal(journalPath);
    const auto cannot = [&journalPath](const std::string& why) {
        return Failure(ErrorCode::PathFileAccess, kSource,
                       "The recovery journal " + journalPath +
                           " of an interrupted conversion cannot be acted on: " + why + ".  Nothing was changed.");
    };
    const auto resolve = [&journal](const std::string& path) {
        return path.starts_with('/') || journal.workingFolder.empty() ? path : journal.workingFolder + "/" + path;
    };

    const auto here = IdentityOf(folder);
    const auto there = IdentityOf(resolve(journal.datagroupFolder));
    if (!here || !there || here->device != there->device || here->inode != there->inode)
        throw cannot("it was written for the datagroup " + journal.datagroupFolder + ", not for " + folder);

    const std::string xml = files::nativePath(xmlPath);
    const bool xmlThere = files::fileExists(xml);
    const std::string xmlBytes = xmlThere ? files::readAll(xml) : std::string();
    bool saved = false;
    if (!journal.original) {
        if (!xmlBytes.empty()) {
            if (!journal.saving)
                throw cannot("DATAGRP.XML was written by someone else since");
            saved = true;
        }
    } else if (!xmlThere) {
        throw cannot("DATAGRP.XML is missing");
    } else if (FingerprintOf(xmlBytes) != *journal.original) {
        if (!journal.saving)
            throw cannot("DATAGRP.XML was changed by someone else since");
        saved = true;
    }

    std::map<std::string, std::set<std::string>> temporaries{{folder, {"DATAGRP.XML"}}};
    for (const JournalContents::Move& move : journal.moves) {
        const std::string to = resolve(move.to);
        temporaries[folderOf(to)].insert(nameOf(to));
    }

    const std::string index = resolve(journal.indexFile);
    std::string text = "The conversion of " + index + " into this datagroup was interrupted";
    if (!saved) {
        // Every move is checked before any is undone: a journal that does not fit the disk is not
        // half applied.
        std::vector<std::pair<std::string, std::string>> back;
        std::string missing;
        int missingCount = 0;
        for (auto move = journal.moves.rbegin(); move != journal.moves.rend(); ++move) {
            const std::string from = resolve(move->from);
            const std::string to = resolve(move->to);
            if (files::pathExists(from))
                continue; // never moved, or already back
            if (files::fileExists(to)) {
                back.emplace_back(to, from);
            } else if (++missingCount <= 10) {
                missing += (missing.empty() ? "" : ", ") + from;
            }
        }
        if (missingCount > 0)
            throw cannot(std::to_string(missingCount) +
                         " file(s) are neither where they came from nor in the datagroup (" + missing +
                         (missingCount > 10 ? ", ..." : "") + ")");
        for (const auto& [to, from] : back) {
            const std::string fromFolder = folderOf(from);
            if (!files::folderExists(fromFolder))
                ctx.fileTools.CreateAnyFolder(fromFolder);
            files::moveFile(to, from);
        }
        if (!journal.original && xmlThere)
            files::deleteFile(xml); // the empty file the interrupted run began a new datagroup with
        text += " before DATAGRP.XML was saved.  " + std::to_string(back.size()) +
                " moved file(s) were put back where they came from, and DATAGRP.XML is as it was before; the "
                "index file can be converted again.";
    } else {
        text += " after DATAGRP.XML was saved with its documents.  Its remaining steps were done:";
        if (!ctx.ConfigFile.empty() && journal.configFile == ctx.ConfigFile) {
            SaveConfig(ctx, ctx.ConfigFile);
            text += " the configuration was saved,";
        }
        if (journal.removeProcessed && files::fileExists(index)) {
            // A file of that name that is not the one converted is another batch: it stays.
            if (IdentityOf(index) == journal.indexIdentity) {
                files::deleteFile(index);
                text += " the index file was removed,";
            } else {
                text += " the index file was kept because it has changed since,";
            }
        }
        files::createEmptyFile(files::nativePath(markerPath));
        text += " DATAGRP.SUBMIT was written.";
        const auto maxFiles = ParseInt32(ctx.settings.txtMaxFiles);
        if (maxFiles && journal.lastDocId > *maxFiles)
            ctx.flags.DatagroupFull = true;
    }
    deleteTemporaries(temporaries);
    files::deleteFile(journalPath);
    ctx.prompter.ask(Message{text + "\r(Journal: " + journalPath + ")", "Interrupted Conversion", MessageIcon::None,
                             MessageButtons::Ok});
}

} // namespace tollavar
