// What the driver and the hostile host share: the input, the host, the plug-in as the host holds
// it, and the model of what the plug-in should hold.
#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>

#include "byte_source.h"
#include "model.h"
#include "plugin/CDownloadLibPlugin.h"
#include "reference_host.h"
#include "support/com_ptr.h"

struct session {
    explicit session(byte_source& input) : in(input) {}

    byte_source& in;
    std::unique_ptr<refhost::reference_host> host;
    quorrin::com_ptr<IDownloadLibPlugin> plugin;  // the host's reference; null once it let go
    quorrin::CDownloadLibPlugin* plugin_object = nullptr;  // valid while plugin holds it
    quorrin::CQuorrin* stat = nullptr;  // the plug-in's, once seen: call it only through reachable()
    model expected;
    bool hostile = false;       // calls from inside host calls, failing allocations, ...
    bool sibling_data = false;  // task and report data from the sibling module
    bool gone = false;          // the host let the plug-in go; its session is over

    // The statistics object while the host holds a reference to it (its registration, a timer or
    // an advised sink): only then may the host call it. Else null. Remembers the one that the
    // plug-in made, so that it stays known when the host lets the plug-in go.
    quorrin::CQuorrin* reachable() {
        if (!stat && plugin) stat = plugin_object->statistics();
        if (!stat) return nullptr;
        const bool held = host->services().registered(IID_IQuorrin) == static_cast<IQuorrin*>(stat) ||
                          host->events().holds(static_cast<const IAsynMessageEvents*>(stat)) ||
                          host->events().holds(static_cast<const IAsynTimerEvents*>(stat));
        return held ? stat : nullptr;
    }
    // Judged calls compare the whole state before and after; in the hostile mode all of them are.
    before_call before(bool judged) { return expected.before(reachable(), *host, judged); }
    void expect_unchanged(const before_call& at, const char* what) { expected.expect_unchanged(at, reachable(), *host, what); }

    std::int32_t any_id() {
        const std::uint8_t b = in.byte();
        if (b < 224) return static_cast<std::int32_t>(b % 8) - 1;
        static const std::int32_t extremes[] = {INT32_MIN, INT32_MAX, -2, 1000};
        return b < 240 ? extremes[b % 4] : static_cast<std::int32_t>(in.u32());
    }
    // Mostly a task the model holds, sometimes any id.
    std::int32_t task_id() {
        if (expected.tasks.empty() || in.rarely(5)) return any_id();
        auto it = expected.tasks.begin();
        std::advance(it, in.byte() % expected.tasks.size());
        return it->first;
    }
};
