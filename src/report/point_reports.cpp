// The two speed point lists of the task report. Every value is zero-extended, also the signed
// ones: a -1 reads 4294967295.
#include <string_view>

#include "report/point_reports.h"
#include "report/vq_data.h"
#include "stat/task_record.h"
#include "support/text.h"

namespace quorrin {

void write_speed_point(const speed_point& point, vq_data& target) {
    target.set_int64("time", point.time);
    target.set_int64("already_dl_bytes", static_cast<std::int64_t>(point.already_dl_bytes));
    target.set_int64("avgs", point.avgs);
    target.set_int64("g_dl_speed", point.g_dl_speed);
    target.set_int64("g_up_speed", point.g_up_speed);
    target.set_int64("g_task_count", static_cast<std::uint32_t>(point.g_task_count));
    target.set_int64("member_task_count", point.member_task_count);

    vq_data pings;
    pings.set_name("ping_cdn_list");
    pings.set_int64("count", static_cast<std::uint32_t>(point.ping_cdn_list.size()));
    std::int32_t index = 0;
    for (const auto& [address, ping] : point.ping_cdn_list) {
        const byte_string key = decimal_text(index++);
        vq_data entry;
        entry.set_name(key);
        entry.set_int64("ip", address);
        entry.set_int64("ping", static_cast<std::uint32_t>(ping));
        pings.set_data(key, entry);
    }
    target.set_data("ping_cdn_list", pings);
}

namespace {

// Reads the list from its top down into its list object, emptying it.
void write_point_list(speed_point_heap& list, std::string_view list_name, std::string_view point_name, vq_data& out) {
    out.set_name(list_name);
    out.set_int64("count", static_cast<std::uint32_t>(list.size()));
    for (std::int32_t index = 0; !list.empty(); ++index) {
        vq_data point;
        point.set_name(point_name);
        write_speed_point(list.top(), point);
        out.set_data(decimal_text(index), point);
        list.pop();
    }
}

}  // namespace

void task_record::write_point_lists(vq_data& report) {
    // Both list objects are held until both lists are written, and released together.
    vq_data low;
    write_point_list(low_speed_point_list, "low_speed_point_list", "LSP", low);
    report.set_data("low_speed_point_list", low);
    vq_data high;
    write_point_list(high_speed_point_list, "high_speed_point_list", "HSP", high);
    report.set_data("high_speed_point_list", high);
}

}  // namespace quorrin
