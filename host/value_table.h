// Integer values by (section, key), as the statistics data and settings services answer them.
// A key that is not there fails with E_FAIL and leaves the out value alone.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "quorrin/com_types.h"

namespace refhost {

class value_table {
public:
    void set(const std::string& section, const std::string& key, std::int32_t value) { m_values[{section, key}] = value; }
    void erase(const std::string& section, const std::string& key) { m_values.erase({section, key}); }
    // The lookup answers hr; a value set for the key is still written first (a host that writes then fails).
    void answer(const std::string& section, const std::string& key, HRESULT hr) { m_results[{section, key}] = hr; }
    // Every lookup fails with hr, writing nothing.
    void fail_all(HRESULT hr) { m_fail_all = hr; }

    HRESULT lookup(const std::string& section, const std::string& key, std::int32_t* value) const;

private:
    using name = std::pair<std::string, std::string>;
    std::map<name, std::int32_t> m_values;
    std::map<name, HRESULT> m_results;
    HRESULT m_fail_all = S_OK;
};

}  // namespace refhost
