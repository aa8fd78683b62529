#include "services.h"

namespace refhost {

namespace {
std::string text(std::uint32_t length, const char* chars) { return (length && chars) ? std::string(chars, length) : std::string(); }
}  // namespace

HRESULT stat_data_service::GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                  const char* key, std::int32_t* value) {
    const hooked_call hooked(m_log->hook, "stat_data.GetInt");
    const std::string s = text(section_length, section), k = text(key_length, key);
    if (m_log->active()) m_log->add("stat_data.GetInt " + s + "/" + k);
    return values.lookup(s, k, value);
}

HRESULT settings_service::GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                 const char* key, std::int32_t* value) {
    const hooked_call hooked(m_log->hook, "settings.GetInt");
    const std::string s = text(section_length, section), k = text(key_length, key);
    if (m_log->active()) m_log->add("settings.GetInt " + s + "/" + k);
    return ints.lookup(s, k, value);
}

HRESULT settings_service::GetBool(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                  const char* key, std::int32_t* value) {
    const hooked_call hooked(m_log->hook, "settings.GetBool");
    const std::string s = text(section_length, section), k = text(key_length, key);
    if (m_log->active()) m_log->add("settings.GetBool " + s + "/" + k);
    return bools.lookup(s, k, value);
}

}  // namespace refhost
