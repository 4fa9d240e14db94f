#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

// Looks at files without touching them: what a path or an open descriptor is, and whether a file holds
// given bytes. A look changes nothing and is no operation the fault plan counts; what goes wrong while
// looking is the business of the operation that follows.
namespace tollavar::files {

// stat(2) of the file `path` names, a link followed. Nothing when there is nothing to be found there.
std::optional<struct stat> statusOf(const std::string& path);

// fstat(2) of an open descriptor.
std::optional<struct stat> statusOf(int fd);

// The type number statfs(2) gives the file system that holds `path` (NFS_SUPER_MAGIC and so on).
std::optional<unsigned long> fileSystemTypeOf(const std::string& path);

// True when `path` is a regular file this process may write that holds exactly `bytes`. Anything in the
// way (missing, unreadable, read-only, another size) says no.
bool holdsExactly(const std::string& path, std::string_view bytes);

} // namespace tollavar::files
