// A second host thread that calls in while the first is blocked inside a host call that the
// module made: every engine call is refused and changes nothing; a release of the plug-in's last
// reference is served, and its shut-down waits until the blocked call returns.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <string>
#include <vector>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "module_fixture.h"

namespace {

using quorrin::com_ptr;

// Holds the first thread inside one named host call until the test lets it go.
class blocking_hook final : public refhost::call_hook {
public:
    explicit blocking_hook(const char* call) : m_call(call) {}

    void enter(const char* call) override {
        if (std::strcmp(call, m_call) != 0) return;
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_state != state::armed) return;
        m_state = state::blocked;
        m_changed.notify_all();
        // Bounded, so that a broken test fails instead of hanging the run.
        m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_state == state::released; });
    }
    void leave(const char*) override {}
    void calls_module(bool) override {}

    bool wait_until_blocked() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_state == state::blocked; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = state::released;
        m_changed.notify_all();
    }

private:
    enum class state { armed, blocked, released };
    const char* m_call;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    state m_state = state::armed;
};

class SecondThread : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        host->stat_values().set("Quorrin", "sample_interval", 1000);
        plugin = create_plugin();
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        host->events().deliver_posted();
        q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
        ASSERT_NE(nullptr, q);
        std::memcpy(entry.chars, "10.0.0.1", 8);
        entry.length = 8;
        std::int32_t interval = 0;
        ASSERT_EQ(S_OK, q->RegisterTask(1, 1, 1, 20, cid(), 100, 0, nullptr, 0, 0, &array, &interval, nullptr));
        ASSERT_EQ(S_OK, q->RegisterTask(2, 1, 0, 20, cid(), 100, 0, nullptr, 0, 0, nullptr, &interval, nullptr));
    }
    void TearDown() override {
        host->log.hook = nullptr;
        plugin.reset();
        ModuleTest::TearDown();
    }
    const std::uint8_t* cid() const { return reinterpret_cast<const std::uint8_t*>(cid_text); }

    // Finishes task 1 on a thread of its own, which stays inside the ping service's GetPing (the
    // finish withdrawing the task's address) until second_thread has run.
    template <class F>
    HRESULT finish_while(F second_thread) {
        blocking_hook hook("ping.GetPing");
        host->log.hook = &hook;
        HRESULT finished = E_UNEXPECTED;
        std::thread first([&] { finished = q->UnregisterTask(1, 20, cid(), 500, nullptr, 0); });
        if (hook.wait_until_blocked()) {
            second_thread();
        } else {
            ADD_FAILURE() << "the first thread never reached GetPing";
        }
        hook.release();
        first.join();
        host->log.hook = nullptr;
        return finished;
    }

    const char* cid_text = "0123456789abcdefghij";
    cdn_ip_entry entry{};
    cdn_ip_array array{1, &entry};
    com_ptr<IDownloadLibPlugin> plugin;
    IQuorrin* q = nullptr;
};

TEST_F(SecondThread, EngineCallsAreRefusedAndChangeNothing) {
    const HRESULT finished = finish_while([&] {
        std::int32_t interval = -7;
        EXPECT_EQ(RPC_E_CALL_REJECTED,
                  q->RegisterTask(3, 1, 1, 20, cid(), 100, 0, nullptr, 0, 0, &array, &interval, nullptr));
        EXPECT_EQ(-7, interval);
        EXPECT_EQ(RPC_E_CALL_REJECTED, q->UpdateTask(2, 1000));
        EXPECT_EQ(RPC_E_CALL_REJECTED, q->UnregisterTask(2, 20, cid(), 1000, nullptr, 0));
        EXPECT_EQ(RPC_E_CALL_REJECTED, q->AddOfflineCdnIp(3, "url", 0x0200000A));
        com_ptr<IAsynTimerEvents> timer;
        ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynTimerEvents, timer.put_void()));
        EXPECT_EQ(RPC_E_CALL_REJECTED, timer->OnTimer(0));
        com_ptr<IAsynMessageEvents> messages;
        ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynMessageEvents, messages.put_void()));
        EXPECT_EQ(RPC_E_CALL_REJECTED, messages->OnMessage(0, 0, 0));
        EXPECT_EQ(RPC_E_CALL_REJECTED, messages->OnMessage(1, 0, 0));
        EXPECT_EQ(RPC_E_CALL_REJECTED, messages->OnMessage(2, 0, 0));
        EXPECT_EQ(RPC_E_CALL_REJECTED, messages->OnMessageEvent(0, 0, 0));
        EXPECT_EQ(RPC_E_CALL_REJECTED, plugin->Uninitialize());
        EXPECT_EQ(RPC_E_CALL_REJECTED, plugin->Initialize(host->provider()));
    });
    EXPECT_EQ(S_OK, finished);

    // Task 3 was not registered, task 2 neither sampled nor finished, the plug-in still up.
    EXPECT_EQ(std::set<std::uint32_t>{}, host->ping().told());
    std::int32_t interval = 0;
    EXPECT_EQ(S_OK, q->RegisterTask(3, 1, 1, 20, cid(), 100, 0, nullptr, 0, 0, &array, &interval, nullptr));
    EXPECT_EQ(std::set<std::uint32_t>{0x0100000A}, host->ping().told());
    EXPECT_EQ(S_OK, q->UpdateTask(2, 1000));
    EXPECT_EQ(S_OK, q->UnregisterTask(2, 20, cid(), 1000, nullptr, 0));
    EXPECT_EQ(E_FAIL, q->UnregisterTask(1, 20, cid(), 500, nullptr, 0));
    EXPECT_NE(nullptr, host->services().registered(IID_IQuorrin));
    EXPECT_EQ(S_OK, plugin->Uninitialize());
}

