#pragma once

namespace tollavar::files {

// The one owner of an open descriptor in the program: it closes it on every exit path, and it moves but
// never copies. Close it by hand only where the answer of close(2) matters (a write's last chance to
// report an error): release() it into that call.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return m_fd; }
    bool isOpen() const noexcept { return m_fd >= 0; }
    int release() noexcept;
    void reset(int fd = -1) noexcept;

private:
    int m_fd = -1;
};

} // namespace tollavar::files
