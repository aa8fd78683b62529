#include "tracked.h"

namespace refhost {

tracked::tracked(std::string label) : m_label(std::move(label)) { ledger::instance().add(this); }

tracked::~tracked() { ledger::instance().remove(this); }

void tracked::host_hold() {
    m_host_refs.fetch_add(1);
    m_refs.fetch_add(1);
}

void tracked::host_drop() {
    m_host_refs.fetch_sub(1);
    drop_one();
}

std::uint32_t tracked::add_ref() { return static_cast<std::uint32_t>(m_refs.fetch_add(1) + 1); }

std::uint32_t tracked::release() {
    if (foreign_refs() <= 0) {
        ledger::instance().note_over_release(m_label);
        return static_cast<std::uint32_t>(refs());
    }
    return drop_one();
}

std::uint32_t tracked::drop_one() {
    const std::int32_t count = m_refs.fetch_sub(1) - 1;
    if (count == 0) delete this;
    return static_cast<std::uint32_t>(count);
}

ledger& ledger::instance() {
    static ledger* the_ledger = new ledger();  // never destroyed: objects may outlive static teardown
    return *the_ledger;
}

std::vector<std::string> ledger::unreleased() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const tracked* object : m_objects) {
        if (object->foreign_refs() != 0) {
            lines.push_back(object->label() + ": " + std::to_string(object->foreign_refs()) + " reference(s) not released");
        }
    }
    return lines;
}

std::vector<std::string> ledger::over_released() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_over_released;
}

std::size_t ledger::live() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_objects.size();
}

void ledger::clear_errors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_over_released.clear();
}

void ledger::add(tracked* object) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objects.insert(object);
}

void ledger::remove(tracked* object) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objects.erase(object);
}

void ledger::note_over_release(const std::string& label) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_over_released.push_back(label + ": released more often than referenced");
}

}  // namespace refhost
