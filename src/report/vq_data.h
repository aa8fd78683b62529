// The owner of one host data object. Each operation is at most one host call; on a wrapper that
// holds nothing (CreateObject gave nothing, or the source was null) every operation is a no-op
// that yields its default.
#pragma once

#include <cstdint>
#include <string_view>

#include "quorrin/host_data.h"
#include "support/byte_string.h"

namespace quorrin {

class vq_data {
public:
    // A new empty object from the service provider's CreateObject.
    vq_data();
    // Shares source when the sibling module implements it, else copies it into a new object;
    // a null source leaves the wrapper empty.
    explicit vq_data(IHostData* source);
    vq_data(const vq_data&) = delete;
    vq_data& operator=(const vq_data&) = delete;
    virtual ~vq_data();

    // Keys and names must be views of NUL-terminated text (literals or std::string).
    void set_name(std::string_view name);
    void set_int64(std::string_view key, std::int64_t value);
    std::int64_t get_int64(std::string_view key, std::int64_t fallback) const;
    void set_string(std::string_view key, std::string_view value);
    byte_string get_string(std::string_view key, std::string_view fallback) const;
    // Nests child's object (null included) without adding a reference for the call.
    void set_data(std::string_view key, const vq_data& child);

    // For host calls that deliver an object through an out-parameter: whatever is stored there
    // is released by the destructor; what was there before is neither released nor cleared.
    IHostData** out_pointer() { return &data; }
    IHostData* get() const { return data; }

private:
    void create_empty();

    IHostData* data = nullptr;
};

// File name of the module that implements obj's first method ("" when any pointer on the way is
// unreadable or the module has no file).
byte_string implementing_module_file(const void* obj);

}  // namespace quorrin
