// What the statistics object knows of one tracked task: its identity, the figures at the click
// (its registration) and at its end, the sampling bookkeeping, its CDN addresses and its two
// bounded lists of speed points. Ticks wrap and byte differences wrap, by design.
#pragma once

#include <cstdint>
#include "stat/speed_point.h"
#include "support/byte_string.h"

namespace quorrin {

class vq_data;

class task_record {
public:
    // The lists' capacities come from stat_config, which must be loaded first.
    task_record();

    // The click: figures before it, and its point pushed into both (empty) lists. Makes no
    // allocation of its own once scratch holds room for the record's addresses.
    void begin(std::uint64_t bytes_before, std::uint32_t time_before_ms, std::uint32_t task_count,
               sample_scratch& scratch);
    // A progress sample; it is kept only if a list takes it. Always true. All or nothing: running
    // out of memory leaves the record as it was.
    bool sample(std::uint64_t downloaded, std::uint16_t task_count, sample_scratch& scratch);
    // The end figures, then a last sample; all or nothing, as sample.
    void end(std::uint64_t downloaded, std::uint32_t task_count, std::int32_t reason, sample_scratch& scratch);
    // No sample since last_tick for longer than overdue ms (strictly): the tick difference wraps.
    static bool stale(std::uint32_t last_tick, std::uint32_t now, std::uint32_t overdue) { return now - last_tick > overdue; }
    // timef_click * 1000 (32-bit, wrapping) > dt_duration(); meaningful after end.
    bool exceeds_dt_duration() const;

    // Report writing (defined with the reports): the click keys, then both point lists, which
    // writing empties.
    void write_report(vq_data& report);
    void write_click_report(vq_data& report) const;
    void write_point_lists(vq_data& report);

    // A sample measured, and completed if a list takes it, with nothing of the record changed.
    struct pending_sample {
        std::uint32_t tick = 0;
        std::uint64_t bytes = 0;
        std::uint64_t dl_total = 0;
        std::uint64_t up_total = 0;
        offer_plan plan;
    };
    pending_sample measure(std::uint64_t downloaded, std::uint16_t task_count, sample_scratch& scratch);
    void commit(const pending_sample& sample, sample_scratch& scratch) noexcept;

    // What every sample reads and writes comes first, so that it shares the record's first
    // cache lines: with many tasks a record is rarely in the cache when its sample comes.
    std::uint32_t last_tick = 0;
    std::uint32_t start_tick = 0;
    std::uint64_t last_bytes = 0;
    std::uint64_t last_up_total = 0;
    std::uint64_t last_dl_total = 0;
    std::uint32_t click_time = 0;  // Unix seconds
    speed_point_heap low_speed_point_list{speed_point_heap::order::slowest_kept};
    speed_point_heap high_speed_point_list{speed_point_heap::order::fastest_kept};
    cdn_ip_set cdn_ip_list;  // read by a sample that a list takes

    std::int32_t task_type = 0;
    std::int32_t click_type = 0;  // 0: has an offline URL; 1: comes with CDN addresses
    byte_string cid;
    byte_string gcid;
    std::uint64_t filesize = 0;
    byte_string offline_url;
    std::uint32_t timeb_click = 0;  // s
    std::uint64_t bytesb_click = 0;
    std::uint32_t avgb_click = 0;  // bytes/s
    std::uint32_t timef_click = 0;  // s
    std::uint64_t bytesf_click = 0;
    std::uint32_t avgf_click = 0;  // bytes/s
    std::int32_t unreg_reason = 0;
};

}  // namespace quorrin
