#include "config/setting.h"

#include <new>
#include <utility>

#include "config/host_lookup.h"
#include "support/text.h"

namespace quorrin {

bool show_peer_id = false;
bool ignore_user_set_speed = false;

setting* setting::s_instance = nullptr;

void setting::create(ISettingsService* service) {
    if (s_instance) return;
    s_instance = new setting(service);
}

void setting::release() { delete std::exchange(s_instance, nullptr); }

setting::setting(ISettingsService* service) : m_service(service) {
    show_peer_id = get_bool(kShowPeerId);
    ignore_user_set_speed = get_bool(kIgnoreUserSetSpeed);
}

std::int32_t setting::get_int(std::string_view section, std::string_view key, std::int32_t fallback) const {
    return lookup_int(m_service.get(), section, key, fallback);
}

bool setting::get_bool(std::string_view section, std::string_view key, bool fallback) const {
    if (!m_service) return fallback;
    std::int32_t value = 0;
    const HRESULT hr = m_service->GetBool(host_length(section), host_chars(section), host_length(key), host_chars(key), &value);
    return FAILED(hr) ? fallback : value == 1;
}

}  // namespace quorrin
