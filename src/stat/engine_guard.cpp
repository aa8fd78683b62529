#include "stat/engine_guard.h"

#include <atomic>
#include <cstdint>

#include "platform/thread.h"

namespace quorrin {
namespace engine_guard {

namespace {

constexpr std::uint32_t kIdle = 0;
constexpr std::uint32_t kBusy = 1;
constexpr std::uint32_t kDeferred = 2;  // with kBusy: work is waiting for the call to leave

std::atomic<std::uint32_t> g_state{kIdle};
// The thread of a call in progress that waits for its designed re-entry, else 0. Written only by
// that thread while it holds the guard, so a thread that reads its own id here holds it.
std::atomic<platform::thread_id> g_waiting{0};
// Written only while kDeferred is clear, by the thread that then sets it; read by the holder
// after it sees kDeferred.
deferred_work g_work = nullptr;
void* g_context = nullptr;

}  // namespace

bool try_enter() noexcept {
    std::uint32_t expected = kIdle;
    return g_state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire, std::memory_order_relaxed);
}

void leave() noexcept {
    for (;;) {
        std::uint32_t expected = kBusy;
        if (g_state.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel, std::memory_order_acquire)) {
            return;
        }
        const deferred_work work = g_work;
        void* const context = g_context;
        g_work = nullptr;
        g_context = nullptr;
        g_state.store(kBusy, std::memory_order_release);
        work(context);
    }
}

bool busy() noexcept { return g_state.load(std::memory_order_acquire) != kIdle; }

void wait_here(bool waiting) noexcept {
    g_waiting.store(waiting ? platform::current_thread() : 0, std::memory_order_relaxed);
}

bool waited_for_here() noexcept {
    return g_waiting.load(std::memory_order_relaxed) == platform::current_thread();
}

void run_or_defer(deferred_work work, void* context) noexcept {
    for (;;) {
        std::uint32_t state = g_state.load(std::memory_order_acquire);
        if (state == kIdle) {
            if (!g_state.compare_exchange_strong(state, kBusy, std::memory_order_acquire)) continue;
            work(context);
            leave();
            return;
        }
        if (state == kBusy) {
            g_work = work;
            g_context = context;
            if (g_state.compare_exchange_strong(state, kBusy | kDeferred, std::memory_order_release)) return;
            continue;
        }
        // Work is already waiting: only the initialised plug-in object hands any over, once.
        return;
    }
}

}  // namespace engine_guard
}  // namespace quorrin