TEST_F(SecondThread, LastReleaseShutsDownWhenTheBlockedCallReturns) {
    const HRESULT finished = finish_while([&] {
        plugin.reset();
        // Freed, but its shut-down waits for the call in progress.
        EXPECT_NE(nullptr, host->services().registered(IID_IQuorrin));
        EXPECT_EQ(1u, host->events().advised());
    });
    EXPECT_EQ(S_OK, finished);
    EXPECT_EQ(0u, host->services().registered_count());
    EXPECT_EQ(0u, host->events().advised());
    EXPECT_TRUE(host->events().timers().empty());
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
    host->ping().StopAll();  // open task 2 went without telling the ping service
}

// A host whose SendAsynMessage hands the finish message to another thread. Delivered there while
// the sender waits, or after it gave up: refused, nothing finished, the message's memory never
// followed; UnregisterTask answers as for a message that was not delivered.
TEST_F(SecondThread, FinishMessageDeliveredOnAnotherThreadFinishesNothing) {
    for (const bool while_waiting : {true, false}) {
        SCOPED_TRACE(while_waiting ? "while the sender waits" : "after the sender returned");
        struct handing_over final : refhost::call_hook {
            refhost::asyn_event_service* events = nullptr;
            bool join_inside = true;
            std::thread other;
            HRESULT delivered = S_FALSE;
            void enter(const char* call) override {
                if (std::strcmp(call, "events.SendAsynMessage") != 0 || other.joinable()) return;
                const refhost::asyn_event_service::message sent = events->last_sent();
                other = std::thread([this, sent] { delivered = sent.sink->OnMessage(sent.id, sent.param, sent.extra); });
                if (join_inside) other.join();
            }
            void leave(const char*) override {}
            void calls_module(bool) override {}
        } hook;
        hook.events = &host->events();
        hook.join_inside = while_waiting;
        host->events().sending = refhost::asyn_event_service::send_mode::drop;
        host->log.hook = &hook;
        EXPECT_EQ(E_FAIL, q->UnregisterTask(2, 20, cid(), 500, nullptr, 0));
        if (hook.other.joinable()) hook.other.join();
        host->log.hook = nullptr;
        if (while_waiting) {
            EXPECT_EQ(RPC_E_CALL_REJECTED, hook.delivered);
        } else {
            EXPECT_TRUE(hook.delivered == RPC_E_CALL_REJECTED || hook.delivered == E_FAIL) << hook.delivered;
        }
    }
    host->events().sending = refhost::asyn_event_service::send_mode::deliver;
    EXPECT_EQ(S_OK, q->UnregisterTask(2, 20, cid(), 500, nullptr, 0));  // still open until now
}

