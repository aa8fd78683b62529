#include <algorithm>

#include "quorrin/plugin_interfaces.h"
#include "services.h"

namespace refhost {

asyn_event_service::~asyn_event_service() {
    for (timer& t : m_timers) t.sink->Release();
    for (IAsynMessageEvents* sink : m_sinks) sink->Release();
}

std::size_t asyn_event_service::deliver_posted() {
    std::size_t delivered = 0;
    while (!m_queue.empty()) {
        const message m = m_queue.front();
        m_queue.pop_front();
        m_posted_results.push_back(deliver(m.sink, m.id, m.param, m.extra));
        ++delivered;
    }
    return delivered;
}

HRESULT asyn_event_service::deliver(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param, std::uint32_t extra) {
    const module_callback in_module(m_log->hook);
    return sink->OnMessage(id, param, extra);
}

bool asyn_event_service::holds(const IAsynMessageEvents* sink) const {
    return std::find(m_sinks.begin(), m_sinks.end(), sink) != m_sinks.end();
}

bool asyn_event_service::holds(const IAsynTimerEvents* sink) const {
    return std::any_of(m_timers.begin(), m_timers.end(), [sink](const timer& t) { return t.sink == sink; });
}

void asyn_event_service::fire_timers() {
    // A sink may stop its timers from inside OnTimer: walk a copy, holding each sink meanwhile.
    const std::vector<timer> running = m_timers;
    for (const timer& t : running) {
        // Stopped by an earlier tick of this walk: its sink may be gone.
        if (std::none_of(m_timers.begin(), m_timers.end(),
                         [&](const timer& r) { return r.sink == t.sink && r.id == t.id; })) {
            continue;
        }
        t.sink->AddRef();
        {
            const module_callback in_module(m_log->hook);
            t.sink->OnTimer(t.id);
        }
        t.sink->Release();
    }
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [](timer& t) {
                                      if (t.repeat) return false;
                                      t.sink->Release();
                                      return true;
                                  }),
                   m_timers.end());
}

HRESULT asyn_event_service::StartTimer(IAsynTimerEvents* sink, std::uint32_t timer_id, std::uint32_t period_ms,
                                       std::int32_t repeat) {
    const hooked_call hooked(m_log->hook, "events.StartTimer");
    if (m_log->active()) {
        m_log->add("events.StartTimer " + std::to_string(timer_id) + " " + std::to_string(period_ms) + " " +
                   std::to_string(repeat));
    }
    if (!sink) return E_POINTER;
    if (start_timer_fails) return E_FAIL;
    sink->AddRef();
    m_timers.push_back(timer{sink, timer_id, period_ms, repeat});
    return S_OK;
}

HRESULT asyn_event_service::StopTimers(IAsynTimerEvents* sink) {
    const hooked_call hooked(m_log->hook, "events.StopTimers");
    if (m_log->active()) m_log->add("events.StopTimers");
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->sink == sink) {
            it->sink->Release();
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
    return S_OK;
}

HRESULT asyn_event_service::AdviseMessages(IAsynMessageEvents* sink) {
    const hooked_call hooked(m_log->hook, "events.AdviseMessages");
    if (m_log->active()) m_log->add("events.AdviseMessages");
    if (!sink) return E_POINTER;
    if (advise_fails) return E_FAIL;
    sink->AddRef();
    m_sinks.push_back(sink);
    return S_OK;
}

HRESULT asyn_event_service::UnadviseMessages(IAsynMessageEvents* sink) {
    const hooked_call hooked(m_log->hook, "events.UnadviseMessages");
    if (m_log->active()) m_log->add("events.UnadviseMessages");
    const auto found = std::find(m_sinks.begin(), m_sinks.end(), sink);
    if (found == m_sinks.end()) return E_FAIL;
    m_sinks.erase(found);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [sink](const message& m) { return m.sink == sink; }),
                  m_queue.end());
    sink->Release();
    return S_OK;
}

HRESULT asyn_event_service::PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                            std::uint32_t extra) {
    const hooked_call hooked(m_log->hook, "events.PostAsynMessage");
    if (m_log->active()) m_log->add("events.PostAsynMessage " + std::to_string(id));
    if (!sink) return E_POINTER;
    if (post_fails) return E_FAIL;
    m_queue.push_back(message{sink, id, param, extra});
    return S_OK;
}

HRESULT asyn_event_service::SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                            std::uint32_t extra) {
    m_last_sent = message{sink, id, param, extra};
    const hooked_call hooked(m_log->hook, "events.SendAsynMessage");
    if (m_log->active()) m_log->add("events.SendAsynMessage " + std::to_string(id));
    if (!sink) return E_POINTER;
    if (send_fails) return E_FAIL;
    if (sending == send_mode::drop) return S_OK;
    const HRESULT first = deliver(sink, id, param, extra);
    if (sending == send_mode::twice) m_second_result = deliver(sink, id, param, extra);
    return first;
}

}  // namespace refhost
