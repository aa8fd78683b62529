#include "hostile_host.h"

#include <cstring>
#include <string>

#include "call_arguments.h"

namespace {

bool is(const char* call, const char* name) { return std::strcmp(call, name) == 0; }

}  // namespace

void hostile_host::enter(const char* call) {
    m_context.push_back(fuzz_in_module(false));
    if (is(call, "events.SendAsynMessage")) {
        pending_finish& pending = m_s.expected.pending;
        if (pending.active && m_sending == 0) pending.message = m_s.host->events().last_sent().param;
        ++m_sending;
    }
    m_calls.push_back({call, m_nesting});
    if (m_s.hostile && m_depth > 0 && m_nesting < kMaxNesting && !m_s.in.exhausted()) position();
}

void hostile_host::leave(const char* call) {
    if (is(call, "events.SendAsynMessage")) --m_sending;
    m_calls.pop_back();
    fuzz_in_module(m_context.back());
    m_context.pop_back();
}

void hostile_host::calls_module(bool starts) {
    if (starts) {
        // SendAsynMessage's own delivery of the finish message is its first, unless one came early;
        // a delivery of the host's from a position inside SendAsynMessage is not its own.
        if (m_s.expected.pending.active && !m_calls.empty() && is(m_calls.back().name, "events.SendAsynMessage") &&
            m_calls.back().nesting == m_nesting) {
            m_s.expected.pending.served = true;
        }
        m_context.push_back(fuzz_in_module(true));
        ++m_depth;
    } else {
        --m_depth;
        fuzz_in_module(m_context.back());
        m_context.pop_back();
    }
}

unsigned hostile_host::next_countdown() {
    // Mostly one of the next few positions; now and then one deep inside a long call.
    const std::uint8_t b = m_s.in.byte();
    return b < 192 ? b % 4 : (b - 192u) * 4u;
}

void hostile_host::position() {
    if (m_countdown > 0) {
        --m_countdown;
        return;
    }
    const std::uint8_t kind = m_s.in.byte();
    ++m_nesting;
    if (kind % 16 >= 13) {
        nested_plugin_call(kind);
    } else if (quorrin::CQuorrin* stat = m_s.reachable()) {
        nested_engine_call(stat, kind);
    }
    --m_nesting;
    m_countdown = next_countdown();
}

void hostile_host::nested_engine_call(quorrin::CQuorrin* stat, std::uint8_t kind) {
    IQuorrin* q = stat;
    IAsynMessageEvents* sink = stat;
    refhost::asyn_event_service& events = m_s.host->events();
    const before_call at = m_s.before(true);
    const auto refused = [&](HRESULT hr, const char* what) {
        expect(hr == RPC_E_CALL_REJECTED, what);
        m_s.expect_unchanged(at, what);
    };
    switch (kind % 16) {
        case 0: {
            const std::string cid(20, 'N');
            std::int32_t interval = -7;
            const std::int32_t id = m_s.task_id();
            const HRESULT hr = call_module([&] {
                return q->RegisterTask(id, 1, 0, 20, reinterpret_cast<const std::uint8_t*>(cid.data()), 1, 0, nullptr, 0, 0,
                                       nullptr, &interval, nullptr);
            });
            refused(hr, "RegisterTask from inside a host call");
            expect(interval == -7, "a refused RegisterTask wrote the interval");
            break;
        }
        case 1: {
            const std::int32_t id = m_s.task_id();
            const std::uint64_t bytes = m_s.in.u32();
            refused(call_module([&] { return q->UpdateTask(id, bytes); }), "UpdateTask from inside a host call");
            break;
        }
        case 2: {
            const std::int32_t id = m_s.task_id();
            const auto found = m_s.expected.tasks.find(id);
            const std::string cid = found == m_s.expected.tasks.end() ? std::string(20, 'C') : found->second.cid;
            const HRESULT hr = call_module([&] {
                return q->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                         reinterpret_cast<const std::uint8_t*>(cid.data()), 0, nullptr, 0);
            });
            refused(hr, "UnregisterTask from inside a host call");
            break;
        }
        case 3: {
            const char* url = m_s.in.pick(kUrls);
            const std::uint32_t address = m_s.in.u32();
            const HRESULT hr = call_module(
                [&] { return q->AddOfflineCdnIp(static_cast<std::uint32_t>(std::strlen(url)), url, address); });
            refused(hr, "AddOfflineCdnIp from inside a host call");
            break;
        }
        case 4:
            refused(call_module([&] { return static_cast<IAsynTimerEvents*>(stat)->OnTimer(0); }),
                    "OnTimer from inside a host call");
            break;
        case 5:
            refused(events.deliver(sink, 0, 0, 0), "message 0 from inside a host call");
            break;
        case 6:
        case 7:
            nested_finish(sink, at);
            break;
        case 8:
            refused(events.deliver(sink, 2 + m_s.in.byte(), 0, 0), "another message from inside a host call");
            break;
        case 9:
            refused(call_module([&] { return sink->OnMessageEvent(1, 2, 3); }), "OnMessageEvent from inside a host call");
            break;
        case 10: {
            // Reference counts are never refused, and change nothing else.
            quorrin::com_ptr<IAsynTimerEvents> timer_sink;
            expect(call_module([&] { return q->QueryInterface(IID_IAsynTimerEvents, timer_sink.put_void()); }) == S_OK,
                   "QueryInterface from inside a host call");
            call_module([&] {
                timer_sink.reset();
                return S_OK;
            });
            m_s.expect_unchanged(at, "QueryInterface and Release from inside a host call");
            break;
        }
        default:
            call_module([&] {
                q->AddRef();
                q->Release();
                return S_OK;
            });
            m_s.expect_unchanged(at, "AddRef and Release from inside a host call");
            break;
    }
}

