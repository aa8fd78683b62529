#include "stat/task_table.h"

#include <new>

namespace quorrin {

void* record_slab::take() {
    if (!m_free) {
        auto* fresh = static_cast<block*>(::operator new(sizeof(block)));
        fresh->next = m_blocks;
        m_blocks = fresh;
        // Taken in address order, so that records made one after another lie side by side.
        for (std::size_t i = kPlacesPerBlock; i-- > 0;) {
            fresh->places[i].next_free = m_free;
            m_free = &fresh->places[i];
        }
    }
    place* p = m_free;
    m_free = p->next_free;
    ++m_taken;
    return p;
}

void record_slab::give_back(void* taken) noexcept {
    auto* p = static_cast<place*>(taken);
    p->next_free = m_free;
    m_free = p;
    if (--m_taken == 0) release();
}

void record_slab::release() noexcept {
    while (m_blocks) {
        block* next = m_blocks->next;
        ::operator delete(m_blocks);
        m_blocks = next;
    }
    m_free = nullptr;
}

task_table::pending::pending(pending&& other) noexcept
    : m_table(other.m_table), m_id(other.m_id), m_record(other.m_record) {
    other.m_record = nullptr;
}

task_table::pending::~pending() {
    if (m_record) m_table->destroy(m_record);
}

std::size_t task_table::lower_bound(std::int32_t id) const {
    // Without a branch on the comparison: which half holds the id is data, not a prediction.
    const std::int32_t* const ids = m_ids.data();
    const std::int32_t* base = ids;
    std::size_t length = m_ids.size();
    if (length == 0) return 0;
    while (length > 1) {
        const std::size_t half = length / 2;
        base += static_cast<std::size_t>(base[half - 1] < id) * half;
        length -= half;
    }
    return static_cast<std::size_t>(base - ids) + (*base < id);
}

task_table::iterator task_table::find(std::int32_t id) const {
    const std::size_t at = lower_bound(id);
    return at < m_ids.size() && m_ids[at] == id ? iterator(this, at) : end();
}

task_record* task_table::at(std::int32_t id) const {
    const iterator found = find(id);
    return found == end() ? nullptr : found->second;
}

task_table::pending task_table::make(std::int32_t id) {
    // Room grows by doubling, so that registering stays cheap on average.
    if (m_ids.size() == m_ids.capacity()) m_ids.reserve(m_ids.empty() ? 16 : 2 * m_ids.size());
    if (m_places.size() == m_places.capacity()) m_places.reserve(m_places.empty() ? 16 : 2 * m_places.size());
    void* place = m_slab.take();
    try {
        return pending(*this, id, new (place) task_record());
    } catch (...) {
        m_slab.give_back(place);
        throw;
    }
}

void task_table::insert(pending&& record) noexcept {
    const std::size_t at = lower_bound(record.m_id);
    m_ids.insert(m_ids.begin() + static_cast<std::ptrdiff_t>(at), record.m_id);
    m_places.insert(m_places.begin() + static_cast<std::ptrdiff_t>(at), place{record.m_record, record.m_record->last_tick});
    record.m_record = nullptr;
}

void task_table::erase(iterator it) noexcept {
    const auto at = static_cast<std::ptrdiff_t>(it.index());
    task_record* record = m_places[it.index()].record;
    m_ids.erase(m_ids.begin() + at);
    m_places.erase(m_places.begin() + at);
    destroy(record);
}

void task_table::clear() noexcept {
    for (const place& p : m_places) destroy(p.record);
    m_ids.clear();
    m_places.clear();
}

void task_table::destroy(task_record* record) noexcept {
    record->~task_record();
    m_slab.give_back(record);
}

}  // namespace quorrin
