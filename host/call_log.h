// The calls that the module made on the host, in order. A test can forbid a call: making it is
// then a violation, reported through on_violation as well as kept.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "call_hook.h"

namespace refhost {

class call_log {
public:
    // Off for benchmarks: add() then costs a branch.
    bool enabled = true;
    std::function<void(const std::string&)> on_violation;
    // Runs around every host method that logs here (see call_hook.h); null by default.
    call_hook* hook = nullptr;

    // Whether add() would keep or check an entry; services build their entry text only then.
    bool active() const { return enabled || !m_forbidden.empty(); }
    void add(std::string entry);
    void forbid(std::string call_prefix);
    // A breach of the call contract seen by a service (a null string pointer, say).
    void violation(std::string what);
    void allow_all() { m_forbidden.clear(); }
    void clear() { m_entries.clear(); }

    const std::vector<std::string>& entries() const { return m_entries; }
    const std::vector<std::string>& violations() const { return m_violations; }
    // The entries that start with prefix, in order.
    std::vector<std::string> matching(const std::string& prefix) const;
    std::size_t count(const std::string& prefix) const { return matching(prefix).size(); }

private:
    std::vector<std::string> m_entries;
    std::vector<std::string> m_forbidden;
    std::vector<std::string> m_violations;
};

}  // namespace refhost
