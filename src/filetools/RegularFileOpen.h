#pragma once

#include "filetools/Beneath.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tollavar::files {

// Whether a symbolic link at the name may stand for the file.
enum class LinkRule
{
    Refuse,              // the program's own files (lock, journal): a link there was planted
    FollowToRegularFile, // files an operator may link into place (index files, DATAGRP.XML)
};

// Opens a file the program expects to be a plain file, so that nothing planted at its name can hang
// or redirect the run: the open never blocks (a pipe at the name would wait for a writer for ever),
// never makes a terminal ours, and anything but a regular file (a folder, a pipe, a device, or a link
// the rule refuses) is raised as a Failure of `operation` that names the path and what is there.
// `flags` are open(2)'s access and creation flags; the descriptor is returned blocking again.
UniqueFd openRegularFile(const std::string& path, int flags, LinkRule links, std::string_view operation,
                         mode_t mode = 0666);

// The same for the file `name` in the folder open at `folderFd`; `shown` is its path as failures name it.
UniqueFd openRegularFileAt(int folderFd, const std::string& name, const std::string& shown, int flags, LinkRule links,
                           std::string_view operation, mode_t mode = 0666);

// The bytes of the regular file at `path` (a link followed), or nothing when there is none or it cannot
// be read. Only for looking whether a file changed: the look is no operation a fault plan counts, and
// what goes wrong is the business of the operation that follows.
std::optional<std::string> peekRegularFile(const std::string& path);

} // namespace tollavar::files
