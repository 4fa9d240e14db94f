#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// A set of names kept in one text, for the few thousand paths of a batch of moves: looked up and added
// once a line, it must cost no allocation once it has grown to a batch's size, and emptying it keeps
// its room for the next batch.
class NameSet
{
public:
    bool contains(std::string_view name) const;
    // False when the name was in the set already.
    bool insert(std::string_view name);
    void clear();
    bool empty() const { return m_count == 0; }

private:
    struct Slot
    {
        uint32_t offset = 0;
        uint32_t length = 0;
        uint64_t hash = 0; // 0: a free slot
    };
    static uint64_t hashOf(std::string_view name);
    // The slot that holds the name, or the free slot where it would go.
    size_t find(std::string_view name, uint64_t hash) const;
    void grow();

    std::string m_text;
    std::vector<Slot> m_slots; // a power of two long, at most half of them used
    size_t m_count = 0;
};

} // namespace tollavar
