// Reference accounting of the reference host. Every object that the host hands out is tracked:
// it counts all references, and separately the ones that the host itself holds (through
// host_ref). Whatever is above the host's own share belongs to the module, so at the end of a
// session every tracked object must have refs() == host_refs().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace refhost {

class tracked {
public:
    explicit tracked(std::string label);
    tracked(const tracked&) = delete;
    tracked& operator=(const tracked&) = delete;
    virtual ~tracked();

    const std::string& label() const { return m_label; }
    std::int32_t refs() const { return m_refs.load(); }
    std::int32_t host_refs() const { return m_host_refs.load(); }
    // References held by someone other than the host: the module, in a session.
    std::int32_t foreign_refs() const { return refs() - host_refs(); }

    void host_hold();
    void host_drop();

protected:
    std::uint32_t add_ref();
    // A release that would take a reference the module does not have is refused and recorded.
    std::uint32_t release();

private:
    std::uint32_t drop_one();

    std::string m_label;
    std::atomic<std::int32_t> m_refs{0};
    std::atomic<std::int32_t> m_host_refs{0};
};

// All tracked objects alive in this module (the sibling module keeps its own).
class ledger {
public:
    static ledger& instance();

    // One line per object whose references are not all the host's own.
    std::vector<std::string> unreleased() const;
    // Releases refused because the object had no foreign reference left.
    std::vector<std::string> over_released() const;
    std::size_t live() const;
    void clear_errors();

    void add(tracked* object);
    void remove(tracked* object);
    void note_over_release(const std::string& label);

private:
    mutable std::mutex m_mutex;
    std::set<tracked*> m_objects;
    std::vector<std::string> m_over_released;
};

// The host's own counted reference to a tracked object.
template <class T>
class host_ref {
public:
    host_ref() = default;
    explicit host_ref(T* p) : m_p(p) {
        if (m_p) m_p->host_hold();
    }
    host_ref(const host_ref& other) : host_ref(other.m_p) {}
    host_ref(host_ref&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    host_ref& operator=(host_ref other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~host_ref() { reset(); }

    void reset() {
        if (T* p = m_p) {
            m_p = nullptr;
            p->host_drop();
        }
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

template <class T, class... Args>
host_ref<T> make_host(Args&&... args) {
    return host_ref<T>(new T(std::forward<Args>(args)...));
}

}  // namespace refhost
