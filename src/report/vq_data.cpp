#include "report/vq_data.h"

#include <cstring>
#include <utility>

#include "config/CStringSetter.h"
#include "platform/module_info.h"
#include "support/host_services.h"
#include "support/text.h"

namespace quorrin {

namespace {

// The object's first method, or nullptr when the object, its method table or that method is
// not readable.
const void* first_method_of(const void* obj) {
    if (!platform::is_readable_code(obj)) return nullptr;
    const void* table = nullptr;
    std::memcpy(&table, obj, sizeof table);
    if (!platform::is_readable_code(table)) return nullptr;
    const void* first_method = nullptr;
    std::memcpy(&first_method, table, sizeof first_method);
    return platform::is_readable_code(first_method) ? first_method : nullptr;
}

byte_string module_file_of(const void* code) {
    if (!code) return {};
    char buffer[platform::kModulePathCapacity];
    const std::string_view path(buffer, platform::module_path_into(code, buffer, sizeof buffer));
    const std::size_t separator = path.rfind(platform::kPathSeparator);
    return separator == std::string_view::npos ? byte_string() : byte_string(path.substr(separator + 1));
}

}  // namespace

byte_string implementing_module_file(const void* obj) { return module_file_of(first_method_of(obj)); }

vq_data::vq_data() { create_empty(); }

vq_data::vq_data(IHostData* source) {
    if (!source) return;
    const void* first_method = first_method_of(source);
    if (module_file_of(first_method) == platform::kSiblingModuleFile) {
        source->AddRef();
        data = source;
        return;
    }
    create_empty();
    // An object that cannot even be read is not called: the copy stays empty.
    if (data && first_method) source->CopyTo(data);
}

vq_data::~vq_data() {
    if (IHostData* p = std::exchange(data, nullptr)) p->Release();
}

void vq_data::create_empty() {
    IHostServiceProvider* provider = GetHostServiceProvider();
    if (!provider) return;
    provider->CreateObject(&CLSID_HostData, &IID_IHostData, reinterpret_cast<void**>(&data));
}

void vq_data::set_name(std::string_view name) {
    if (data) data->PutName(host_length(name), host_chars(name));
}

void vq_data::set_int64(std::string_view key, std::int64_t value) {
    if (data) data->PutInt64(host_length(key), host_chars(key), value);
}

std::int64_t vq_data::get_int64(std::string_view key, std::int64_t fallback) const {
    if (!data) return fallback;
    std::int64_t value = fallback;
    return SUCCEEDED(data->GetInt64(host_length(key), host_chars(key), &value)) ? value : fallback;
}

void vq_data::set_string(std::string_view key, std::string_view value) {
    if (data) data->PutString(host_length(key), host_chars(key), host_length(value), host_chars(value));
}

byte_string vq_data::get_string(std::string_view key, std::string_view fallback) const {
    if (!data) return byte_string(fallback);
    byte_string value(fallback);
    CStringSetter setter(&value);
    const HRESULT hr = data->GetString(host_length(key), host_chars(key), &setter);
    return SUCCEEDED(hr) ? value : byte_string(fallback);
}

void vq_data::set_data(std::string_view key, const vq_data& child) {
    if (data) data->PutData(host_length(key), host_chars(key), child.data);
}

}  // namespace quorrin
