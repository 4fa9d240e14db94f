#include "engine/DatagroupCache.h"

#include "engine/DatagroupDocument.h"
#include "filetools/FileStatus.h"

#include <sys/stat.h>

namespace tollavar {

DatagroupCache::DatagroupCache() = default;
DatagroupCache::~DatagroupCache() = default;

std::optional<DatagroupCache::Identity> DatagroupCache::identify(const std::string& path)
{
    const std::optional<struct stat> status = files::statusOf(path);
    if (!status || !S_ISREG(status->st_mode))
        return std::nullopt;
    return Identity{status->st_dev,          status->st_ino,         status->st_size,        status->st_mtim.tv_sec,
                    status->st_mtim.tv_nsec, status->st_ctim.tv_sec, status->st_ctim.tv_nsec};
}

std::unique_ptr<DatagroupDocument> DatagroupCache::take(const std::string& path)
{
    std::unique_ptr<DatagroupDocument> document = std::move(m_document);
    if (!document || path != m_path)
        return nullptr;
    if (m_onDisk && identify(path) != m_identity)
        return nullptr;
    return document;
}

void DatagroupCache::keep(const std::string& path, std::unique_ptr<DatagroupDocument> document, bool onDisk)
{
    m_document.reset();
    m_onDisk = onDisk;
    if (onDisk) {
        const std::optional<Identity> identity = identify(path);
        if (!identity)
            return;
        m_identity = *identity;
    }
    m_path = path;
    m_document = std::move(document);
}

} // namespace tollavar