// One thread plays a session while another calls every entry and takes and drops references, as
// fast as it can: each call is served with its own result or refused whole, and the counts come
// out right (Uninitialize checks the statistics object's). Run under ThreadSanitizer too.
TEST_F(SecondThread, SessionBesideEveryEntryAndReferencesFromAnotherThread) {
    struct entry {
        const char* name;
        HRESULT served;
        std::function<HRESULT()> call;
    };
    com_ptr<IAsynTimerEvents> timer;
    com_ptr<IAsynMessageEvents> messages;
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynTimerEvents, timer.put_void()));
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynMessageEvents, messages.put_void()));
    std::int32_t interval = 0;
    const std::vector<entry> entries = {
        {"UpdateTask", S_OK, [&] { return q->UpdateTask(2, 100); }},
        {"RegisterTask", E_FAIL, [&] { return q->RegisterTask(2, 1, 0, 20, cid(), 1, 0, nullptr, 0, 0, nullptr, &interval, nullptr); }},
        {"UnregisterTask", E_FAIL, [&] { return q->UnregisterTask(-1, 20, cid(), 1, nullptr, 0); }},  // no such task
        {"AddOfflineCdnIp", S_OK, [&] { return q->AddOfflineCdnIp(3, "url", 0x0300000A); }},
        {"OnTimer", S_OK, [&] { return timer->OnTimer(0); }},
        {"OnMessage 0", S_OK, [&] { return messages->OnMessage(0, 0, 0); }},
        {"OnMessage 1", E_FAIL, [&] { return messages->OnMessage(1, 0, 0); }},
        {"OnMessage 2", E_FAIL, [&] { return messages->OnMessage(2, 0, 0); }},
        {"OnMessageEvent", S_OK, [&] { return messages->OnMessageEvent(0, 0, 0); }},
        {"Initialize", E_UNEXPECTED, [&] { return plugin->Initialize(host->provider()); }},
    };

    std::atomic<bool> session_done{false};
    std::atomic<int> refused{0};
    std::vector<std::string> wrong;  // written by the second thread only, read after the join
    std::thread second([&] {
        for (std::size_t i = 0; !session_done.load(); ++i) {
            const entry& e = entries[i % entries.size()];
            const HRESULT hr = e.call();
            if (hr == RPC_E_CALL_REJECTED) {
                ++refused;
            } else if (hr != e.served) {
                wrong.push_back(std::string(e.name) + " gave " + std::to_string(hr));
            }
            com_ptr<IUnknown> unknown;
            q->QueryInterface(IID_IUnknown, unknown.put_void());
            q->AddRef();
            q->Release();
            plugin->AddRef();
            plugin->Release();
        }
    });

    // The session: every call retried until it is not refused, then its own result. Each is made
    // holding a reference, as an event service holds its sink around a delivery.
    const auto served = [&](const std::function<HRESULT()>& call) {
        for (int attempt = 0; attempt < 100000; ++attempt) {
            const com_ptr<IQuorrin> held(q);
            const HRESULT hr = call();
            if (hr != RPC_E_CALL_REJECTED) return hr;
            ++refused;
            std::this_thread::yield();
        }
        return RPC_E_CALL_REJECTED;
    };
    constexpr std::int32_t kTasks = 200;
    for (std::int32_t id = 10; id < 10 + kTasks; ++id) {
        std::int32_t given = 0;
        EXPECT_EQ(S_OK, served([&] {
                      return q->RegisterTask(id, 1, 1, 20, cid(), 1000, 0, nullptr, 0, 0, &array, &given, nullptr);
                  }));
        for (std::uint64_t bytes = 100; bytes <= 300; bytes += 100) {
            EXPECT_EQ(S_OK, served([&] { return q->UpdateTask(id, bytes); }));
        }
        if (id % 10 == 0) {
            EXPECT_EQ(S_OK, served([&] { return timer->OnTimer(0); }));
        }
        EXPECT_EQ(S_OK, served([&] { return q->UnregisterTask(id, 20, cid(), 400, nullptr, 0); }));
    }
    session_done = true;
    second.join();
    for (const std::string& w : wrong) ADD_FAILURE() << w;
    RecordProperty("refused", refused.load());

    // Tasks 1 and 2 of the set-up are still open; every session task is gone.
    EXPECT_EQ(S_OK, served([&] { return q->UnregisterTask(2, 20, cid(), 1000, nullptr, 0); }));
    EXPECT_EQ(E_FAIL, q->UnregisterTask(10, 20, cid(), 400, nullptr, 0));
    timer.reset();
    messages.reset();
    EXPECT_EQ(S_OK, plugin->Uninitialize());
    plugin.reset();
    EXPECT_EQ(S_OK, module->DllCanUnloadNow());
}

}  // namespace
