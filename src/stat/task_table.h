// The statistics object's task table: every tracked task's record by task id, walked in ascending
// id order. The ids lie in one sorted array, so that a sample's lookup is a binary search over
// contiguous memory; beside each id lies its record's place and a copy of the record's last tick,
// all that the sweep reads. The records themselves lie side by side in slabs of the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stat/task_record.h"

namespace quorrin {

// Places for records, as many as fill a page, in one block of the pool; a freed place is the next
// one taken. When the last record goes, so do the blocks.
class record_slab {
public:
    record_slab() = default;
    record_slab(const record_slab&) = delete;
    record_slab& operator=(const record_slab&) = delete;
    ~record_slab() { release(); }

    // Room for one record; throws std::bad_alloc.
    void* take();
    void give_back(void* place) noexcept;

private:
    union place {
        place* next_free;
        alignas(task_record) unsigned char bytes[sizeof(task_record)];
    };
    // A block and the pool's and the heap's headers in front of it within 4 KiB.
    static constexpr std::size_t kPlacesPerBlock = (4096 - 64) / sizeof(place);
    static_assert(kPlacesPerBlock >= 8, "a record the size of half a kilobyte or more");
    struct block {
        block* next;
        place places[kPlacesPerBlock];
    };
    void release() noexcept;

    block* m_blocks = nullptr;
    place* m_free = nullptr;
    std::size_t m_taken = 0;
};

class task_table {
public:
    // What a walk over the table yields, in the shape of a map's entry.
    struct entry {
        std::int32_t first;   // the task id
        task_record* second;  // owned by the table
    };

    class iterator {
    public:
        using value_type = entry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = entry;
        using iterator_category = std::forward_iterator_tag;
        struct arrow {
            entry e;
            const entry* operator->() const { return &e; }
        };

        iterator(const task_table* table, std::size_t index) : m_table(table), m_index(index) {}
        entry operator*() const { return {m_table->m_ids[m_index], m_table->m_places[m_index].record}; }
        arrow operator->() const { return {**this}; }
        iterator& operator++() {
            ++m_index;
            return *this;
        }
        bool operator==(const iterator& o) const { return m_index == o.m_index; }
        bool operator!=(const iterator& o) const { return m_index != o.m_index; }
        std::size_t index() const { return m_index; }

    private:
        const task_table* m_table;
        std::size_t m_index;
    };

    // A record made for a task and not yet in the table, with the table's room for it: inserted,
    // or destroyed again with the holder.
    class pending {
    public:
        pending(pending&& other) noexcept;
        pending& operator=(pending&&) = delete;
        ~pending();
        task_record& record() { return *m_record; }

    private:
        friend class task_table;
        pending(task_table& table, std::int32_t id, task_record* record) : m_table(&table), m_id(id), m_record(record) {}
        task_table* m_table;
        std::int32_t m_id;
        task_record* m_record;  // null once inserted
    };

    task_table() = default;
    task_table(const task_table&) = delete;
    task_table& operator=(const task_table&) = delete;
    ~task_table() { clear(); }

    std::size_t size() const { return m_ids.size(); }
    bool empty() const { return m_ids.empty(); }
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, m_ids.size()}; }
    iterator find(std::int32_t id) const;
    std::size_t count(std::int32_t id) const { return find(id) != end(); }
    // The task's record; null when the id is not in the table.
    task_record* at(std::int32_t id) const;

    // A new record for id, which must not be in the table, and room to insert it: everything that
    // can run out of memory, before the table changes. Throws std::bad_alloc.
    pending make(std::int32_t id);
    void insert(pending&& record) noexcept;
    // The record at it has been sampled: the sweep's copy of its last tick follows.
    void sampled(iterator it) noexcept { m_places[it.index()].last_tick = m_places[it.index()].record->last_tick; }
    void erase(iterator it) noexcept;
    // Drops every record whose last tick is_stale says is stale: each is handed to drop, in
    // ascending id order, before any goes. is_stale must answer the same for a tick both times.
    template <class IsStale, class Drop>
    void erase_stale(IsStale&& is_stale, Drop&& drop) noexcept;
    // Every record goes, lowest id first.
    void clear() noexcept;

private:
    struct place {
        task_record* record;
        std::uint32_t last_tick;
    };
    std::size_t lower_bound(std::int32_t id) const;
    void destroy(task_record* record) noexcept;

    std::vector<std::int32_t> m_ids;  // ascending
    std::vector<place> m_places;      // beside each id
    record_slab m_slab;
};

template <class IsStale, class Drop>
void task_table::erase_stale(IsStale&& is_stale, Drop&& drop) noexcept {
    // Every stale record is handed to drop first, with the table still whole: drop may call out
    // of the module, and what runs meanwhile finds no record half gone. A sweep that finds none
    // stale reads each place once.
    std::size_t first = m_ids.size();
    for (std::size_t i = 0; i < m_ids.size(); ++i) {
        if (!is_stale(m_places[i].last_tick)) continue;
        if (first == m_ids.size()) first = i;
        drop(*m_places[i].record);
    }
    if (first == m_ids.size()) return;
    std::size_t kept = first;
    for (std::size_t i = first; i < m_ids.size(); ++i) {
        if (is_stale(m_places[i].last_tick)) {
            destroy(m_places[i].record);
            continue;
        }
        m_ids[kept] = m_ids[i];
        m_places[kept] = m_places[i];
        ++kept;
    }
    m_ids.resize(kept);
    m_places.resize(kept);
}

}  // namespace quorrin
