#include "stat/speed_point.h"

#include <algorithm>

#include "config/setting.h"
#include "report/vq_data.h"
#include "support/com_ptr.h"
#include "support/host_services.h"

namespace quorrin {

namespace {

template <class Below>
void sift_up(std::vector<speed_point>& points, std::size_t hole, speed_point&& value, Below below) {
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / 2;
        if (!below(points[parent].avgs, value.avgs)) break;
        points[hole] = std::move(points[parent]);
        hole = parent;
    }
    points[hole] = std::move(value);
}

// The last point comes out, the top takes its place; the hole left at the root walks down to a
// leaf, always to the child that does not lie below its sibling (the second on a tie), and the
// point that came out rises from there.
template <class Below>
void pop_to_back(std::vector<speed_point>& points, Below below) {
    const std::size_t last = points.size() - 1;
    speed_point value = std::move(points[last]);
    points[last] = std::move(points[0]);
    const std::size_t length = last;
    std::size_t hole = 0;
    std::size_t child = 0;
    while (child < (length - 1) / 2) {
        child = 2 * (child + 1);
        child -= static_cast<std::size_t>(below(points[child].avgs, points[child - 1].avgs));
        points[hole] = std::move(points[child]);
        hole = child;
    }
    if ((length & 1) == 0 && child == (length - 2) / 2) {
        child = 2 * (child + 1);
        points[hole] = std::move(points[child - 1]);
        hole = child - 1;
    }
    sift_up(points, hole, std::move(value), below);
}

}  // namespace

void speed_point_heap::push(const speed_point& point) {
    m_points.push_back(point);
    close_back();
}

void speed_point_heap::pop() {
    if (m_points.size() > 1) in_order([&](auto below) { pop_to_back(m_points, below); });
    m_points.pop_back();
    keep_top();
}

void speed_point_heap::make_room(std::uint32_t count) {
    if (m_points.size() >= count || m_points.size() < m_points.capacity()) return;
    // Geometric growth up to the list's capacity: a long list fills without quadratic copying.
    const std::size_t wanted = std::max<std::size_t>(2 * m_points.size(), 8);
    m_points.reserve(std::min<std::size_t>(wanted, count));
}

void speed_point_heap::take(speed_point& point, std::uint32_t count) noexcept {
    if (m_points.size() < count || m_points.empty()) {
        m_points.emplace_back();  // make_room (or the record's reserve) left space: no allocation
    } else if (m_points.size() > 1) {
        // The pop steps, leaving the evicted top at the back, where the new point goes.
        in_order([&](auto below) { pop_to_back(m_points, below); });
    }
    std::swap(m_points.back(), point);
    close_back();
}

// The 32-bit build targets processors from before SSE by default, and there the compiler drops
// every prefetch: the functions that prefetch may use SSE, which every processor that runs a
// Windows of today has.
#if defined(__i386__)
#define PREFETCHING __attribute__((target("sse")))
#else
#define PREFETCHING
#endif

PREFETCHING void speed_point_heap::prefetch() const {
    constexpr std::uintptr_t kLine = 64;
    constexpr std::size_t kMostLines = 32;  // a heap of 28 points; a longer one brings the rest itself
    const auto first = reinterpret_cast<std::uintptr_t>(m_points.data()) & ~(kLine - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(m_points.data() + m_points.size());
    std::size_t lines = 0;
    for (std::uintptr_t line = first; line < end && lines < kMostLines; line += kLine, ++lines) {
        __builtin_prefetch(reinterpret_cast<const void*>(line), 1);
    }
}

void speed_point_heap::close_back() noexcept {
    const std::size_t last = m_points.size() - 1;
    speed_point value = std::move(m_points[last]);
    in_order([&](auto below) { sift_up(m_points, last, std::move(value), below); });
    keep_top();
}

void update_global_speeds(speed_point& p, std::uint64_t& last_dl_total, std::uint64_t& last_up_total) {
    if (IPeerNetworkService* peer = GetPeerNetworkService()) {
        std::uint64_t counters[4] = {0, 0, 0, 0};
        peer->GetTransferCounters(&counters[0], &counters[1], &counters[2], &counters[3]);
        update_dl_speed(p, last_dl_total);
        const std::uint64_t total = counters[0] + counters[1];
        p.g_up_speed = speed_of(total - last_up_total, p.elapsed);
        last_up_total = total;
    } else if (ITransferStatService* transfer = GetTransferStatService()) {
        transfer->GetDownloadSpeed(&p.g_dl_speed);
    }
}

void update_dl_speed(speed_point& p, std::uint64_t& last_dl_total) {
    ITransferStatService* transfer = GetTransferStatService();
    if (!transfer) return;
    com_ptr<ITransferTotals> totals;
    void* out = nullptr;
    if (FAILED(transfer->QueryInterface(IID_ITransferTotals, &out)) || out == nullptr) return;
    totals.attach(static_cast<ITransferTotals*>(out));
    vq_data figures;
    totals->FillTotals(figures.out_pointer());
    const auto total = static_cast<std::uint64_t>(figures.get_int64("total_download_bytes", 0));
    p.g_dl_speed = speed_of(total - last_dl_total, p.elapsed);
    last_dl_total = total;
}

PREFETCHING void prefetch(const cdn_ip_set& addresses) {
    if (!addresses.empty()) __builtin_prefetch(addresses.data());
}

void fill_point(speed_point& p, const cdn_ip_set& addresses) {
    p.g_task_count = setting::value_of(kUserTaskCount);
    IPingService* ping_service = GetPingService();
    p.ping_cdn_list.clear();
    p.ping_cdn_list.reserve(addresses.size());
    for (const std::uint32_t address : addresses) {
        std::int32_t ping = -1;
        if (ping_service) ping_service->GetPing(address, 0, &ping);
        p.ping_cdn_list.emplace_back(address, ping);
    }
}

}  // namespace quorrin
