// A ready asynchronous event service (IAsynEventService) for a host that has no message loop of
// its own to bridge to: posted messages wait in a queue and timers wait for their moment until the
// host calls pump() from its loop; sent messages are delivered at once. Every method and pump()
// belong on the one thread that makes the host's IQuorrin calls, and pump() must not be called
// from inside a call to the module.
//
//   quorrin::event_service* events = new quorrin::event_service;  // GetService(SID_AsynEventService)
//   for (;;) { events->pump(); ...the host's own calls...; sleep until events->next_timer(); }
//
// Results: E_POINTER for a null sink; E_INVALIDARG from UnadviseMessages and PostAsynMessage for a
// sink that is not advised, and from AdviseMessages for one that is; E_OUTOFMEMORY when memory
// runs out. The service holds a reference to each advised sink and to each sink with a timer.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "quorrin/com_types.h"
#include "quorrin/host_object.h"
#include "quorrin/host_services.h"
#include "quorrin/plugin_interfaces.h"

namespace quorrin {

class event_service : public host_object<IAsynEventService> {
public:
    typedef std::chrono::steady_clock clock_type;

    // OnTimer(timer_id) period_ms from now and, when repeat is not 0, every period_ms after that.
    // Starting a sink's timer again under the same id restarts it.
    HRESULT STDMETHODCALLTYPE StartTimer(IAsynTimerEvents* sink, std::uint32_t timer_id, std::uint32_t period_ms,
                                         std::int32_t repeat) override {
        if (!sink) return E_POINTER;
        const std::chrono::milliseconds period(period_ms);
        const timer fresh = {sink, timer_id, period, clock_type::now() + period, repeat != 0};
        if (timer* running = find(sink, timer_id)) {
            *running = fresh;  // the same sink: the reference it holds stays
            return S_OK;
        }
        if (!append(m_timers, fresh)) return E_OUTOFMEMORY;
        sink->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE StopTimers(IAsynTimerEvents* sink) override {
        if (!sink) return E_POINTER;
        for (std::size_t i = m_timers.size(); i-- > 0;)
            if (m_timers[i].sink == sink) remove_timer(i);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdviseMessages(IAsynMessageEvents* sink) override {
        if (!sink) return E_POINTER;
        if (advised(sink)) return E_INVALIDARG;
        if (!append(m_sinks, sink)) return E_OUTOFMEMORY;
        sink->AddRef();
        return S_OK;
    }
    // Messages still queued for sink are dropped: nothing reaches a sink after it is withdrawn.
    HRESULT STDMETHODCALLTYPE UnadviseMessages(IAsynMessageEvents* sink) override {
        if (!sink) return E_POINTER;
        if (!advised(sink)) return E_INVALIDARG;
        for (std::size_t i = m_posted.size(); i-- > 0;)
            if (m_posted[i].sink == sink) m_posted.erase(m_posted.begin() + static_cast<std::ptrdiff_t>(i));
        for (std::size_t i = m_sinks.size(); i-- > 0;)
            if (m_sinks[i] == sink) m_sinks.erase(m_sinks.begin() + static_cast<std::ptrdiff_t>(i));
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override {
        if (!sink) return E_POINTER;
        if (!advised(sink)) return E_INVALIDARG;
        const message posted = {sink, id, param, extra};
        return append(m_posted, posted) ? S_OK : E_OUTOFMEMORY;
    }
    // Delivered before it returns, advised or not: the caller waits for it (the module finishes a
    // task inside the OnMessage of the message it sends).
    HRESULT STDMETHODCALLTYPE SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override {
        if (!sink) return E_POINTER;
        return sink->OnMessage(id, param, extra);
    }

    // Delivers every posted message in order (also those posted meanwhile), then each timer due at
    // now, once; a repeating one is next due a period after now.
    void pump(clock_type::time_point now = clock_type::now()) {
        while (!m_posted.empty()) {
            const message m = m_posted.front();
            m_posted.pop_front();
            m.sink->AddRef();  // the sink may withdraw itself while it handles the message
            m.sink->OnMessage(m.id, m.param, m.extra);
            m.sink->Release();
        }
        // Each timer that was set when the pump began fires at most once, however OnTimer
        // starts or stops timers.
        for (std::size_t budget = m_timers.size(); budget > 0; --budget) {
            std::size_t due = 0;
            while (due < m_timers.size() && m_timers[due].due > now) ++due;
            if (due == m_timers.size()) break;
            IAsynTimerEvents* sink = m_timers[due].sink;
            const std::uint32_t id = m_timers[due].id;
            sink->AddRef();
            if (m_timers[due].repeat) {
                m_timers[due].due = now + (std::max)(m_timers[due].period, clock_type::duration(1));
            } else {
                remove_timer(due);
            }
            sink->OnTimer(id);
            sink->Release();
        }
    }
    // When the next timer is due (time_point::max() when none is set): a loop may sleep until then.
    clock_type::time_point next_timer() const {
        clock_type::time_point next = clock_type::time_point::max();
        for (const timer& t : m_timers)
            if (t.due < next) next = t.due;
        return next;
    }

protected:
    ~event_service() override {
        for (const timer& t : m_timers) t.sink->Release();
        for (IAsynMessageEvents* sink : m_sinks) sink->Release();
    }

private:
    struct timer {
        IAsynTimerEvents* sink;  // one reference per timer
        std::uint32_t id;
        clock_type::duration period;
        clock_type::time_point due;
        bool repeat;
    };
    struct message {
        IAsynMessageEvents* sink;  // advised, so held by the service
        std::uint32_t id;
        std::uintptr_t param;
        std::uint32_t extra;
    };

    template <class Container, class Value>
    static bool append(Container& to, const Value& value) {
        return detail::no_throw([&]() -> HRESULT {
                   to.push_back(value);
                   return S_OK;
               }) == S_OK;
    }
    bool advised(IAsynMessageEvents* sink) const {
        for (IAsynMessageEvents* s : m_sinks)
            if (s == sink) return true;
        return false;
    }
    timer* find(IAsynTimerEvents* sink, std::uint32_t id) {
        for (timer& t : m_timers)
            if (t.sink == sink && t.id == id) return &t;
        return nullptr;
    }
    void remove_timer(std::size_t index) {
        IAsynTimerEvents* sink = m_timers[index].sink;
        m_timers.erase(m_timers.begin() + static_cast<std::ptrdiff_t>(index));
        sink->Release();
    }

    std::vector<timer> m_timers;
    std::vector<IAsynMessageEvents*> m_sinks;
    std::deque<message> m_posted;
};

}  // namespace quorrin
