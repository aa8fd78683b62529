// What the plug-in should hold and answer: the task table as the host's calls should have left
// it, the results of those calls, and the module's observable state to compare with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "quorrin/com_types.h"
#include "stat/CQuorrin.h"

namespace refhost {
class reference_host;
}

// The step of the session that a broken invariant names (-1: after the session).
extern long long g_fuzz_step;
[[noreturn]] void broken(const char* what);
inline void expect(bool condition, const char* what) {
    if (!condition) broken(what);
}

struct expected_task {
    std::string cid;
    std::int32_t click_type = 0;
    std::uint32_t start_tick = 0;
    std::uint32_t last_tick = 0;
    std::uint64_t last_bytes = 0;
    quorrin::cdn_ip_set addresses;
};

// Which services the start-up sequence kept, as the host's set-up predicts it.
struct kept_services {
    bool events = false;
    bool report = false;
    bool transfer = false;
    bool peer = false;
    bool ping = false;
};

// The UnregisterTask in progress, as the host sees its SendAsynMessage.
struct pending_finish {
    bool active = false;
    std::int32_t task_id = 0;
    bool matches = false;        // the model holds the task under that cid
    std::uintptr_t message = 0;  // what SendAsynMessage was given
    bool served = false;         // its one delivery was served (early, or by the host's own)
    bool served_early = false;   // by a call from inside SendAsynMessage, before the host's own
    HRESULT result = S_OK;       // the finish's own result, once served early
};

// The state at the start of a call, to judge what the call changed.
struct before_call {
    std::string snapshot;  // empty unless the call must be judged by it
    long long failed = 0;  // the module's failed allocations so far
    std::size_t reports = 0;
};

class model {
public:
    std::map<std::int32_t, expected_task> tasks;
    kept_services kept;
    pending_finish pending;
    std::uint32_t extra_timers = 0;  // timers that the host's own message 0 started
    std::int32_t interval = 0;
    std::uint32_t overdue = 0;
    std::uint32_t low_count = 0;
    std::uint32_t high_count = 0;
    std::uint32_t dt_duration = 0;

    // The settings that Initialize took.
    void take_config();
    // A sweep at the clock's tick: the records no sample reached in time go.
    void sweep();

    // Every record, the address counts, what the ping service was last told, the timers, the
    // reports and the kept services; stat is null when the host cannot reach it.
    std::string snapshot(const quorrin::CQuorrin* stat, refhost::reference_host& host) const;
    before_call before(const quorrin::CQuorrin* stat, refhost::reference_host& host, bool judged) const;
    void expect_unchanged(const before_call& at, const quorrin::CQuorrin* stat, refhost::reference_host& host,
                          const char* what) const;
    // An E_OUTOFMEMORY result is sound only when an allocation failed and nothing changed.
    bool out_of_memory(HRESULT hr, const before_call& at, const quorrin::CQuorrin* stat,
                       refhost::reference_host& host, const char* what) const;

    // The pending finish ran with result hr; stat is null once the plug-in went.
    void finished(HRESULT hr, const before_call& at, const quorrin::CQuorrin* stat, refhost::reference_host& host);

    // The module's table against the model's, after each step.
    void check(const quorrin::CQuorrin& stat, refhost::reference_host& host) const;
};

// Whether the module failed an allocation since a before_call's count.
bool failed_since(const before_call& at);
