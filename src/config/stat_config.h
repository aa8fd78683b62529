// The five tuning parameters, loaded once from the host's "Quorrin" section and read-only after.
#pragma once

#include <cstdint>

namespace quorrin {

class stat_config {
public:
    // Created on first use with the values before loading (2000, 30000, 10, 10, 10000).
    static stat_config* instance();
    static void release();

    // Reads the "Quorrin" keys through stat_data and raises each to its lower bound (unsigned).
    void load();

    std::uint32_t sample_interval() const { return m_sample_interval; }
    std::uint32_t overdue() const { return m_overdue; }
    std::uint32_t low_count() const { return m_low_count; }
    std::uint32_t high_count() const { return m_high_count; }
    std::uint32_t dt_duration() const { return m_dt_duration; }

private:
    stat_config() = default;

    std::uint32_t m_sample_interval = 2000;
    std::uint32_t m_overdue = 30000;
    std::uint32_t m_low_count = 10;
    std::uint32_t m_high_count = 10;
    std::uint32_t m_dt_duration = 10000;

    static stat_config* s_instance;
};

}  // namespace quorrin
