#pragma once

#include <cerrno>
#include <string>
#include <string_view>

// Small pieces the file layer's own files share: raising a failure for the errno at hand and the checked
// syncs every safe write ends with. Not for use outside filetools.
namespace tollavar::files::posix {

[[noreturn]] void fail(std::string_view operation, std::string_view path, int error = errno);

void syncFd(int fd, const std::string& path);

// Makes a rename or a new name in `folder` durable. Some file systems refuse to sync a folder; the
// rename itself has then still happened, so that is no failure.
void syncFolder(const std::string& folder);

} // namespace tollavar::files::posix
