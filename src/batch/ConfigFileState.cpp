#include "batch/ConfigFileState.h"

#include "batch/CommandContext.h"
#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"
#include "filetools/FileStatus.h"
#include "filetools/FileSystem.h"
#include "filetools/RegularFileOpen.h"

#include <filesystem>
#include <sys/stat.h>

namespace tollavar {

namespace {

struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
};

Identity identityOf(const std::string& path)
{
    const std::optional<struct stat> st = files::statusOf(path);
    if (!st)
        return {};
    return Identity{st->st_dev, st->st_ino};
}

// Takes `theirs` where `ours` still holds what both started from.
template <typename Value> bool merge(Value& ours, const Value& base, const Value& theirs)
{
    if (ours != base || ours == theirs)
        return false;
    ours = theirs;
    return true;
}

bool mergeSettings(ConversionSettings& ours, const ConversionSettings& base, const ConversionSettings& theirs)
{
    bool changed = false;
    for (std::string ConversionSettings::*text :
         {&ConversionSettings::indexFiles, &ConversionSettings::xmlFilePath, &ConversionSettings::datagroupNumber,
          &ConversionSettings::companyName, &ConversionSettings::companyId, &ConversionSettings::projectId,
          &ConversionSettings::projectName, &ConversionSettings::fieldNames, &ConversionSettings::fieldTypes,
          &ConversionSettings::maxDocuments, &ConversionSettings::imageFolder, &ConversionSettings::delimiter})
        changed |= merge(ours.*text, base.*text, theirs.*text);
    for (bool ConversionSettings::*flag :
         {&ConversionSettings::removeProcessedFiles, &ConversionSettings::allowDuplicates,
          &ConversionSettings::skipHeaderLine, &ConversionSettings::promptWhenFinished,
          &ConversionSettings::autoCreateSubfolders})
        changed |= merge(ours.*flag, base.*flag, theirs.*flag);
    return changed;
}

} // namespace

void followConfigFolder(CommandContext& ctx)
{
    std::string& base = ctx.settings.pathBase;
    base.clear();
    if (ctx.configFile.empty())
        return;
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(files::nativePath(ctx.configFile), error);
    // Without a current folder a relative file has no folder either; its paths stay as they are.
    if (error)
        return;
    base = file.parent_path().lexically_normal().string();
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
}

void rememberConfigFile(CommandContext& ctx, const std::string& path, std::string bytes)
{
    const Identity identity = identityOf(files::nativePath(path));
    ctx.configFileState = ConfigFileState{path, std::move(bytes), identity.device, identity.inode};
}

bool refreshFromConfigFile(CommandContext& ctx)
{
    ConfigFileState& seen = ctx.configFileState;
    if (ctx.configFile.empty() || seen.path != ctx.configFile)
        return false;
    const std::string path = files::nativePath(ctx.configFile);
    const Identity identity = identityOf(path);
    std::optional<std::string> now = files::peekRegularFile(path);
    if (!now || (*now == seen.bytes && identity.device == seen.device && identity.inode == seen.inode))
        return false;
    std::string bytes = std::move(*now);
    ConversionSettings base = ctx.settings;
    ConversionSettings theirs = ctx.settings;
    try {
        applyConfigText(seen.bytes, base);
        applyConfigText(bytes, theirs);
    } catch (const Failure&) {
        return false;
    }
    const bool changed = mergeSettings(ctx.settings, base, theirs);
    seen = ConfigFileState{seen.path, std::move(bytes), identity.device, identity.inode};
    return changed;
}

} // namespace tollavar
