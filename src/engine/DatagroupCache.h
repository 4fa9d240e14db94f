#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tollavar {

class DatagroupDocument;

// The DATAGRP.XML document that one index file of a Convert command saved, kept for the next index
// file of the same command, so that a batch of many index files does not read and parse the growing
// datagroup once for each. It is handed out only while the file on disk is the very one it saved: same
// device, inode, size and change and modification times.
class DatagroupCache
{
public:
    DatagroupCache();
    ~DatagroupCache();
    DatagroupCache(const DatagroupCache&) = delete;
    DatagroupCache& operator=(const DatagroupCache&) = delete;

    // The document last saved to `path`, if the file is still what it saved; else null. Either way the
    // cache is empty afterwards: a run that fails must not leave a document behind.
    std::unique_ptr<DatagroupDocument> take(const std::string& path);
    // Keeps a document that has just been saved to `path`; one a dry run kept without saving (`onDisk`
    // false) is handed out whatever the file on disk is.
    void keep(const std::string& path, std::unique_ptr<DatagroupDocument> document, bool onDisk = true);

private:
    struct Identity
    {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long modifiedSeconds = 0, modifiedNanoseconds = 0, changedSeconds = 0, changedNanoseconds = 0;
        bool operator==(const Identity&) const = default;
    };
    static std::optional<Identity> identify(const std::string& path);

    std::string m_path;
    Identity m_identity;
    std::unique_ptr<DatagroupDocument> m_document;
    bool m_onDisk = true;
};

} // namespace tollavar
