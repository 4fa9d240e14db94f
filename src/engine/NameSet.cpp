#include "engine/NameSet.h"

#include <algorithm>
#include <functional>

namespace tollavar {

uint64_t NameSet::hashOf(std::string_view name)
{
    const uint64_t hash = std::hash<std::string_view>{}(name);
    return hash == 0 ? 1 : hash;
}

size_t NameSet::find(std::string_view name, uint64_t hash) const
{
    const size_t mask = m_slots.size() - 1;
    size_t at = hash & mask;
    for (; m_slots[at].hash != 0; at = (at + 1) & mask) {
        const Slot& slot = m_slots[at];
        if (slot.hash == hash && std::string_view(m_text).substr(slot.offset, slot.length) == name)
            break;
    }
    return at;
}

bool NameSet::contains(std::string_view name) const
{
    return m_count != 0 && m_slots[find(name, hashOf(name))].hash != 0;
}

bool NameSet::insert(std::string_view name)
{
    if (2 * (m_count + 1) > m_slots.size())
        grow();
    const uint64_t hash = hashOf(name);
    Slot& slot = m_slots[find(name, hash)];
    if (slot.hash != 0)
        return false;
    slot = Slot{static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(name.size()), hash};
    m_text.append(name);
    ++m_count;
    return true;
}

void NameSet::clear()
{
    if (m_count == 0)
        return;
    m_text.clear();
    std::fill(m_slots.begin(), m_slots.end(), Slot{});
    m_count = 0;
}

void NameSet::grow()
{
    std::vector<Slot> old(m_slots.empty() ? 64 : 2 * m_slots.size());
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (slot.hash == 0)
            continue;
        size_t at = slot.hash & mask;
        while (m_slots[at].hash != 0)
            at = (at + 1) & mask;
        m_slots[at] = slot;
    }
}

} // namespace tollavar
