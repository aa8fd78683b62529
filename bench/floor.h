// The floors: the host calls that the module makes on each path, with the same arguments, made
// directly on the same reference host without the plug-in. What a path costs above its floor is
// the plug-in's own work.
#pragma once

#include "data_node.h"
#include "reference_host.h"

namespace bench::floor {

// The host services that the floor calls, obtained once through the provider as the module keeps
// them at start-up.
struct services {
    explicit services(refhost::reference_host& host);
    ~services();
    services(const services&) = delete;
    services& operator=(const services&) = delete;

    IHostServiceProvider* provider;
    IStatReportService* reports = nullptr;
    IAsynEventService* events = nullptr;
    ITransferStatService* transfer = nullptr;
    IPeerNetworkService* peer = nullptr;
    IPingService* ping = nullptr;
    ISettingsService* settings = nullptr;
    IStatDataService* stat_data = nullptr;
};

// One sample: the peer counters and the transfer totals object (GetTransferCounters,
// QueryInterface, CreateObject, FillTotals, GetInt64, two Releases).
void global_speeds(const services& host);
// What completing a kept point adds: the user task count, then one ping per address.
void fill_point(const services& host);
inline void kept_sample(const services& host) {
    global_speeds(host);
    fill_point(host);
}

// RegisterTask of a task with the three addresses, none of them watched yet: StartPing, then the
// click's point (global speeds, user task count, pings, GetDownloadSpeed).
void register_task(const services& host);
// UnregisterTask of the only task, whose last sample enters no list: the report data's reference,
// SendAsynMessage, and inside it the last sample, the address releases and StopAll; with a report
// (not null) its building and submission in between.
void unregister_task(const services& host, IHostData* report_data, const refhost::data_node* report);
// Building and submitting the report whose tree the module submitted (same keys, values, order).
void build_report(const services& host, IHostData* report_data, const refhost::data_node& report);

// A timer sink that returns at once: the host's cost of delivering a tick.
IAsynTimerEvents* idle_timer_sink();

}  // namespace bench::floor
