#include "data_object.h"

#include <mutex>
#include <set>

#include "quorrin/plugin_interfaces.h"

namespace refhost {

namespace {

std::mutex g_own_mutex;
std::set<const IHostData*>& own_objects() {
    static auto* objects = new std::set<const IHostData*>();
    return *objects;
}

}  // namespace

data_object::data_object(const data_behaviour* behaviour, call_log* log, std::string label)
    : com_object<IHostData>(std::move(label), log), m_behaviour(behaviour) {
    std::lock_guard<std::mutex> lock(g_own_mutex);
    own_objects().insert(static_cast<IHostData*>(this));
}

data_object::~data_object() {
    {
        std::lock_guard<std::mutex> lock(g_own_mutex);
        own_objects().erase(static_cast<IHostData*>(this));
    }
    for (entry& e : m_entries) drop(e.child);
}

data_object* data_object::own(IHostData* p) {
    std::lock_guard<std::mutex> lock(g_own_mutex);
    return own_objects().count(p) ? static_cast<data_object*>(p) : nullptr;
}

void data_object::drop(held_child& child) {
    if (!child.data) return;
    if (child.own) {
        static_cast<data_object*>(child.data)->host_drop();
    } else {
        child.data->Release();
    }
    child = {};
}

std::string data_object::text(std::uint32_t length, const char* chars, const char* what) {
    if (chars == nullptr) {
        if (m_log) m_log->violation(label() + ": null " + what + " pointer");
        return {};
    }
    return std::string(chars, length);
}

void data_object::log(const char* call, const std::string& key) {
    if (m_log && m_log->active()) m_log->add(label() + "." + call + key);
}

data_object::entry& data_object::slot(const std::string& key) {
    for (entry& e : m_entries) {
        if (e.key == key) return e;
    }
    m_entries.push_back(entry{});
    m_entries.back().key = key;
    return m_entries.back();
}

const data_object::entry* data_object::find(const std::string& key) const {
    for (const entry& e : m_entries) {
        if (e.key == key) return &e;
    }
    return nullptr;
}

void data_object::put_int(const std::string& key, std::int64_t value) {
    entry& e = slot(key);
    drop(e.child);
    e.type = entry::kind::integer;
    e.integer = value;
}

void data_object::put_string(const std::string& key, const std::string& value) {
    entry& e = slot(key);
    drop(e.child);
    e.type = entry::kind::text;
    e.text = value;
}

HRESULT data_object::PutName(std::uint32_t name_length, const char* name) {
    const hooked_call hooked(hook(), "data.PutName");
    const std::string n = text(name_length, name, "name");
    log("PutName ", n);
    if (m_behaviour->puts_fail) return E_FAIL;
    m_name = n;
    return S_OK;
}

HRESULT data_object::PutInt64(std::uint32_t key_length, const char* key, std::int64_t value) {
    const hooked_call hooked(hook(), "data.PutInt64");
    const std::string k = text(key_length, key, "key");
    log("PutInt64 ", k);
    if (m_behaviour->puts_fail) return E_FAIL;
    put_int(k, value);
    return S_OK;
}

HRESULT data_object::GetInt64(std::uint32_t key_length, const char* key, std::int64_t* value) {
    const hooked_call hooked(hook(), "data.GetInt64");
    const std::string k = text(key_length, key, "key");
    log("GetInt64 ", k);
    if (m_behaviour->gets_fail) return E_FAIL;
    if (m_behaviour->get_int64_silent) return S_OK;
    const entry* e = find(k);
    if (!e || e->type != entry::kind::integer) return E_FAIL;
    if (value) *value = e->integer;
    return S_OK;
}

HRESULT data_object::PutString(std::uint32_t key_length, const char* key, std::uint32_t value_length, const char* value) {
    const hooked_call hooked(hook(), "data.PutString");
    const std::string k = text(key_length, key, "key");
    log("PutString ", k);
    if (m_behaviour->puts_fail) return E_FAIL;
    put_string(k, text(value_length, value, "value"));
    return S_OK;
}

HRESULT data_object::GetString(std::uint32_t key_length, const char* key, IStringSetter* receiver) {
    const hooked_call hooked(hook(), "data.GetString");
    const std::string k = text(key_length, key, "key");
    log("GetString ", k);
    if (m_behaviour->gets_fail) return E_FAIL;
    const entry* e = find(k);
    if (!e || e->type != entry::kind::text) return E_FAIL;
    if (!receiver) return E_POINTER;
    const auto length = static_cast<std::uint32_t>(e->text.size());
    const module_callback in_module(hook());
    switch (m_behaviour->get_string) {
        case data_behaviour::get_string_mode::never:
            return S_OK;
        case data_behaviour::get_string_mode::twice:
            receiver->SetString(5, "first");
            receiver->SetString(length, e->text.data());
            return S_OK;
        case data_behaviour::get_string_mode::once_then_fail:
            receiver->SetString(length, e->text.data());
            return E_FAIL;
        case data_behaviour::get_string_mode::once:
            break;
    }
    receiver->SetString(length, e->text.data());
    return S_OK;
}

HRESULT data_object::PutData(std::uint32_t key_length, const char* key, IHostData* child) {
    const hooked_call hooked(hook(), "data.PutData");
    const std::string k = text(key_length, key, "key");
    log("PutData ", k);
    if (m_behaviour->puts_fail) return E_FAIL;
    held_child held;
    if (child) {
        held.data = child;
        if (data_object* mine = own(child)) {
            held.own = true;
            mine->host_hold();
        } else {
            child->AddRef();
        }
    }
    entry& e = slot(k);
    drop(e.child);
    e.type = entry::kind::child;
    e.child = held;
    return S_OK;
}

HRESULT data_object::CopyTo(IHostData* target) {
    const hooked_call hooked(hook(), "data.CopyTo");
    log("CopyTo");
    if (!target) return E_POINTER;
    target->PutName(static_cast<std::uint32_t>(m_name.size()), m_name.c_str());
    for (const entry& e : m_entries) {
        const auto key_length = static_cast<std::uint32_t>(e.key.size());
        switch (e.type) {
            case entry::kind::integer:
                target->PutInt64(key_length, e.key.c_str(), e.integer);
                break;
            case entry::kind::text:
                target->PutString(key_length, e.key.c_str(), static_cast<std::uint32_t>(e.text.size()), e.text.c_str());
                break;
            case entry::kind::child: {
                if (!e.child.data) {
                    target->PutData(key_length, e.key.c_str(), nullptr);
                    break;
                }
                // A deep copy: the target gets a new child of our own making.
                host_ref<data_object> copy = make_host<data_object>(m_behaviour, m_log, e.key + " copy");
                e.child.data->CopyTo(copy.get());
                target->PutData(key_length, e.key.c_str(), copy.get());
                break;
            }
        }
    }
    return S_OK;
}

data_node data_object::snapshot() const {
    data_node tree;
    tree.name = m_name;
    for (const entry& e : m_entries) {
        switch (e.type) {
            case entry::kind::integer:
                tree.entries.emplace_back(e.key, e.integer);
                break;
            case entry::kind::text:
                tree.entries.emplace_back(e.key, e.text);
                break;
            case entry::kind::child:
                if (e.child.data) {
                    tree.entries.emplace_back(e.key, std::make_shared<const data_node>(snapshot_of(e.child.data)));
                } else {
                    tree.entries.emplace_back(e.key, null_child{});
                }
                break;
        }
    }
    return tree;
}

data_object* data_factory::create() {
    if (behaviour.create_fails) return nullptr;
    auto* object = new data_object(&behaviour, m_log, m_prefix + "#" + std::to_string(++m_created));
    object->AddRef();
    return object;
}

host_ref<data_object> data_factory::make() {
    return make_host<data_object>(&behaviour, m_log, m_prefix + "#" + std::to_string(++m_created));
}

data_node snapshot_of(IHostData* data) {
    if (!data) return {};
    if (const data_object* mine = data_object::own(data)) return mine->snapshot();
    static const data_behaviour plain;
    host_ref<data_object> copy = make_host<data_object>(&plain, nullptr, "snapshot");
    data->CopyTo(copy.get());
    return copy->snapshot();
}

}  // namespace refhost
