#include "call_log.h"

namespace refhost {

namespace {
bool starts_with(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }
}  // namespace

void call_log::add(std::string entry) {
    if (on_add) on_add(entry);
    if (!m_forbidden.empty()) {
        for (const std::string& prefix : m_forbidden) {
            if (starts_with(entry, prefix)) {
                violation("forbidden call: " + entry);
                break;
            }
        }
    }
    if (enabled) m_entries.push_back(std::move(entry));
}

void call_log::violation(std::string what) {
    m_violations.push_back(std::move(what));
    if (on_violation) on_violation(m_violations.back());
}

void call_log::forbid(std::string call_prefix) { m_forbidden.push_back(std::move(call_prefix)); }

std::vector<std::string> call_log::matching(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& entry : m_entries) {
        if (starts_with(entry, prefix)) found.push_back(entry);
    }
    return found;
}

}  // namespace refhost
