#include "batch/CommandRecord.h"

#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/JournalFile.h"

#include <sstream>

namespace tollavar {

using namespace journal;

namespace {

constexpr std::string_view kMagicLine = "TOLLAVAR CONVERT COMMAND 1\n";

std::string line(std::string_view kind, const CommandRecord::IndexFile& file)
{
    std::string text(kind);
    text += '\t';
    appendEscaped(text, file.path);
    const FileIdentity id = file.identity.value_or(FileIdentity{});
    text += "\t" + std::to_string(id.device) + "\t" + std::to_string(id.inode) + "\t" + std::to_string(id.size) + "\t" +
            std::to_string(id.modifiedNs) + "\t" + std::to_string(file.contents.size) + "\t" +
            hex(file.contents.hash, 16) + "\n";
    return text;
}

std::optional<CommandRecord::IndexFile> parseFile(const std::vector<std::string>& f)
{
    if (f.size() != 8)
        return std::nullopt;
    const auto path = unescape(f[1]);
    const auto device = unsignedNumber(f[2]), inode = unsignedNumber(f[3]);
    const auto size = signedNumber(f[4]), modified = signedNumber(f[5]);
    const auto contentSize = unsignedNumber(f[6]), hash = unsignedNumber(f[7], 16);
    if (!path || !device || !inode || !size || !modified || !contentSize || !hash)
        return std::nullopt;
    CommandRecord::IndexFile file{*path, FileIdentity{*device, *inode, *size, *modified}, {*contentSize, *hash}};
    if (file.identity->size < 0)
        file.identity.reset();
    return file;
}

} // namespace

CommandRecord::CommandRecord(const std::string& datagroupFolder, const std::string& configFile)
    : m_path(files::nativePath(datagroupFolder) + "/.DATAGRP.COMMAND-" + hex(fingerprintOf(configFile).hash, 16)),
      m_sharedPath(files::nativePath(datagroupFolder) + "/.DATAGRP.COMMAND"), m_configFile(configFile)
{
}

CommandRecord::IndexFile CommandRecord::describe(const std::string& path)
{
    // Native, as the folder listing named it: a backslash there belongs to the name.
    return IndexFile{path, identityOf(path), fingerprintOf(files::readAll(path))};
}

std::vector<CommandRecord::IndexFile> CommandRecord::finishedEarlier(const std::string& configFile) const
{
    if (std::optional<std::vector<IndexFile>> own = readFinished(m_path, configFile))
        return *own;
    return readFinished(m_sharedPath, configFile).value_or(std::vector<IndexFile>{});
}

// Nothing when there is no record at `path`, or it is another configuration's.
std::optional<std::vector<CommandRecord::IndexFile>> CommandRecord::readFinished(const std::string& path,
                                                                                 const std::string& configFile) const
{
    std::optional<files::OpenedJournal> opened = files::openJournalForRecovery(path);
    if (!opened)
        return std::nullopt;
    const std::string& bytes = opened->bytes;
    const size_t sumAt = bytes.rfind("sum\t");
    // Written whole, so only a hand-made or damaged record fails this: it is then no record at all.
    if (!bytes.starts_with(kMagicLine) || sumAt == std::string::npos ||
        bytes.substr(sumAt) != "sum\t" + hex(checksum(bytes.data(), sumAt), 8) + "\n")
        return std::nullopt;
    std::vector<IndexFile> finished;
    std::string config;
    std::istringstream lines(bytes.substr(kMagicLine.size(), sumAt - kMagicLine.size()));
    for (std::string text; std::getline(lines, text);) {
        std::vector<std::string> f;
        std::istringstream fields(text);
        for (std::string field; std::getline(fields, field, '\t');)
            f.push_back(field);
        if (f.size() == 2 && f[0] == "config") {
            config = unescape(f[1]).value_or("");
        } else if (!f.empty() && f[0] == "done") {
            if (const auto file = parseFile(f))
                finished.push_back(*file);
        }
    }
    if (config != configFile)
        return std::nullopt;
    return finished;
}

void CommandRecord::start(const std::string& configFile, std::vector<IndexFile> finished)
{
    m_configFile = configFile;
    m_selected.clear();
    m_finished = std::move(finished);
    m_started = true;
    write();
}

void CommandRecord::finish(const IndexFile& file)
{
    if (!m_started)
        return;
    m_finished.push_back(file);
    write();
}

void CommandRecord::remove()
{
    if (files::pathExists(m_path))
        files::deleteFile(m_path);
    if (files::pathExists(m_sharedPath) && readFinished(m_sharedPath, m_configFile))
        files::deleteFile(m_sharedPath);
    m_started = false;
}

void CommandRecord::write() const
{
    std::string text(kMagicLine);
    text += "config\t";
    appendEscaped(text, m_configFile);
    text += "\n";
    for (const IndexFile& file : m_selected)
        text += line("selected", file);
    for (const IndexFile& file : m_finished)
        text += line("done", file);
    text += "sum\t" + hex(checksum(text.data(), text.size()), 8) + "\n";
    files::writeWholeFile(m_path + ".new", m_path, text);
}

} // namespace tollavar
