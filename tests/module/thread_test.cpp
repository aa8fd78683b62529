// A second host thread that calls in while the first is blocked inside a host call that the
// module made: every engine call is refused and changes nothing; a release of the plug-in's last
// reference is served, and its shut-down waits until the blocked call returns.
#include <chrono>
#include <condition_variable>
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

}  // namespace
