#include "filetools/FileTools.h"

#include "filetools/Beneath.h"
#include "filetools/DescriptorsElsewhere.h"
#include "filetools/DocumentOpener.h"
#include "filetools/Failure.h"
#include "filetools/FileSystem.h"
#include "filetools/SettingsStore.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tollavar {

using files::isSeparator;

namespace {

size_t lastSeparator(std::string_view path)
{
    return path.find_last_of("/\\");
}

} // namespace

FileTools::FileTools(SettingsStore& store, DocumentOpener& opener) : m_store(store), m_opener(opener)
{
}

std::string FileTools::folderPart(std::string_view path)
{
    size_t sep = lastSeparator(path);
    return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep));
}

std::string FileTools::namePart(std::string_view path)
{
    size_t sep = lastSeparator(path);
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string FileTools::extensionPart(std::string_view path)
{
    size_t sep = lastSeparator(path);
    std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}

std::string FileTools::zeroPadded(long long number, int width)
{
    const bool negative = number < 0;
    // Through unsigned, so that the most negative number has digits too.
    unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(number) : static_cast<unsigned long long>(number);
    std::string digits = std::to_string(magnitude);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return negative ? "-" + digits : digits;
}

bool FileTools::isFullPath(std::string_view path)
{
    if (path.empty())
        return false;
    if (path[0] == '/')
        return true;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return true; // \\server\share
    return path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
           isSeparator(path[2]);
}

void FileTools::createFolderPath(const std::string& folder) const
{
    const std::string native = files::nativePath(folder);
    if (native.empty() || files::folderExists(native))
        return;
    // Every prefix that ends before a separator, from the top down.
    for (size_t pos = native.find('/', 1);; pos = native.find('/', pos + 1)) {
        const std::string prefix = pos == std::string::npos ? native : native.substr(0, pos);
        if (!prefix.empty() && !files::folderExists(prefix)) {
            if (files::pathExists(prefix))
                throw systemFailure(ENOTDIR, "Create Folder", native);
            try {
                files::createFolder(prefix);
            } catch (const Failure&) {
                // Someone else may have made it meanwhile; only a folder that is still missing fails.
                if (!files::folderExists(prefix))
                    throw;
            }
        }
        if (pos == std::string::npos)
            break;
    }
}

bool FileTools::isFileInUse(const std::string& file) const
{
    const std::string native = files::nativePath(file);
    // A look, not an operation the fault plan counts: whatever goes wrong here is the business of the
    // conversion's own open that follows.
    const files::UniqueFd held(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = held.get();
    if (fd < 0)
        return false; // a file that cannot be opened is not held by anyone we could wait for
    struct stat st
    {
    };
    ::fstat(fd, &st);
    // A write lease is refused with EAGAIN while any other descriptor on the file is open. Another
    // program opening the file while we hold the lease breaks it, and the kernel tells the holder by a
    // signal: SIGIO unless told otherwise, which would end this process. SIGURG is ignored unless a
    // handler is installed, so the break passes unnoticed; the lease is given back at once anyway.
    if (::fcntl(fd, F_SETSIG, SIGURG) == 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    const int error = errno;
    if (error == EAGAIN || error == EBUSY)
        return true;
    return files::heldElsewhere(st, files::Sought::AnyDescriptor) == files::HeldElsewhere::Yes;
}

std::string FileTools::readStringSetting(const std::string& application, const std::string& section,
                                         const std::string& key, const std::string& defaultValue) const
{
    return m_store.read(application, section, key, defaultValue);
}

void FileTools::openDocument(const std::string& documentOrAddress) const
{
    if (!m_opener.open(documentOrAddress))
        throw Failure(ErrorCode::FileNotFound, "StartDoc", "Cannot open: " + documentOrAddress);
}

} // namespace tollavar
