// An integer lookup by section and key on the host's statistics data or settings service:
// the host's value when its answer is not negative, else the fallback.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorrin/com_types.h"
#include "support/text.h"

namespace quorrin {

template <class Service>
std::int32_t lookup_int(Service* service, std::string_view section, std::string_view key, std::int32_t fallback) {
    if (!service) return fallback;
    std::int32_t value = fallback;
    const HRESULT hr = service->GetInt(host_length(section), host_chars(section), host_length(key), host_chars(key), &value);
    return FAILED(hr) ? fallback : value;
}

}  // namespace quorrin
