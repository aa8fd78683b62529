#include "config/stat_data.h"

#include <new>
#include <utility>

#include "config/host_lookup.h"

namespace quorrin {

stat_data* stat_data::s_instance = nullptr;

void stat_data::create(IStatDataService* service) {
    if (s_instance) return;
    s_instance = new stat_data(service);
}

void stat_data::release() { delete std::exchange(s_instance, nullptr); }

std::int32_t stat_data::get_int(std::string_view section, std::string_view key, std::int32_t fallback) const {
    return lookup_int(m_service.get(), section, key, fallback);
}

}  // namespace quorrin
