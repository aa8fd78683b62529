// What the built file shows a host: its exports, its imports and its resources.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "module_loader.h"

namespace {

#ifdef _WIN32
// A minimal reader of a PE image on disk: enough to list exports, imports and one string table.
class pe_file {
public:
    explicit pe_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), {});
        if (m_bytes.size() < 0x40) return;
        const std::uint32_t pe = u32(0x3C);
        m_machine = u16(pe + 4);
        m_sections = u16(pe + 6);
        m_characteristics = u16(pe + 22);
        const std::uint32_t optional = pe + 24;
        m_section_table = optional + u16(pe + 20);
        // PE32+ (64-bit) has wider fields before the data directories and 8-byte import thunks.
        m_pe32plus = u16(optional) == 0x20B;
        const std::uint32_t directories = optional + (m_pe32plus ? 112 : 96);
        m_export_rva = u32(directories);
        m_import_rva = u32(directories + 8);
        m_resource_rva = u32(directories + 16);
        m_tls_rva = u32(directories + 72);
    }
    std::uint16_t machine() const { return m_machine; }
    bool is_dll() const { return (m_characteristics & 0x2000) != 0; }
    bool has_tls_directory() const { return m_tls_rva != 0; }

    // (ordinal, name) of every named export.
    std::map<std::uint32_t, std::string> exports() const {
        std::map<std::uint32_t, std::string> out;
        const std::uint32_t dir = offset(m_export_rva);
        const std::uint32_t base = u32(dir + 16), names = u32(dir + 24);
        const std::uint32_t name_table = offset(u32(dir + 32)), ordinal_table = offset(u32(dir + 36));
        for (std::uint32_t i = 0; i < names; ++i) {
            out[base + u16(ordinal_table + 2 * i)] = text(offset(u32(name_table + 4 * i)));
        }
        return out;
    }
    // Imported function names by library.
    std::map<std::string, std::set<std::string>> imports() const {
        std::map<std::string, std::set<std::string>> out;
        for (std::uint32_t d = offset(m_import_rva); u32(d + 12) != 0; d += 20) {
            std::set<std::string>& names = out[text(offset(u32(d + 12)))];
            const std::uint32_t lookup = u32(d) ? u32(d) : u32(d + 16);
            const std::uint32_t width = m_pe32plus ? 8 : 4;
            for (std::uint32_t t = offset(lookup); u32(t) != 0 || u32(t + width - 4) != 0; t += width) {
                const bool by_ordinal = (u32(t + width - 4) & 0x80000000u) != 0;
                names.insert(by_ordinal ? "#" + std::to_string(u32(t) & 0xFFFF) : text(offset(u32(t)) + 2));
            }
        }
        return out;
    }
    // The string block (16 strings) of a type-6 resource with the given block id and language.
    std::vector<std::u16string> string_block(std::uint32_t block, std::uint32_t language) const {
        const std::uint32_t root = offset(m_resource_rva);
        const std::uint32_t type_dir = child(root, root, 6);
        const std::uint32_t name_dir = type_dir ? child(root, type_dir, block) : 0;
        const std::uint32_t data_entry = name_dir ? child(root, name_dir, language) : 0;
        std::vector<std::u16string> strings;
        if (!data_entry) return strings;
        std::uint32_t p = offset(u32(data_entry));
        for (int i = 0; i < 16; ++i) {
            const std::uint16_t length = u16(p);
            std::u16string s;
            for (std::uint16_t c = 0; c < length; ++c) s += static_cast<char16_t>(u16(p + 2 + 2 * c));
            strings.push_back(s);
            p += 2 + 2 * length;
        }
        return strings;
    }

