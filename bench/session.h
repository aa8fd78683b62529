// A benchmark session: the reference host in its fastest configuration (in-process, call log
// off), the module loaded through its exports, and one plug-in initialised on that host with the
// tasks of one scenario. Only one session lives at a time: the module keeps its host services
// process-wide.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "floor.h"
#include "module_loader.h"
#include "quorrin/plugin_interfaces.h"
#include "reference_host.h"
#include "support/com_ptr.h"
#include "zq.h"

namespace bench {

// The three CDN addresses of every task, in inet_addr form and ascending as the module keeps them.
extern const std::uint32_t kAddresses[3];

// Sample sizes. Samples come well within a second of each other, so a sample's speed is its
// byte difference: kSlowDelta and kFastDelta fill the lists, kMiddleDelta lies between the two
// lists' tops (enters neither), and kRisingDelta plus a rising count beats the fast list's top.
constexpr std::uint64_t kClickBytes = 10'000'000;
constexpr std::uint32_t kClickTimeMs = 10'000;
constexpr std::uint64_t kSlowDelta = 1'000;
constexpr std::uint64_t kFastDelta = 2'000'000;
constexpr std::uint64_t kMiddleDelta = 800'000;
constexpr std::uint64_t kRisingDelta = 3'000'000;
// Samples after the click that fill both lists to their 14 points.
constexpr int kFillSamples = 27;
// Longer than the report gate (dt_duration, 15 s by default).
constexpr std::uint32_t kReportedRunMs = 20'000;

// The module, loaded once by path (set_module_path before the first use): natively
// quorrin_bench.so beside the program, on Windows the shipped quorrin.dll.
void set_module_path(const std::string& path);
// Which build a new session loads: the module as it ships, or the same without the engine guard
// (quorrin_bench_unguarded.so beside the program, natively only), to show what the guard costs.
enum class build { shipped, unguarded };
void set_build(build b);
refhost::plugin_module& module();
// Null when the module's clock cannot be moved on (natively, the product module).
using advance_fn = void (*)(std::uint32_t);
advance_fn clock_hook();

inline zq_usage pool() {
    zq_usage usage{};
    zq_usage_of(&usage);
    return usage;
}

class session {
public:
    session();
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    refhost::reference_host& host() { return *m_host; }
    // The host's services for the floors, on the same host.
    const floor::services& floor_services() { return *m_floor; }
    IQuorrin* q() const { return m_q; }
    IAsynTimerEvents* timer_sink();
    IHostData* report_data() const { return m_report_data.get(); }
    IHostData* task_data() const { return m_task_data.get(); }

    // Click type 1 with the three addresses, 20-byte cid and gcid.
    HRESULT register_task(std::int32_t id);
    HRESULT unregister_task(std::int32_t id);
    HRESULT update(std::int32_t id, std::uint64_t delta);
    // Bytes that the next UpdateTask or UnregisterTask of the task reports.
    void add_bytes(std::int32_t id, std::uint64_t delta) { m_downloaded[static_cast<std::size_t>(id)] += delta; }
    // The samples that leave both lists full.
    void fill_lists(std::int32_t id);
    // Tasks 1..count, registered, then their lists filled round-robin, as a host samples them.
    void add_tasks(std::int32_t count);
    std::int32_t task_count() const { return m_tasks; }

private:
    std::unique_ptr<refhost::reference_host> m_host;
    std::unique_ptr<floor::services> m_floor;
    quorrin::com_ptr<IDownloadLibPlugin> m_plugin;
    IQuorrin* m_q = nullptr;
    refhost::host_ref<refhost::data_object> m_task_data;
    refhost::host_ref<refhost::data_object> m_report_data;
    std::vector<cdn_ip_entry> m_entries;
    cdn_ip_array m_array{};
    std::vector<std::uint64_t> m_downloaded;  // per task id
    std::int32_t m_tasks = 0;
};

// The session of a scenario, kept while consecutive benchmarks (a figure and its floor) ask for
// the same key; another key ends it first.
session& shared_session(const std::string& key);
void end_shared_session();

}  // namespace bench
