#include "config/stat_config.h"

#include <new>
#include <utility>

#include "config/stat_data.h"

namespace quorrin {

stat_config* stat_config::s_instance = nullptr;

stat_config* stat_config::instance() {
    if (!s_instance) s_instance = new stat_config();
    return s_instance;
}

void stat_config::release() { delete std::exchange(s_instance, nullptr); }

namespace {

// Negative host values read as large unsigned ones and so pass the bound unchanged.
std::uint32_t read_bounded(const char* key, std::int32_t fallback, std::uint32_t lower_bound) {
    const stat_data* data = stat_data::instance();
    const auto value = static_cast<std::uint32_t>(data ? data->get_int("Quorrin", key, fallback) : fallback);
    return value < lower_bound ? lower_bound : value;
}

}  // namespace

void stat_config::load() {
    m_sample_interval = read_bounded("sample_interval", 3000, 1000);
    m_overdue = read_bounded("overdue", 30000, 10000);
    m_low_count = read_bounded("low_count", 14, 5);
    m_high_count = read_bounded("high_count", 14, 5);
    m_dt_duration = read_bounded("dt_duration", 15000, 0);
}

}  // namespace quorrin
