// One kept speed sample, the two bounded heaps that keep the slowest and the fastest samples,
// and the computations that fill a point from the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "stat/cdn_ip_set.h"

namespace quorrin {

// Bytes per second: bytes / seconds in unsigned division, low 32 bits; with 0 seconds the low 32
// bits of the bytes themselves.
inline std::uint32_t speed_of(std::uint64_t bytes, std::uint32_t seconds) {
    return static_cast<std::uint32_t>(seconds == 0 ? bytes : bytes / seconds);
}

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
    // Room for one more point in a list of at most count, so that take() need not allocate.
    void make_room(std::uint32_t count);
    // Takes point into the list of at most count: into a free place (make_room first), or in
    // place of the top, which it evicts. The two swap storage: point comes back holding the
    // evicted point, or an empty one.
    void take(speed_point& point, std::uint32_t count) noexcept;
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
    // Moves the point at the back up into heap order.
    void close_back() noexcept;

    order m_order;
    std::uint32_t m_top_avgs = 0;  // m_points.front().avgs, once every change is closed
    std::vector<speed_point> m_points;
};

inline bool speed_point_heap::takes(std::uint32_t avgs, std::uint32_t count) const {
    if (m_points.size() < count) return true;
    if (m_points.empty()) return false;
    return in_order([&](auto below) { return below(avgs, m_top_avgs); });
}

// Where a sample that a list takes is completed before any list changes, so that running out of
// memory there leaves both lists as they were. Owned by the statistics object and reused: a
// full list's evicted point hands its storage on to the next sample.
struct sample_scratch {
    speed_point taken;
    speed_point copy;  // for the second list when both take the sample
    // Storage for a point with this many pings in each, so that completing one cannot fail.
    void reserve(std::size_t addresses) {
        taken.ping_cdn_list.reserve(addresses);
        copy.ping_cdn_list.reserve(addresses);
    }
};

// Which lists take a sample, decided and made ready before anything changes.
struct offer_plan {
    bool into_low = false;
    bool into_high = false;
    bool taken() const { return into_low || into_high; }
};

// The part of offering p that can fail: decides which lists take p, completes it (once) into
// scratch.taken, copies it into scratch.copy when both take it, and makes room in each list that
// takes it. Changes no list's points. complete runs only if a list takes p.
template <class Complete>
offer_plan prepare_offer(speed_point_heap& low, std::uint32_t low_count, speed_point_heap& high,
                         std::uint32_t high_count, const speed_point& p, sample_scratch& scratch,
                         Complete&& complete) {
    offer_plan plan;
    plan.into_low = low.takes(p.avgs, low_count);
    plan.into_high = high.takes(p.avgs, high_count);
    if (!plan.taken()) return plan;
    scratch.taken = p;  // p has no pings yet: the scratch keeps its storage
    complete(scratch.taken);
    if (plan.into_low && plan.into_high) scratch.copy = scratch.taken;
    if (plan.into_low) low.make_room(low_count);
    if (plan.into_high) high.make_room(high_count);
    return plan;
}

// The part that cannot fail: each list that the plan names takes its completed point.
inline void commit_offer(const offer_plan& plan, speed_point_heap& low, std::uint32_t low_count,
                         speed_point_heap& high, std::uint32_t high_count, sample_scratch& scratch) noexcept {
    if (plan.into_low) low.take(scratch.taken, low_count);
    if (plan.into_high) high.take(plan.into_low ? scratch.copy : scratch.taken, high_count);
}

// Offers p to both lists: a list that has room takes it, a full one only when p ranks before its
// top, which it then evicts. Returns whether a list took it. Either both lists change as that
// says or, when completion or room runs out of memory, neither does.
template <class Complete>
bool offer(speed_point_heap& low, std::uint32_t low_count, speed_point_heap& high, std::uint32_t high_count,
           const speed_point& p, sample_scratch& scratch, Complete&& complete) {
    const offer_plan plan = prepare_offer(low, low_count, high, high_count, p, scratch, complete);
    commit_offer(plan, low, low_count, high, high_count, scratch);
    return plan.taken();
}

// Global download and upload speeds over p.elapsed, measured against the record's running totals
// (which it then moves on). Without the peer network service, GetDownloadSpeed alone.
void update_global_speeds(speed_point& p, std::uint64_t& last_dl_total, std::uint64_t& last_up_total);
// The download half: "total_download_bytes" of the transfer totals against last_dl_total.
void update_dl_speed(speed_point& p, std::uint64_t& last_dl_total);
// The user task count and a ping time for every address of the set.
void fill_point(speed_point& p, const cdn_ip_set& addresses);
// Asks for the addresses' memory ahead of fill_point.
void prefetch(const cdn_ip_set& addresses);

}  // namespace quorrin
