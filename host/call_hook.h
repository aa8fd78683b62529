// A callback that runs as each host method the module may call begins and ends: the fuzz
// harness re-enters the plug-in from there and keeps its allocation failures to the module's
// own code. None is set by default; each hooked method then pays one test of a null pointer.
#pragma once

namespace refhost {

class call_hook {
public:
    // call names the method ("ping.GetPing", "data.GetString"), a literal that outlives the call.
    virtual void enter(const char* call) = 0;
    virtual void leave(const char* call) = 0;
    // The host calls back into the module (a message, a timer tick, a string handed over) and
    // the module's code runs until the matching call with false.
    virtual void calls_module(bool starts) = 0;

protected:
    ~call_hook() = default;
};

// One hooked method's run: enter on construction, leave at the method's return.
class hooked_call {
public:
    hooked_call(call_hook* hook, const char* call) : m_hook(hook), m_call(call) {
        if (m_hook) m_hook->enter(m_call);
    }
    ~hooked_call() {
        if (m_hook) m_hook->leave(m_call);
    }
    hooked_call(const hooked_call&) = delete;
    hooked_call& operator=(const hooked_call&) = delete;

private:
    call_hook* m_hook;
    const char* m_call;
};

// One call back into the module, as a scope.
class module_callback {
public:
    explicit module_callback(call_hook* hook) : m_hook(hook) {
        if (m_hook) m_hook->calls_module(true);
    }
    ~module_callback() {
        if (m_hook) m_hook->calls_module(false);
    }
    module_callback(const module_callback&) = delete;
    module_callback& operator=(const module_callback&) = delete;

private:
    call_hook* m_hook;
};

}  // namespace refhost
