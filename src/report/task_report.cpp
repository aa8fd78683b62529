#include "report/task_report.h"

#include <string>
#include <string_view>

#include "config/CStringSetter.h"
#include "config/stat_data.h"
#include "report/vq_data.h"
#include "stat/task_record.h"
#include "support/com_ptr.h"
#include "support/host_services.h"
#include "support/text.h"

namespace quorrin {

namespace {
constexpr std::string_view kReportName = "Quorrin";
}  // namespace

void task_record::write_report(vq_data& report) {
    write_click_report(report);
    write_point_lists(report);
}

void report_task(task_record& record, IHostData* report_data) {
    if (!record.exceeds_dt_duration()) return;

    vq_data report;
    report.set_name(kReportName);
    vq_data cdn_figures(report_data);
    report.set_data("cdn_down_bytes_stat", cdn_figures);

    if (IPeerNetworkService* peer = GetPeerNetworkService()) {
        byte_string peer_id;
        {
            CStringSetter setter(&peer_id);
            peer->GetPeerId(&setter);
        }
        report.set_string("peerid", peer_id);
        std::uint32_t external_ip = 0;  // not written by a failing host
        peer->GetExternalIp(&external_ip);
        report.set_int64("external_ip", external_ip);
    }

    const std::int32_t bandwidth = stat_data::value_of(kBandwidth);
    report.set_int64("bandwidth", static_cast<std::uint32_t>(bandwidth));

    std::uint32_t limit = 0xFFFFFFFFu;
    if (IHostServiceProvider* provider = GetHostServiceProvider()) {
        com_ptr<ISpeedLimitService> limits;
        provider->GetService(&SID_SpeedLimitService, limits.put_void());
        if (limits) {
            limits->GetDownloadLimit(&limit);
            report.set_int64("dl_speed_limit", limit >> 10);
        }
    }

    record.write_report(report);

    if (IStatReportService* reports = GetStatReportService()) {
        reports->SubmitReport(host_length(kReportName), host_chars(kReportName), report.get());
    }
}

}  // namespace quorrin
