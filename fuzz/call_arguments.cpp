#include "call_arguments.h"

#include <algorithm>
#include <cstring>

#include "tessaron.h"

const char* const kAddressTexts[14] = {"10.0.0.1",     "10.0.0.2",  "192.168.1.20", "255.255.255.255", "0.0.0.0",
                                       "1.2.3.4",      "10.0.0.1 ", "999.1.1.1",    "abc",             "",
                                       "012.0x10.1.1", "10.0.0",    "1.2.3.4.5",    "12345678901234567890"};
const char* const kUrls[4] = {"http://o/1", "http://o/2", "", "http://offline.example/a/very/long/path/file.bin"};

id_bytes some_id_bytes(byte_source& in) {
    static const std::uint32_t lengths[] = {20, 20, 20, 0, 19, 21, 1, 4096};
    id_bytes id;
    const std::uint8_t mode = in.byte();
    id.length = lengths[mode % 8];
    if (mode >= 248) id.length = in.u32() % 70000;
    id.bytes = in.text(std::min<std::uint32_t>(id.length, 24));
    id.bytes.resize(id.length, static_cast<char>('A' + mode % 26));
    id.null = in.rarely(16);
    if (id.null && in.flag()) id.length = 0;
    return id;
}
std::uint64_t some_bytes(byte_source& in, std::uint64_t last) {
    switch (in.byte() % 6) {
        case 0:
            return last + in.u32() % 5000000;  // forwards
        case 1:
            return last - in.u32() % 5000000;  // backwards
        case 2:
            return ~std::uint64_t{0} - in.byte();  // at the top, about to wrap
        case 3:
            return last + (~std::uint64_t{0} - in.u32());  // wraps past zero
        case 4:
            return 0;
        default:
            return in.u64();
    }
}

given_data some_data(session& s, bool with_url) {
    const std::uint8_t mode = s.in.byte() % 5;
    if (mode == 0) return {};
    if (s.sibling_data && mode != 4) {
        IHostData* data = nullptr;
        expect(tessaron_create_data(with_url ? "task" : "cdn", &data) == S_OK && data, "sibling data object");
        if (with_url && mode < 3) {
            const char* url = s.in.pick(kUrls);
            data->PutString(11, "offline_url", static_cast<std::uint32_t>(std::strlen(url)), url);
        } else if (!with_url) {
            for (int i = s.in.byte() % 4; i > 0; --i) {
                const char* key = s.in.pick(kAddressTexts);
                data->PutInt64(static_cast<std::uint32_t>(std::strlen(key)), key, s.in.u32());
            }
        }
        return given_data(data);
    }
    refhost::host_ref<refhost::data_object> data = s.host->make_data(with_url ? "task" : "cdn");
    if (with_url) {
        if (mode == 1 || mode == 2) data->put_string("offline_url", s.in.pick(kUrls));
        if (mode == 3) data->put_int("offline_url", 7);  // not text
    } else {
        for (int i = s.in.byte() % 4; i > 0; --i) {
            const char* key = s.in.pick(kAddressTexts);
            data->put_int(key, s.in.u32());
        }
    }
    return given_data(std::move(data));
}
cdn_ip_entry some_entry(byte_source& in) {
    cdn_ip_entry entry{};
    std::memset(entry.chars, in.flag() ? '7' : 0, sizeof entry.chars);
    std::string text = in.rarely(6) ? in.text(in.byte() % 21) : in.pick(kAddressTexts);
    std::memcpy(entry.chars, text.data(), std::min(text.size(), sizeof entry.chars));
    const std::uint8_t length = in.byte();
    if (length < 200) {
        entry.length = static_cast<std::uint32_t>(text.size());
    } else {
        static const std::uint32_t odd[] = {0, 20, 21, 0xFFFFFFFFu, 19, 26};
        entry.length = length < 250 ? odd[length % 6] : in.u32();
    }
    entry.unused = static_cast<std::uint16_t>(in.byte());
    return entry;
}