#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <cstdlib>
#include <sys/stat.h>

namespace tollavar::testing {

// A scratch folder on /dev/shm: a file system of its own wherever the temporary folder is on disk.
class ShmDir
{
public:
    ShmDir()
    {
        char pattern[] = "/dev/shm/tollavar-test-XXXXXX";
        if (::mkdtemp(pattern))
            m_path = pattern;
    }
    ~ShmDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    ShmDir(const ShmDir&) = delete;
    ShmDir& operator=(const ShmDir&) = delete;

    // True when it was made and lies on another file system than `other`.
    bool separateFrom(const std::string& other) const
    {
        struct stat a
        {
        };
        struct stat b
        {
        };
        return !m_path.empty() && ::stat(m_path.c_str(), &a) == 0 && ::stat(other.c_str(), &b) == 0 &&
               a.st_dev != b.st_dev;
    }
    const std::string& path() const { return m_path; }
    std::string operator/(std::string_view relative) const { return m_path + "/" + std::string(relative); }

private:
    std::string m_path;
};

} // namespace tollavar::testing