private:
    std::uint32_t child(std::uint32_t root, std::uint32_t dir, std::uint32_t id) const {
        const std::uint32_t count = u16(dir + 12) + u16(dir + 14);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t e = dir + 16 + 8 * i;
            if (u32(e) != id) continue;
            const std::uint32_t target = u32(e + 4);
            return root + (target & 0x7FFFFFFF);
        }
        return 0;
    }
    std::uint32_t offset(std::uint32_t rva) const {
        for (std::uint32_t i = 0; i < m_sections; ++i) {
            const std::uint32_t s = m_section_table + 40 * i;
            const std::uint32_t va = u32(s + 12), size = u32(s + 8), raw = u32(s + 20);
            if (rva >= va && rva < va + size) return rva - va + raw;
        }
        return 0;
    }
    std::uint32_t u32(std::uint32_t at) const {
        std::uint32_t v = 0;
        if (at + 4 <= m_bytes.size()) std::memcpy(&v, &m_bytes[at], 4);
        return v;
    }
    std::uint16_t u16(std::uint32_t at) const {
        std::uint16_t v = 0;
        if (at + 2 <= m_bytes.size()) std::memcpy(&v, &m_bytes[at], 2);
        return v;
    }
    std::string text(std::uint32_t at) const {
        std::string s;
        while (at < m_bytes.size() && m_bytes[at]) s += m_bytes[at++];
        return s;
    }

    std::vector<char> m_bytes;
    bool m_pe32plus = false;
    std::uint16_t m_machine = 0, m_sections = 0, m_characteristics = 0;
    std::uint32_t m_section_table = 0, m_export_rva = 0, m_import_rva = 0, m_resource_rva = 0, m_tls_rva = 0;
};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TEST(ModuleFile, IsADllOfTheHostsWidthWithExactlyTheFiveExportsInOrder) {
    const pe_file dll(refhost::plugin_module::default_path());
#ifdef _WIN64
    EXPECT_EQ(0x8664, dll.machine());  // x86-64
#else
    EXPECT_EQ(0x14C, dll.machine());  // i386
#endif
    EXPECT_TRUE(dll.is_dll());
    EXPECT_EQ((std::map<std::uint32_t, std::string>{{1, "DllCanUnloadNow"},
                                                    {2, "DllGetClassObject"},
                                                    {3, "DllRegisterServer"},
                                                    {4, "DllUnregisterServer"},
                                                    {5, "_msize"}}),
              dll.exports());
}

// Every function the DLL may import, and who needs it. An import that is not listed fails the
// test: which Windows the module needs is a decision, not an accident of the toolchain.
const std::map<std::string, std::set<std::string>> kAllowedImports = {
    {"kernel32.dll",
     {
         // the platform layer
         "DisableThreadLibraryCalls", "GetModuleFileNameA", "GetTickCount", "IsBadCodePtr", "RaiseException",
         "VirtualQuery",
         // the mingw-w64 runtime: DLL start-up, its TLS callbacks, pseudo-relocations, code pages
         "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetLastError", "GetModuleHandleA",
         "GetModuleHandleW", "GetProcAddress", "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection",
         "LoadLibraryA", "LoadLibraryW", "MultiByteToWideChar", "Sleep", "TlsGetValue", "VirtualProtect",
         "WideCharToMultiByte",
         // libstdc++: the text of a system error
         "FormatMessageA", "LocalFree",
         // winpthreads, which the -posix compilers link in for std::mutex and the runtime's own
         // locks. GetTickCount64 is why the DLL needs Windows Vista or later.
         "AddVectoredExceptionHandler", "CloseHandle", "CreateEventA", "CreateSemaphoreA", "DuplicateHandle",
         "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThread", "GetCurrentThreadId", "GetHandleInformation",
         "GetProcessAffinityMask", "GetSystemTimeAsFileTime", "GetThreadContext", "GetThreadPriority",
         "GetTickCount64", "IsDebuggerPresent", "OpenProcess", "OutputDebugStringA", "ReleaseSemaphore",
         "RemoveVectoredExceptionHandler", "ResetEvent", "ResumeThread", "SetEvent", "SetLastError",
         "SetProcessAffinityMask", "SetThreadContext", "SetThreadPriority", "SuspendThread", "TlsAlloc",
         "TlsSetValue", "TryEnterCriticalSection", "WaitForMultipleObjects", "WaitForSingleObject",
#ifdef _WIN64
         // x86-64 table-based unwinding for C++ exceptions (kernel32 forwards them to ntdll)
         "RtlCaptureContext", "RtlLookupFunctionEntry", "RtlUnwindEx", "RtlVirtualUnwind", "__C_specific_handler",
#endif
     }},
    {"msvcrt.dll",
     {
         // the module's own code
         "abort", "memcmp", "memcpy", "memmove", "memset", "strlen", "time",
         // the runtime libraries linked in: start-up and exit, exceptions and terminate's message,
         // locale and printf-style formatting, random_device, winpthreads' threads
         "__mb_cur_max", "_amsg_exit", "_beginthreadex", "_close", "_endthreadex", "_errno", "_initterm", "_iob",
         "_lock", "_read", "_setjmp3", "_strdup", "_ultoa", "_unlock", "atoi", "calloc", "exit", "fprintf", "fputc",
         "fputs", "free", "fwrite", "localeconv", "longjmp", "malloc", "memchr", "printf", "realloc", "setlocale",
         "strchr", "strcmp", "strerror", "strncmp", "vfprintf", "wcslen",
#ifdef _WIN64
         // the same needs under the 64-bit runtime's names (time is _time64 there), and its
         // start-up's signal handlers
         "___lc_codepage_func", "___mb_cur_max_func", "__iob_func", "_setjmp", "_time64", "signal",
#endif
     }},
    // the platform layer's address parsing
    {"ws2_32.dll", {"inet_addr"}},
    // every allocation of the module's own code
    {"zq.dll", {"zq_gt", "zq_gv", "zq_ms"}},
};

