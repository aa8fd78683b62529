// One kept speed sample, the two bounded heaps that keep the slowest and the fastest samples,
// and the computations that fill a point from the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace quorrin {

// Bytes per second: bytes / seconds in unsigned division, low 32 bits; with 0 seconds the low 32
// bits of the bytes themselves.
inline std::uint32_t speed_of(std::uint64_t bytes, std::uint32_t seconds) {
    return static_cast<std::uint32_t>(seconds == 0 ? bytes : bytes / seconds);
}

using cdn_ip_set = std::set<std::uint32_t>;

// Ping time per CDN address, ascending by address (it is filled from the ascending address set),
// -1 where the ping service gave none.
using ping_map = std::vector<std::pair<std::uint32_t, std::int32_t>>;

struct speed_point {
    std::uint32_t time = 0;     // click_time + whole seconds since the click
    std::uint32_t elapsed = 0;  // seconds covered: since the previous sample, or before the click
    std::uint64_t delta_bytes = 0;
    std::uint64_t already_dl_bytes = 0;
    std::uint32_t g_dl_speed = 0;
    std::uint32_t g_up_speed = 0;  // directly after g_dl_speed: GetDownloadSpeed may write a pair
    std::uint32_t avgs = 0;        // the ranking key
    std::int32_t g_task_count = 0;
    std::uint16_t member_task_count = 0;
    ping_map ping_cdn_list;
};
static_assert(offsetof(speed_point, g_up_speed) == offsetof(speed_point, g_dl_speed) + sizeof(std::uint32_t),
              "g_up_speed must follow g_dl_speed in memory");

// A binary heap of points on avgs, with exactly the standard push-heap and pop-heap steps, so
// that ties come out in the same order on every standard library.
class speed_point_heap {
public:
    enum class order { slowest_kept, fastest_kept };  // max-heap (low list), min-heap (high list)

    explicit speed_point_heap(order o) : m_order(o) {}

    std::size_t size() const { return m_points.size(); }
    bool empty() const { return m_points.empty(); }
    const speed_point& top() const { return m_points.front(); }
    // Whether the list, holding at most count points, takes a sample of this speed: while it has
    // room, or when the sample ranks before its top. Reads no point: the top's key is kept here.
    bool takes(std::uint32_t avgs, std::uint32_t count) const;
    // Asks for the points' memory ahead of a change, so that it arrives while the host answers
    // the sample's other calls rather than during the heap walk.
    void prefetch() const;
    void push(const speed_point& point);
    void pop();
    // The two halves of a push, and a pop that keeps its point: taking a new point into the slot
    // that open_top leaves (the old top, at the back) reuses that point's ping list storage.
    // open_back appends an empty slot; open_top does the pop steps but leaves the old top at the
    // back, where close_back then moves whatever the slot holds up into its place.
    speed_point& open_back();
    speed_point& open_top();
    void close_back();
    // Drops the slot that open_back or open_top left at the back, unclosed.
    void discard_back();
    void reserve(std::size_t n) { m_points.reserve(n); }
    std::size_t capacity() const { return m_points.capacity(); }

private:
    // "a lies below b" (nearer the leaves) on two speeds, one comparison object per order, so that
    // each heap walk is compiled for its order and the choice between siblings needs no branch.
    struct slower_than {
        bool operator()(std::uint32_t a, std::uint32_t b) const { return a < b; }
    };
    struct faster_than {
        bool operator()(std::uint32_t a, std::uint32_t b) const { return a > b; }
    };
    template <class F>
    decltype(auto) in_order(F&& f) const {
        return m_order == order::slowest_kept ? f(slower_than{}) : f(faster_than{});
    }
    void keep_top() { m_top_avgs = m_points.empty() ? 0 : m_points.front().avgs; }

    order m_order;
    std::uint32_t m_top_avgs = 0;  // m_points.front().avgs, once every change is closed
    std::vector<speed_point> m_points;
};

inline bool speed_point_heap::takes(std::uint32_t avgs, std::uint32_t count) const {
    if (m_points.size() < count) return true;
    if (m_points.empty()) return false;
    return in_order([&](auto below) { return below(avgs, m_top_avgs); });
}

// Offers p to both lists; complete runs once, on the copy of p that the first list taking it
// stores, and not at all when neither does (the other list then stores a copy of the completed
// point). Returns whether a list took it. A list that is full takes p in the slot of the point
// it evicts, so that a taken sample costs no allocation once the lists are full.
template <class Complete>
bool offer(speed_point_heap& low, std::uint32_t low_count, speed_point_heap& high, std::uint32_t high_count,
           const speed_point& p, Complete&& complete) {
    const bool low_has_room = low.size() < low_count;
    const bool into_low = low.takes(p.avgs, low_count);
    const bool high_has_room = high.size() < high_count;
    const bool into_high = high.takes(p.avgs, high_count);
    if (!into_low && !into_high) return false;
    const speed_point* completed = nullptr;
    speed_point_heap* opened[2] = {nullptr, nullptr};
    auto take = [&](speed_point_heap& list, bool has_room) {
        speed_point& slot = has_room ? list.open_back() : list.open_top();
        opened[opened[0] ? 1 : 0] = &list;
        if (completed) {
            slot = *completed;
        } else {
            slot = p;
            complete(slot);
            completed = &slot;
        }
    };
    try {
        if (into_low) take(low, low_has_room);
        if (into_high) take(high, high_has_room);
    } catch (...) {
        // Out of memory part-way: the sample is lost, and a list that was evicting loses the
        // evicted point, but both stay valid heaps.
        for (speed_point_heap* list : opened) {
            if (list) list->discard_back();
        }
        throw;
    }
    // Only now: closing moves the low list's slot, which the high list copied from.
    if (into_low) low.close_back();
    if (into_high) high.close_back();
    return true;
}

// Global download and upload speeds over p.elapsed, measured against the record's running totals
// (which it then moves on). Without the peer network service, GetDownloadSpeed alone.
void update_global_speeds(speed_point& p, std::uint64_t& last_dl_total, std::uint64_t& last_up_total);
// The download half: "total_download_bytes" of the transfer totals against last_dl_total.
void update_dl_speed(speed_point& p, std::uint64_t& last_dl_total);
// The user task count and a ping time for every address of the set.
void fill_point(speed_point& p, const cdn_ip_set& addresses);

}  // namespace quorrin
