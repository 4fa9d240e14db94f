#pragma once

// The byte-level parts of DatagroupDocument, shared by the files that make it up.

#include "engine/DatagroupDocument.h"
#include "engine/DatagroupXmlText.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace tollavar {

// A growing byte buffer that gives its memory back to the allocator by realloc, which moves large
// blocks by remapping their pages rather than copying them: a doubling std::string would need twice
// the datagroup's size at the moment it grows.
class DatagroupDocument::Bytes
{
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(m_data); }

    void append(std::string_view text)
    {
        if (text.size() > m_capacity - m_size)
            reserve(m_size + text.size());
        if (!text.empty())
            std::memcpy(m_data + m_size, text.data(), text.size());
        m_size += text.size();
    }
    void truncate(size_t size) { m_size = std::min(size, m_size); }
    // Room for `count` more bytes, written by the caller, who then sets the size with resize.
    char* room(size_t count)
    {
        if (count > m_capacity - m_size)
            reserve(m_size + count);
        return m_data + m_size;
    }
    void resize(size_t size) { m_size = size; }
    size_t size() const { return m_size; }
    char* data() { return m_data; }
    std::string_view view() const { return {m_data, m_size}; }

private:
    void reserve(size_t needed)
    {
        const size_t capacity = std::max(needed, m_capacity + m_capacity / 2 + 4096);
        void* grown = std::realloc(m_data, capacity);
        if (!grown)
            throw datagroupxml::outOfMemory();
        m_data = static_cast<char*>(grown);
        m_capacity = capacity;
    }

    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// The current document as its children will be written. OBJECT's children go on arriving after
// fields that follow it (a page count column after an index field), so OBJECT is kept apart and put in
// its place when the document is written.
struct DatagroupDocument::Open
{
    bool live = false;
    long docId = 0;
    std::string children;
    std::string object;
    size_t objectAt = std::string::npos;
    size_t file1At = std::string::npos;
    size_t file1Length = 0;
};

} // namespace tollavar
