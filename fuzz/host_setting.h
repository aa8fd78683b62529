// The host that the input describes: which services it offers, its settings and clock, and how
// its services misbehave; and which of them the plug-in's start-up keeps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "call_hook.h"
#include "model.h"
#include "session.h"

class host_setting {
public:
    explicit host_setting(session& s) : m_s(s) {}

    // Makes the host, its calls seen by hook.
    void set_up(refhost::call_hook* hook);
    // Between two plug-in sessions: a service taken away or given back, other settings or failures.
    void change_between_sessions();
    void toggle_behaviour();
    void change_values();
    void step_clock();
    // The services that the start-up sequence should have kept.
    kept_services kept() const;

private:
    void configure();
    template <std::size_t N>
    void config_value(refhost::value_table& table, const char* section, const char* key, const std::int32_t (&options)[N]);
    void choose_failing_services();

    session& m_s;
    bool m_present[8] = {};
    std::uint32_t m_failing = 0;
};
