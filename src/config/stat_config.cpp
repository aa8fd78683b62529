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
std::uint32_t read_bounded(const config_value& c) {
    const auto value = static_cast<std::uint32_t>(stat_data::value_of(c));
    return value < c.lower_bound ? c.lower_bound : value;
}

}  // namespace

void stat_config::load() {
    m_sample_interval = read_bounded(kSampleInterval);
    m_overdue = read_bounded(kOverdue);
    m_low_count = read_bounded(kLowCount);
    m_high_count = read_bounded(kHighCount);
    m_dt_duration = read_bounded(kDtDuration);
}

}  // namespace quorrin
