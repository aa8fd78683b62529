#include "value_table.h"

namespace refhost {

HRESULT value_table::lookup(const std::string& section, const std::string& key, std::int32_t* value) const {
    if (FAILED(m_fail_all)) return m_fail_all;
    const auto found = m_values.find({section, key});
    if (found != m_values.end() && value != nullptr) *value = found->second;
    const auto result = m_results.find({section, key});
    if (result != m_results.end()) return result->second;
    return found == m_values.end() ? E_FAIL : S_OK;
}

}  // namespace refhost
