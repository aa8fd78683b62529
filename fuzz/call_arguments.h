// The arguments of the host's calls as the input picks them: ids of interesting lengths, byte
// counts that run backwards or wrap, CDN address entries and the data objects handed over.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "byte_source.h"
#include "quorrin/plugin_interfaces.h"
#include "session.h"

extern const char* const kAddressTexts[14];
extern const char* const kUrls[4];

// A data object that the host hands over: one of its own, or one made by the sibling module.
class given_data {
public:
    given_data() = default;
    explicit given_data(refhost::host_ref<refhost::data_object> own) : m_own(std::move(own)) {}
    explicit given_data(IHostData* sibling) : m_sibling(sibling) {}
    given_data(given_data&& other) noexcept : m_own(std::move(other.m_own)), m_sibling(std::exchange(other.m_sibling, nullptr)) {}
    given_data& operator=(given_data&&) = delete;
    ~given_data() {
        if (m_sibling) m_sibling->Release();
    }
    IHostData* get() const { return m_sibling ? m_sibling : static_cast<IHostData*>(m_own.get()); }

private:
    refhost::host_ref<refhost::data_object> m_own;
    IHostData* m_sibling = nullptr;
};

// A byte string of one of the interesting lengths, or null with a length.
struct id_bytes {
    std::string bytes;
    std::uint32_t length = 0;
    bool null = false;

    const std::uint8_t* pointer() const { return null ? nullptr : reinterpret_cast<const std::uint8_t*>(bytes.data()); }
};

id_bytes some_id_bytes(byte_source& in);
// A byte count after `last`: forwards, backwards, at the top or wrapping past zero.
std::uint64_t some_bytes(byte_source& in, std::uint64_t last);
// A data object that the host hands over: none, an empty one, or one with an offline URL (with_url)
// or CDN figures. In the hostile mode it may come from the sibling module, whose objects are shared.
given_data some_data(session& s, bool with_url);
cdn_ip_entry some_entry(byte_source& in);