// Message 1 is served only as the finish that the waiting UnregisterTask sent, on its thread
// inside its SendAsynMessage, at its first delivery; any other is refused while a call runs.
void hostile_host::nested_finish(IAsynMessageEvents* sink, const before_call& at) {
    pending_finish& pending = m_s.expected.pending;
    const bool awaited = pending.active && !pending.served && m_sending > 0;
    std::uintptr_t param = 0;
    switch (m_s.in.byte() % 4) {
        case 0: param = m_s.host->events().last_sent().param; break;
        case 1: param = 0; break;
        case 2: param = m_s.in.u32(); break;
        default: param = pending.message; break;
    }
    refhost::asyn_event_service& events = m_s.host->events();
    if (!awaited || param != pending.message || param == 0) {
        expect(events.deliver(sink, 1, param, 0) == RPC_E_CALL_REJECTED, "a finish message delivered inside a call, served");
        m_s.expect_unchanged(at, "a finish message delivered inside a call, served");
        return;
    }
    pending.served = true;
    pending.served_early = true;
    pending.result = events.deliver(sink, 1, param, 0);
    m_s.expected.finished(pending.result, at, m_s.gone ? nullptr : m_s.reachable(), *m_s.host);
}

void hostile_host::nested_plugin_call(std::uint8_t kind) {
    if (!m_s.plugin) return;
    const before_call at = m_s.before(true);
    switch (kind % 3) {
        case 0:
            expect(call_module([&] { return m_s.plugin->Uninitialize(); }) == RPC_E_CALL_REJECTED,
                   "Uninitialize from inside a host call");
            m_s.expect_unchanged(at, "Uninitialize from inside a host call");
            break;
        case 1:
            expect(call_module([&] { return m_s.plugin->Initialize(m_s.host->provider()); }) == RPC_E_CALL_REJECTED,
                   "Initialize from inside a host call");
            m_s.expect_unchanged(at, "Initialize from inside a host call");
            break;
        default:
            // The host lets the plug-in go from inside a call: the object may go at once, its
            // shut-down waits for the outermost call to leave.
            if (!m_s.in.rarely(3)) break;
            m_s.gone = true;
            call_module([&] {
                m_s.plugin.reset();
                return S_OK;
            });
            m_s.expect_unchanged(at, "the plug-in's shut-down ran inside a call");
            break;
    }
}
