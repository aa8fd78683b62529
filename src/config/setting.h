// Reader over the host's settings service, and the two debug switches it reads at construction.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorrin/configuration.h"
#include "quorrin/host_services.h"
#include "support/com_ptr.h"

namespace quorrin {

// Read once by the setting's constructor; nothing consults them afterwards.
extern bool show_peer_id;
extern bool ignore_user_set_speed;

class setting {
public:
    // Keeps the first instance: a second create while one exists does nothing.
    static void create(ISettingsService* service);
    static void release();
    static setting* instance() { return s_instance; }

    virtual ~setting() = default;

    std::int32_t get_int(std::string_view section, std::string_view key, std::int32_t fallback) const;
    // True only for a successful answer of exactly 1.
    bool get_bool(std::string_view section, std::string_view key, bool fallback) const;
    bool get_bool(const config_value& c) const { return get_bool(c.section, c.key, c.fallback != 0); }
    // One of the module's keys: the host's value, or the key's fallback, also without an instance.
    static std::int32_t value_of(const config_value& c) {
        return s_instance ? s_instance->get_int(c.section, c.key, c.fallback) : c.fallback;
    }

private:
    explicit setting(ISettingsService* service);

    com_ptr<ISettingsService> m_service;
    static setting* s_instance;
};

}  // namespace quorrin