TEST(ModuleFile, ImportsOnlyWhatIsListed) {
    const pe_file dll(refhost::plugin_module::default_path());
    const auto imports = dll.imports();
    ASSERT_EQ(1u, imports.count("zq.dll"));
    EXPECT_EQ(kAllowedImports.at("zq.dll"), imports.at("zq.dll"));
    for (const auto& [library, names] : imports) {
        const auto allowed = kAllowedImports.find(lower(library));
        if (allowed == kAllowedImports.end()) {
            ADD_FAILURE() << "an import library that is not listed: " << library;
            continue;
        }
        for (const std::string& name : names) EXPECT_EQ(1u, allowed->second.count(name)) << library << "!" << name;
    }
}

// Windows refuses DisableThreadLibraryCalls for a DLL with static TLS, which every mingw-w64 DLL
// carries: thread notifications stay on (DllMain returns at once for them).
TEST(ModuleFile, CarriesTheRuntimesStaticTlsDirectory) {
    EXPECT_TRUE(pe_file(refhost::plugin_module::default_path()).has_tls_directory());
}

TEST(ModuleFile, StringTableInSimplifiedChinese) {
    const pe_file dll(refhost::plugin_module::default_path());
    const std::vector<std::u16string> block = dll.string_block(100 / 16 + 1, 2052);  // ids 96 to 111
    ASSERT_EQ(16u, block.size());
    EXPECT_TRUE(block[100 % 16] == u"quorrin");
    EXPECT_TRUE(block[102 % 16] == u"DownloadLibPlugin Class");
    EXPECT_TRUE(block[101 % 16].empty());
}
#else
TEST(ModuleFile, ExportsTheEntryPointsAndHidesEverythingElse) {
    const refhost::plugin_module module(refhost::plugin_module::default_path());
    ASSERT_TRUE(module.loaded()) << module.error();
    EXPECT_EQ("", module.error());
    // The module's own C++ (its operator new among it) binds inside it and is not visible.
    for (const char* hidden : {"_ZN7quorrin8CQuorrinC1Ev", "_ZN7quorrin8CQuorrinC2Ev", "_ZN7quorrin12decimal_textB5cxx11Ei",
                               "_ZN7quorrin18CDownloadLibPluginC1Ev", "_ZN7quorrin16module_lock_countEv"}) {
        EXPECT_EQ(nullptr, module.symbol(hidden)) << hidden;
    }
}
#endif

}  // namespace
