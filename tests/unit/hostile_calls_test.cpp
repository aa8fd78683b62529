// A host that calls back into the plug-in from inside its own services, delivers the finish
// message wrongly, lets go of the plug-in mid-call, or whose memory runs out: every refused or
// failed call leaves the engine exactly as it was.
#include <functional>
#include <sstream>
#include <thread>

#include "alloc_failure.h"
#include "call_hook.h"
#include "session_fixture.h"
#include "support/module_lock.h"

namespace {

// Everything of the engine that a host can observe, as text.
std::string snapshot(const quorrin::CQuorrin* stat, refhost::reference_host& host) {
    std::ostringstream out;
    const auto points = [&](quorrin::speed_point_heap list) {
        for (; !list.empty(); list.pop()) {
            const quorrin::speed_point& p = list.top();
            out << " " << p.avgs << "@" << p.time << "/" << p.already_dl_bytes << "/" << p.g_dl_speed << "/"
                << p.g_up_speed << "/" << p.member_task_count << "/" << p.ping_cdn_list.size();
        }
        out << ";";
    };
    for (const auto& [id, r] : stat->tasks()) {
        out << "task " << id << " " << r->last_tick << " " << r->last_bytes << " " << r->last_dl_total << " "
            << r->last_up_total << " " << r->timef_click << " " << r->bytesf_click << " " << r->unreg_reason << " [";
        for (const std::uint32_t a : r->cdn_ip_list) out << a << " ";
        out << "] low";
        points(r->low_speed_point_list);
        out << " high";
        points(r->high_speed_point_list);
        out << "\n";
    }
    for (const auto& [address, count] : stat->cdn_ip_refs()) out << address << "x" << count << " ";
    out << "| told";
    for (const std::uint32_t a : host.ping().told()) out << " " << a;
    out << " | reports " << host.reports().reports().size();
    return out.str();
}

// Runs `action` once, at the first host call whose name starts with `at`, and keeps the pool's
// failures to the module's own code (the host's allocations neither count nor fail).
class reentering_host : public refhost::call_hook {
public:
    std::string at;
    std::function<void()> action;

    void enter(const char* call) override {
        alloc_failure::hold(true);
        if (action && std::string(call).rfind(at, 0) == 0) {
            const std::function<void()> once = std::move(action);
            action = nullptr;
            alloc_failure::hold(false);
            once();
            alloc_failure::hold(true);
        }
    }
    void leave(const char*) override { alloc_failure::hold(false); }
    void calls_module(bool starts) override { alloc_failure::hold(!starts); }
};

class HostileCalls : public SessionTest {
protected:
    void SetUp() override {
        host->log.hook = &hook;
        SessionTest::SetUp();
    }
    void TearDown() override {
        alloc_failure::fail_after(-1);
        SessionTest::TearDown();
        host->log.hook = nullptr;
    }
    std::string state() { return snapshot(stat, *host); }

    // Every engine entry, to be made from inside a host call of another engine call.
    struct nested_call {
        const char* name;
        std::function<HRESULT()> call;
    };
    std::vector<nested_call> nested_calls() {
        return {
            {"UpdateTask", [this] { return q->UpdateTask(1, 999999); }},
            {"UnregisterTask", [this] { return unregister(1, 999999); }},
            {"RegisterTask", [this] { return register_task(7); }},
            {"AddOfflineCdnIp", [this] { return q->AddOfflineCdnIp(3, "url", 5); }},
            {"OnTimer", [this] { return stat->OnTimer(0); }},
            {"OnMessage 0", [this] { return stat->OnMessage(0, 0, 0); }},
            {"OnMessage 1", [this] { return stat->OnMessage(1, reinterpret_cast<std::uintptr_t>(&stray), 0); }},
            {"OnMessage 2", [this] { return stat->OnMessage(2, 0, 0); }},
            {"OnMessageEvent", [this] { return stat->OnMessageEvent(0, 0, 0); }},
            {"Uninitialize", [this] { return plugin->Uninitialize(); }},
            {"Initialize", [this] { return plugin->Initialize(host->provider()); }},
        };
    }

