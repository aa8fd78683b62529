#include "stat/task_record.h"

#include <algorithm>

#include "config/stat_config.h"
#include "platform/clock.h"
#include "support/host_services.h"

namespace quorrin {

namespace {
// Lists grow no further than their capacity; reserving up to this many points up front keeps
// allocation off the sampling path without trusting a huge configured count.
constexpr std::uint32_t kReservedPoints = 64;
}  // namespace

task_record::task_record() {
    const stat_config* config = stat_config::instance();
    low_speed_point_list.reserve(std::clamp(config->low_count(), 1u, kReservedPoints));
    high_speed_point_list.reserve(std::clamp(config->high_count(), 1u, kReservedPoints));
}

void task_record::begin(std::uint64_t bytes_before, std::uint32_t time_before_ms, std::uint32_t task_count,
                        sample_scratch& scratch) {
    click_time = platform::wall_time();
    const std::uint32_t now = platform::tick_count();
    start_tick = now;
    last_tick = now;
    bytesb_click = bytes_before;
    last_bytes = bytes_before;
    timeb_click = time_before_ms / 1000;

    speed_point p;
    p.time = click_time;
    p.elapsed = timeb_click;
    p.delta_bytes = bytes_before;
    p.already_dl_bytes = bytes_before;
    p.member_task_count = static_cast<std::uint16_t>(task_count);
    avgb_click = speed_of(bytes_before, timeb_click);
    p.avgs = avgb_click;
    update_global_speeds(p, last_dl_total, last_up_total);
    // Completed in the scratch, whose storage has room for the pings.
    speed_point& click = scratch.taken;
    click = p;
    fill_point(click, cdn_ip_list);
    if (ITransferStatService* transfer = GetTransferStatService()) transfer->GetDownloadSpeed(&click.g_dl_speed);
    scratch.copy = click;
    // Both lists are empty, and reserved at construction: taking the point allocates nothing.
    const stat_config* config = stat_config::instance();
    low_speed_point_list.take(scratch.taken, config->low_count());
    high_speed_point_list.take(scratch.copy, config->high_count());
}

task_record::pending_sample task_record::measure(std::uint64_t downloaded, std::uint16_t task_count,
                                                 sample_scratch& scratch) {
    pending_sample s;
    s.tick = platform::tick_count();
    s.bytes = downloaded;
    s.dl_total = last_dl_total;
    s.up_total = last_up_total;
    speed_point p;
    p.elapsed = (s.tick - last_tick) / 1000;
    p.delta_bytes = downloaded - last_bytes;
    p.avgs = speed_of(p.delta_bytes, p.elapsed);

    // A list that takes the sample is asked for from memory now; it arrives while the host
    // answers the speed calls. With many tasks a record's lists are rarely in the cache. Only a
    // hint: the offer decides on the lists as they are after those calls.
    const stat_config* config = stat_config::instance();
    const bool into_low = low_speed_point_list.takes(p.avgs, config->low_count());
    const bool into_high = high_speed_point_list.takes(p.avgs, config->high_count());
    if (into_low) low_speed_point_list.prefetch();
    if (into_high) high_speed_point_list.prefetch();
    if (into_low || into_high) prefetch(cdn_ip_list);
    update_global_speeds(p, s.dl_total, s.up_total);

    s.plan = prepare_offer(low_speed_point_list, config->low_count(), high_speed_point_list, config->high_count(), p,
                           scratch, [&](speed_point& taken) {
                               fill_point(taken, cdn_ip_list);
                               taken.time = click_time + (s.tick - start_tick) / 1000;
                               taken.already_dl_bytes = downloaded;
                               taken.member_task_count = task_count;
                           });
    return s;
}

void task_record::commit(const pending_sample& s, sample_scratch& scratch) noexcept {
    last_tick = s.tick;
    last_bytes = s.bytes;
    last_dl_total = s.dl_total;
    last_up_total = s.up_total;
    const stat_config* config = stat_config::instance();
    commit_offer(s.plan, low_speed_point_list, config->low_count(), high_speed_point_list, config->high_count(),
                 scratch);
}

bool task_record::sample(std::uint64_t downloaded, std::uint16_t task_count, sample_scratch& scratch) {
    commit(measure(downloaded, task_count, scratch), scratch);
    return true;
}

void task_record::end(std::uint64_t downloaded, std::uint32_t task_count, std::int32_t reason,
                      sample_scratch& scratch) {
    const std::uint32_t now = platform::tick_count();
    const std::uint32_t time_after = (now - start_tick) / 1000;
    const std::uint64_t bytes_after = downloaded - bytesb_click;
    const pending_sample last = measure(downloaded, static_cast<std::uint16_t>(task_count), scratch);
    timef_click = time_after;
    bytesf_click = bytes_after;
    unreg_reason = reason;
    avgf_click = speed_of(bytes_after, time_after);
    commit(last, scratch);
}

bool task_record::exceeds_dt_duration() const {
    return static_cast<std::uint32_t>(timef_click * 1000u) > stat_config::instance()->dt_duration();
}

}  // namespace quorrin
