#include "filetools/FileEffects.h"

#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"
#include "filetools/JournalFile.h"

namespace tollavar::files {

EntryLook FileEffects::kindOfEntry(int folderFd, const std::string& name, const std::string&)
{
    return folderFd < 0 ? EntryLook{EntryKind::Missing} : entryKindAt(folderFd, name);
}

bool FileEffects::fileExists(const std::string& path)
{
    return files::fileExists(path);
}

bool FileEffects::folderExists(const std::string& path)
{
    return files::folderExists(path);
}

std::vector<std::string> FileEffects::listFiles(const std::string& folder)
{
    return files::listFiles(folder);
}

MoveOutcome FileEffects::move(const FileAt& from, const FileAt& to, CopySteps* steps)
{
    return moveFileAt(from, to, steps);
}

void FileEffects::deleteAt(const FileAt& file)
{
    deleteFileAt(file.folder, file.name, file.shown);
}

void FileEffects::deleteFile(const std::string& path)
{
    files::deleteFile(path);
}

void FileEffects::createFolder(const FileTools& fileTools, const std::string& folder)
{
    fileTools.createFolderPath(folder);
}

bool FileEffects::removeEmptyFolder(const std::string& path)
{
    return files::removeEmptyFolder(path);
}

void FileEffects::writeWhole(const std::string& path, std::string_view bytes)
{
    writeFileAtomic(path, bytes);
}

void FileEffects::createEmptyFile(const std::string& path)
{
    files::createEmptyFile(path);
}

void FileEffects::holdOpen(HeldFile& held, const std::string& path)
{
    held.openForAppend(path);
}

std::string FileEffects::setJournalAside(const std::string& path, const std::string& folder, const std::string& name)
{
    return moveJournalInto(path, folder, name);
}

FileEffects& diskEffects()
{
    static FileEffects disk;
    return disk;
}

} // namespace tollavar::files
