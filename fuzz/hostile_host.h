// The host's side of every call between it and the plug-in. The host counts the module entries
// on its stack (every call it makes into the module, whatever the entry); each host call that the
// module makes while one is there is a hostile position. In the hostile mode the input picks
// positions and calls the plug-in from there: every such call must be refused and change
// nothing, except the finish message that the waiting UnregisterTask sent, at its first delivery.
#pragma once

#include <cstdint>
#include <vector>

#include "call_hook.h"
#include "harness.h"
#include "session.h"

class hostile_host final : public refhost::call_hook {
public:
    explicit hostile_host(session& s) : m_s(s) {}
    hostile_host(const hostile_host&) = delete;
    hostile_host& operator=(const hostile_host&) = delete;

    // A call into the module, as the host makes it: an entry on the host's stack meanwhile, and
    // the module's code runs (its allocations are the pool's).
    template <class F>
    HRESULT call_module(F&& call) {
        const bool was_in_module = fuzz_in_module(true);
        ++m_depth;
        const HRESULT hr = call();
        --m_depth;
        fuzz_in_module(was_in_module);
        return hr;
    }

    // The hostile mode begins: the input picks the first position.
    void arm() { m_countdown = next_countdown(); }

private:
    static constexpr int kMaxNesting = 2;

    void enter(const char* call) override;
    void leave(const char* call) override;
    void calls_module(bool starts) override;

    // How many positions pass before the next call from inside one.
    unsigned next_countdown();
    void position();
    void nested_engine_call(quorrin::CQuorrin* stat, std::uint8_t kind);
    void nested_finish(IAsynMessageEvents* sink, const before_call& at);
    void nested_plugin_call(std::uint8_t kind);

    session& m_s;
    int m_depth = 0;        // module entries on the host's stack
    int m_nesting = 0;      // calls made from positions, in progress
    int m_sending = 0;      // SendAsynMessage calls under way
    unsigned m_countdown = 0;
    std::vector<bool> m_context;       // whether the module's code ran before each host call began
    struct host_call {
        const char* name;
        int nesting;  // m_nesting as the call began
    };
    std::vector<host_call> m_calls;  // the host calls under way, innermost last
};
