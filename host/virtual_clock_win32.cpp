// On Windows the module's clock reads are imports: GetTickCount and GetTickCount64 of KERNEL32,
// and the C runtime's time (time, _time32, _time64 by the runtime's names). Their slots in the
// loaded module's import address table are pointed at the functions below, in this process only;
// the file on disk and every other module keep the system's.
#include <windows.h>

#include <cstring>
#include <ctime>

#include "virtual_clock.h"
#include "virtual_clock_state.h"

namespace refhost::virtual_clock {

namespace {

using mode = clock_state::mode;

DWORD WINAPI virtual_GetTickCount() {
    if (g_clock.how == mode::system) return GetTickCount();
    return static_cast<DWORD>(g_clock.tick64(g_clock.how == mode::shifted ? GetTickCount64() : 0));
}

ULONGLONG WINAPI virtual_GetTickCount64() {
    if (g_clock.how == mode::system) return GetTickCount64();
    return g_clock.tick64(g_clock.how == mode::shifted ? GetTickCount64() : 0);
}

template <class T>
T module_time(T (*system_time)(T*), T* out) {
    if (g_clock.how == mode::system) return system_time(out);
    const auto system = g_clock.how == mode::shifted ? static_cast<std::uint64_t>(system_time(nullptr)) : 0;
    const auto now = static_cast<T>(g_clock.unix_time(system));
    if (out) *out = now;
    return now;
}

__time64_t __cdecl virtual_time64(__time64_t* out) { return module_time(&_time64, out); }

// Through _time64: the 64-bit runtime has no _time32 of its own to call.
__time32_t __cdecl virtual_time32(__time32_t* out) {
    const auto now = static_cast<__time32_t>(module_time<__time64_t>(&_time64, nullptr));
    if (out) *out = now;
    return now;
}

struct redirect {
    const char* name;
    void* to;
};

// msvcrt's "time" is the 32-bit one on 32-bit Windows and the 64-bit one on 64-bit Windows.
const redirect kRedirects[] = {
    {"GetTickCount", reinterpret_cast<void*>(&virtual_GetTickCount)},
    {"GetTickCount64", reinterpret_cast<void*>(&virtual_GetTickCount64)},
    {"_time64", reinterpret_cast<void*>(&virtual_time64)},
    {"_time32", reinterpret_cast<void*>(&virtual_time32)},
    {"time", sizeof(void*) == 4 ? reinterpret_cast<void*>(&virtual_time32) : reinterpret_cast<void*>(&virtual_time64)},
};

void* redirect_of(const char* name) {
    for (const redirect& r : kRedirects) {
        if (std::strcmp(r.name, name) == 0) return r.to;
    }
    return nullptr;
}

bool write_slot(ULONG_PTR* slot, void* to) {
    DWORD was = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was)) return false;
    *slot = reinterpret_cast<ULONG_PTR>(to);
    VirtualProtect(slot, sizeof *slot, was, &was);
    return true;
}

}  // namespace

std::string attach(void* module_handle) {
    auto* base = static_cast<unsigned char*>(module_handle);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return "the module imports nothing";
    bool tick = false;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        // The names stay in the lookup table; the address table holds what the loader bound.
        if (d->OriginalFirstThunk == 0) continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const char* name = reinterpret_cast<const char*>(by_name->Name);
            void* to = redirect_of(name);
            if (!to) continue;
            if (!write_slot(reinterpret_cast<ULONG_PTR*>(&slots->u1.Function), to)) {
                return std::string("cannot write the module's import slot of ") + name;
            }
            tick = tick || std::strncmp(name, "GetTickCount", 12) == 0;
        }
    }
    return tick ? std::string() : "the module imports no GetTickCount by name";
}

}  // namespace refhost::virtual_clock
