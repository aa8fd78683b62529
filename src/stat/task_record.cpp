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
    low_speed_point_list.reserve(std::min(config->low_count(), kReservedPoints));
    high_speed_point_list.reserve(std::min(config->high_count(), kReservedPoints));
}

void task_record::begin(std::uint64_t bytes_before, std::uint32_t time_before_ms, std::uint32_t task_count) {
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
    fill_point(p, cdn_ip_list);
    if (ITransferStatService* transfer = GetTransferStatService()) transfer->GetDownloadSpeed(&p.g_dl_speed);
    low_speed_point_list.push(p);
    high_speed_point_list.push(p);
}

bool task_record::sample(std::uint64_t downloaded, std::uint16_t task_count) {
    const std::uint32_t now = platform::tick_count();
    speed_point p;
    p.elapsed = (now - last_tick) / 1000;
    last_tick = now;
    p.delta_bytes = downloaded - last_bytes;
    last_bytes = downloaded;
    p.avgs = speed_of(p.delta_bytes, p.elapsed);

    // A list that takes the sample is asked for from memory now; it arrives while the host
    // answers the speed calls. With many tasks a record's lists are rarely in the cache. Only a
    // hint: offer decides on the lists as they are after those calls.
    const stat_config* config = stat_config::instance();
    const bool into_low = low_speed_point_list.takes(p.avgs, config->low_count());
    const bool into_high = high_speed_point_list.takes(p.avgs, config->high_count());
    if (into_low) low_speed_point_list.prefetch();
    if (into_high) high_speed_point_list.prefetch();
    if ((into_low || into_high) && !cdn_ip_list.empty()) __builtin_prefetch(&*cdn_ip_list.begin());
    update_global_speeds(p, last_dl_total, last_up_total);

    offer(low_speed_point_list, config->low_count(), high_speed_point_list, config->high_count(), p,
          [&](speed_point& taken) {
              fill_point(taken, cdn_ip_list);
              taken.time = click_time + (now - start_tick) / 1000;
              taken.already_dl_bytes = downloaded;
              taken.member_task_count = task_count;
          });
    return true;
}

void task_record::end(std::uint64_t downloaded, std::uint32_t task_count, std::int32_t reason) {
    const std::uint32_t now = platform::tick_count();
    timef_click = (now - start_tick) / 1000;
    bytesf_click = downloaded - bytesb_click;
    unreg_reason = reason;
    avgf_click = speed_of(bytesf_click, timef_click);
    sample(downloaded, static_cast<std::uint16_t>(task_count));
}

bool task_record::is_overdue(std::uint32_t now) const { return now - last_tick > stat_config::instance()->overdue(); }

bool task_record::exceeds_dt_duration() const {
    return static_cast<std::uint32_t>(timef_click * 1000u) > stat_config::instance()->dt_duration();
}

}  // namespace quorrin
