// The click section of the task report: what the task was and its figures before and after the
// click, then its CDN addresses.
#include "config/stat_config.h"
#include "report/vq_data.h"
#include "stat/task_record.h"
#include "support/text.h"

namespace quorrin {

void task_record::write_click_report(vq_data& report) const {
    report.set_int64("task_type", task_type);
    report.set_int64("click_type", click_type);
    report.set_string("cid", hex_id_text(cid));
    report.set_string("gcid", hex_id_text(gcid));
    report.set_int64("filesize", static_cast<std::int64_t>(filesize));
    report.set_int64("click_time", click_time);
    report.set_int64("timeb_click", timeb_click);
    report.set_int64("bytesb_click", static_cast<std::int64_t>(bytesb_click));
    report.set_int64("avgb_click", avgb_click);
    report.set_int64("timef_click", timef_click);
    report.set_int64("bytesf_click", static_cast<std::int64_t>(bytesf_click));
    report.set_int64("avgf_click", avgf_click);
    report.set_int64("unreg_reason", unreg_reason);
    // The configured value read as signed, so an interval of 2^31 or more shows as negative.
    report.set_int64("sample_interval", static_cast<std::int32_t>(stat_config::instance()->sample_interval()));

    vq_data addresses;
    addresses.set_name("cdn_ip_list");
    addresses.set_int64("count", static_cast<std::uint32_t>(cdn_ip_list.size()));
    std::int32_t index = 0;
    for (const std::uint32_t address : cdn_ip_list) addresses.set_int64(decimal_text(index++), address);
    report.set_data("cdn_ip_list", addresses);
}

}  // namespace quorrin
