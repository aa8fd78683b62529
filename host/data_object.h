// The host's data object: a name, and 64-bit integers, byte strings and child objects under
// byte-string keys, kept in insertion order (a key written again keeps its place).
// The sibling module builds this same file, so its objects behave the same but live there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "call_log.h"
#include "com_object.h"
#include "data_node.h"
#include "quorrin/host_data.h"

namespace refhost {

// What a difficult host does; shared by every object of one factory and switchable per test.
struct data_behaviour {
    enum class get_string_mode { once, never, twice, once_then_fail };

    bool create_fails = false;  // CreateObject yields nothing
    bool puts_fail = false;     // Put... store nothing and fail
    bool gets_fail = false;     // Get... fail without writing
    bool get_int64_silent = false;  // GetInt64 succeeds without writing its out value
    get_string_mode get_string = get_string_mode::once;
};

class data_object final : public com_object<IHostData> {
public:
    data_object(const data_behaviour* behaviour, call_log* log, std::string label);
    ~data_object() override;

    // The object behind p when p is one of this module's data objects, else nullptr.
    static data_object* own(IHostData* p);

    HRESULT STDMETHODCALLTYPE PutName(std::uint32_t name_length, const char* name) override;
    HRESULT STDMETHODCALLTYPE PutInt64(std::uint32_t key_length, const char* key, std::int64_t value) override;
    HRESULT STDMETHODCALLTYPE GetInt64(std::uint32_t key_length, const char* key, std::int64_t* value) override;
    HRESULT STDMETHODCALLTYPE PutString(std::uint32_t key_length, const char* key, std::uint32_t value_length,
                                        const char* value) override;
    HRESULT STDMETHODCALLTYPE GetString(std::uint32_t key_length, const char* key, IStringSetter* receiver) override;
    HRESULT STDMETHODCALLTYPE PutData(std::uint32_t key_length, const char* key, IHostData* child) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IHostData* target) override;

    // Direct access for the host itself (not through COM).
    const std::string& name() const { return m_name; }
    void set_name(const std::string& name) { m_name = name; }
    void put_int(const std::string& key, std::int64_t value);
    void put_string(const std::string& key, const std::string& value);
    data_node snapshot() const;

private:
    // A child is held by the host's own reference when it is one of ours, else by AddRef.
    struct held_child {
        IHostData* data = nullptr;
        bool own = false;
    };
    struct entry {
        std::string key;
        enum class kind { integer, text, child } type = kind::integer;
        std::int64_t integer = 0;
        std::string text;
        held_child child;
    };

    entry& slot(const std::string& key);
    const entry* find(const std::string& key) const;
    // Builds the entry only when the log is active: the call's name, then the key.
    void log(const char* call, const std::string& key = std::string());
    // The text of a (length, characters) pair; a null pointer breaks the contract even for "".
    std::string text(std::uint32_t length, const char* chars, const char* what);
    static void drop(held_child& child);

    const data_behaviour* m_behaviour;
    std::string m_name;
    std::vector<entry> m_entries;
};

// Makes data objects for CreateObject and for copies; counts what it made.
class data_factory {
public:
    explicit data_factory(call_log* log, std::string prefix = "data") : m_log(log), m_prefix(std::move(prefix)) {}

    data_behaviour behaviour;

    // A new empty object with one reference, owned by the caller; nullptr when create_fails.
    data_object* create();
    // A new empty object regardless of create_fails, for the host's own use.
    host_ref<data_object> make();
    std::uint32_t created() const { return m_created; }

private:
    call_log* m_log;
    std::string m_prefix;
    std::uint32_t m_created = 0;
};

// Snapshot of any data object: ours directly, a foreign one through its CopyTo.
data_node snapshot_of(IHostData* data);

}  // namespace refhost
