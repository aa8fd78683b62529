// Reader over the host's statistics data service (integers by section and key).
#pragma once

#include <cstdint>
#include <string_view>

#include "quorrin/configuration.h"
#include "quorrin/host_services.h"
#include "support/com_ptr.h"

namespace quorrin {

class stat_data {
public:
    // Keeps the first instance: a second create while one exists does nothing.
    static void create(IStatDataService* service);
    static void release();
    static stat_data* instance() { return s_instance; }

    virtual ~stat_data() = default;

    // The host's value when its answer is not negative (no range check), else fallback.
    std::int32_t get_int(std::string_view section, std::string_view key, std::int32_t fallback) const;
    // One of the module's keys: the host's value, or the key's fallback, also without an instance.
    static std::int32_t value_of(const config_value& c) {
        return s_instance ? s_instance->get_int(c.section, c.key, c.fallback) : c.fallback;
    }

private:
    explicit stat_data(IStatDataService* service) : m_service(service) {}

    com_ptr<IStatDataService> m_service;
    static stat_data* s_instance;
};

}  // namespace quorrin
