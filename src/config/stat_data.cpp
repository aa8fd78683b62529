#include "config/stat_data.h"

#include <new>
#include <utility>

#include "support/text.h"

namespace quorrin {

stat_data* stat_data::s_instance = nullptr;

void stat_data::create(IStatDataService* service) {
    if (s_instance) return;
    s_instance = new stat_data(service);
}

void stat_data::release() { delete std::exchange(s_instance, nullptr); }

std::int32_t stat_data::get_int(std::string_view section, std::string_view key, std::int32_t fallback) const {
    if (!m_service) return fallback;
    std::int32_t value = fallback;
    const HRESULT hr = m_service->GetInt(host_length(section), host_chars(section), host_length(key), host_chars(key), &value);
    return FAILED(hr) ? fallback : value;
}

}  // namespace quorrin