    // A finish message that no UnregisterTask sent, naming a task that exists.
    quorrin::finish_message stray;
    reentering_host hook;
};

// Every delivery into the module is a call in progress until it returns: whatever comes in from
// inside one of its host calls is refused, and changes nothing.
TEST_F(HostileCalls, CallsFromInsideHostCallsAreRefusedAndChangeNothing) {
    enum class task { kept, finished, session_gone };
    struct outer_call {
        const char* name;
        const char* at;
        std::function<HRESULT()> call;
        task afterwards;
    };
    quorrin::CDownloadLibPlugin* initializing = nullptr;
    const std::vector<outer_call> outers = {
        {"UpdateTask", "ping.GetPing", [&] { return q->UpdateTask(1, 1); }, task::kept},  // a slow sample
        {"UnregisterTask", "report.SubmitReport", [&] { return unregister(1, 5000000); }, task::finished},
        {"OnTimer", "ping.GetPing", [&] { return stat->OnTimer(0); }, task::finished},
        {"OnMessage 0", "events.StartTimer", [&] { return stat->OnMessage(0, 0, 0); }, task::kept},
        {"Uninitialize", "events.StopTimers", [&] { return plugin->Uninitialize(); }, task::session_gone},
        {"Initialize", "provider.RegisterObject",
         [&] {
             stop();
             initializing = new quorrin::CDownloadLibPlugin();
             EXPECT_EQ(S_OK, initializing->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
             return plugin->Initialize(host->provider());
         },
         task::session_gone},
    };
    for (const outer_call& outer : outers) {
        for (const nested_call& nested : nested_calls()) {
            SCOPED_TRACE(std::string(outer.name) + " <- " + nested.name);
            restart();
            ASSERT_EQ(S_OK, register_task(1));
            stray.task_id = 1;
            stray.cid = std::string(20, 'C');
            manual_clock::advance(40000);  // long enough to report, and overdue
            initializing = nullptr;
            HRESULT nested_result = S_OK;
            std::string before, after;
            hook.at = outer.at;
            hook.action = [&] {
                if (initializing) {  // the statistics object exists from just before it is registered
                    stat = initializing->statistics();
                    q = stat;
                }
                before = state();
                nested_result = nested.call();
                after = state();
            };
            EXPECT_EQ(S_OK, outer.call());
            EXPECT_EQ(nullptr, hook.action) << "the host call was not made";
            EXPECT_EQ(RPC_E_CALL_REJECTED, nested_result);
            EXPECT_EQ(before, after);
            if (outer.afterwards != task::session_gone) {
                EXPECT_EQ(outer.afterwards == task::kept, record(1) != nullptr);
            }
            if (initializing) host->events().deliver_posted();
        }
    }
}

// The host lets go of the plug-in from inside any call, while it still holds IQuorrin: the
// shut-down runs as that call leaves, leaves no timer on the closed object, and the object goes
// with the host's last reference.
TEST_F(HostileCalls, LastReleaseInsideAnyCallShutsDownAsTheCallLeaves) {
    struct outer_call {
        const char* name;
        const char* at;
        std::function<HRESULT()> call;
    };
    const std::vector<outer_call> outers = {
        {"UpdateTask", "ping.GetPing", [&] { return q->UpdateTask(1, 1); }},
        {"UnregisterTask", "report.SubmitReport", [&] { return unregister(1, 5000000); }},
        {"OnTimer", "ping.StopAll", [&] { return stat->OnTimer(0); }},
        {"OnMessage 0", "events.StartTimer", [&] { return stat->OnMessage(0, 0, 0); }},
    };
    for (const outer_call& outer : outers) {
        SCOPED_TRACE(outer.name);
        restart();
        ASSERT_EQ(S_OK, register_task(1));
        manual_clock::advance(40000);
        IQuorrin* held = q;
        held->AddRef();
        hook.at = outer.at;
        hook.action = [&] {
            plugin.reset();
            EXPECT_NE(nullptr, host->services().registered(IID_IQuorrin)) << "shut down under the call";
        };
        EXPECT_EQ(S_OK, outer.call());
        EXPECT_EQ(nullptr, hook.action) << "the host call was not made";
        EXPECT_EQ(nullptr, host->services().registered(IID_IQuorrin));
        EXPECT_TRUE(host->events().timers().empty());
        EXPECT_EQ(0u, host->events().advised());
        EXPECT_EQ(E_UNEXPECTED, held->UpdateTask(1, 2));
        EXPECT_EQ(0u, held->Release());
        EXPECT_EQ(0, quorrin::module_lock_count());
        expect_clean();
        q = nullptr;
        stat = nullptr;
    }
}

// The finish message is followed only while the UnregisterTask that sent it waits for it, on its
// thread, at its first delivery.
TEST_F(HostileCalls, OnlyThePendingFinishMessageIsFollowed) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    const std::string before = state();
    stray.task_id = 1;
    stray.cid = std::string(20, 'C');
    EXPECT_EQ(E_FAIL, stat->OnMessage(1, reinterpret_cast<std::uintptr_t>(&stray), 0));
    EXPECT_EQ(E_FAIL, stat->OnMessage(1, 0, 0));

    // Returned without delivering: nothing finished, and the late delivery is refused.
    host->events().sending = refhost::asyn_event_service::send_mode::drop;
    EXPECT_EQ(E_FAIL, unregister(1, 100));
    EXPECT_EQ(E_FAIL, stat->OnMessage(1, host->events().last_sent().param, 0));
    EXPECT_EQ(before, state());

    // Delivered on another thread while the sender waits: refused, the task still open.
    HRESULT elsewhere = S_OK;
    hook.at = "events.SendAsynMessage";
    hook.action = [&] {
        const refhost::asyn_event_service::message sent = host->events().last_sent();
        std::thread other([&] { elsewhere = sent.sink->OnMessage(sent.id, sent.param, sent.extra); });
        other.join();
    };
    EXPECT_EQ(E_FAIL, unregister(1, 100));
    EXPECT_EQ(RPC_E_CALL_REJECTED, elsewhere);
    EXPECT_EQ(before, state());

    // Delivered twice: the first finishes the task, the second is refused.
    host->events().sending = refhost::asyn_event_service::send_mode::twice;
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_EQ(RPC_E_CALL_REJECTED, host->events().second_result());
    EXPECT_EQ(nullptr, record(1));
    EXPECT_EQ(1u, reports().size());
}

// The host delivers the finish message itself inside SendAsynMessage, then the service's own
// delivery is refused: UnregisterTask answers with what the finish did, not with the refusal.
TEST_F(HostileCalls, EarlyFinishGivesItsOwnResult) {
    struct early_case {
        const char* name;
        std::string cid;
        HRESULT finished;
    };
    for (const early_case& c : {early_case{"finished", std::string(20, 'C'), S_OK},
                                early_case{"wrong cid", std::string(20, 'X'), E_FAIL}}) {
        SCOPED_TRACE(c.name);
        restart();
        ASSERT_EQ(S_OK, register_task(1));
        manual_clock::advance(20000);
        HRESULT early = S_FALSE;
        hook.at = "events.SendAsynMessage";
        hook.action = [&] {
            const refhost::asyn_event_service::message sent = host->events().last_sent();
            early = sent.sink->OnMessage(sent.id, sent.param, sent.extra);
        };
        EXPECT_EQ(c.finished, unregister(1, 100, c.cid));
        EXPECT_EQ(c.finished, early);
        EXPECT_EQ(c.finished == S_OK, record(1) == nullptr);
    }
}

// Uninitialize inside an engine call is refused; the last Release there shuts the plug-in down
// as the outermost call leaves, not under it.
TEST_F(HostileCalls, ShutDownWaitsForTheCallInProgress) {
    task_spec two_addresses;
    two_addresses.addresses = {"10.0.0.1", "10.0.0.2"};
    ASSERT_EQ(S_OK, register_task(1, two_addresses));
    hook.at = "ping.GetPing";
    hook.action = [&] {
        EXPECT_EQ(RPC_E_CALL_REJECTED, plugin->Uninitialize());
        plugin.reset();  // the host's only reference
        EXPECT_NE(nullptr, host->services().registered(IID_IQuorrin));
    };
    manual_clock::advance(3000);
    EXPECT_EQ(S_OK, q->UpdateTask(1, 1));
    EXPECT_EQ(nullptr, host->services().registered(IID_IQuorrin));
    EXPECT_EQ(0, quorrin::module_lock_count());
    expect_clean();
}

// The event service holds the sink for the length of a tick: let go of inside it, the statistics
// object is closed as the tick's call returns and goes with the service's own Release.
TEST_F(HostileCalls, ShutDownInsideATickLeavesTheSinkToItsHolder) {
    hook.at = "ping.StopAll";
    hook.action = [&] { plugin.reset(); };
    tick();
    EXPECT_EQ(nullptr, hook.action);
    EXPECT_EQ(nullptr, host->services().registered(IID_IQuorrin));
    EXPECT_EQ(0u, host->events().timers().size());
    EXPECT_EQ(0, quorrin::module_lock_count());
    expect_clean();
}

// Each allocation of a call fails in turn: the call returns E_OUTOFMEMORY and nothing changed,
// until the call needs no more and succeeds. A finish whose report cannot be built is the one
// exception: the task is finished (once) and the report lost.
TEST_F(HostileCalls, OutOfMemoryAtAnyAllocationChangesNothing) {
    host->stat_values().set("Quorrin", "low_count", 5);
    host->stat_values().set("Quorrin", "high_count", 5);
    restart();
    task_spec first, second;
    first.addresses = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    second.click_type = 0;
    second.addresses = {};
    second.offline_url = "u";
    ASSERT_EQ(S_OK, register_task(1, first));
    ASSERT_EQ(S_OK, register_task(2, second));
    std::uint64_t bytes = 0;
    for (int i = 0; i < 8; ++i) {  // fill the lists: later samples evict
        manual_clock::advance(1000);
        ASSERT_EQ(S_OK, q->UpdateTask(1, bytes += 1000 * (i % 3 + 1)));
    }
    // Everything the calls take from the test is made before the failures are armed.
    cdn_list third_addresses{"10.0.0.3", "10.0.0.9"};
    const std::string cid(20, 'C');
    const auto* cid_bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
    std::int32_t interval = 0;
    struct attempt {
        const char* name;
        std::function<HRESULT()> call;
    };
    const std::vector<attempt> attempts = {
        {"slowest sample", [&] { return q->UpdateTask(1, bytes); }},
        {"fastest sample", [&] { return q->UpdateTask(1, bytes + 90000000); }},
        {"register", [&] {
             return q->RegisterTask(3, 1, 1, 20, cid_bytes, 0, 20, cid_bytes, 0, 0, third_addresses.get(), &interval,
                                    nullptr);
         }},
        {"offline address", [&] { return q->AddOfflineCdnIp(1, "u", ip("10.0.0.8")); }},
        {"finish", [&] { return q->UnregisterTask(1, 20, cid_bytes, bytes + 90000000, nullptr, 0); }},
    };
    for (const attempt& a : attempts) {
        manual_clock::advance(20000);
        for (long n = 0;; ++n) {
            SCOPED_TRACE(std::string(a.name) + ", allocation " + std::to_string(n));
            const std::string before = state();
            alloc_failure::fail_after(n);
            const HRESULT hr = a.call();
            alloc_failure::fail_after(-1);
            if (hr != E_OUTOFMEMORY) {
                ASSERT_EQ(S_OK, hr);
                break;
            }
            if (std::string(a.name) == "finish" && record(1) == nullptr) break;  // the report was lost
            ASSERT_EQ(before, state());
        }
    }
    EXPECT_EQ(nullptr, record(1));
    EXPECT_NE(nullptr, record(3));
}

}  // namespace
