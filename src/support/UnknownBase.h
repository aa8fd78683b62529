// The base of the module's own reference-counted COM objects, and the module's assertion reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "support/byte_string.h"

namespace quorrin {

// Both build the report text, without allocating, and raise it (platform::raise_assertion);
// neither returns.
// Text: expression " not true, detail: " detail " file: " file " line: " line.
[[noreturn]] void ReportAssertion(const char* expression, std::string_view detail, const char* file, int line);
// Text: expression " not ture, file: " file ", line: " line (the wording is what hosts match on).
[[noreturn]] void ReportAssertionBrief(const char* expression, const char* file, int line);

// Full path of the file that holds the module's code; "" when it cannot be had.
byte_string GetModulePath();
// The part of GetModulePath() after its last separator; "" without one.
byte_string GetModuleFileTitle();

// Holds the module loaded while it lives. The count is interlocked: a host may take and drop
// references on any thread, whatever thread the engine's calls come on.
// A derived class lists its main interface first, then this base, then its further interfaces,
// and implements QueryInterface/AddRef/Release once for all of them with AddRefImpl/ReleaseImpl.
class CUnknownSingleThread {
public:
    explicit CUnknownSingleThread(const char* name);
    CUnknownSingleThread(const CUnknownSingleThread&) = delete;
    CUnknownSingleThread& operator=(const CUnknownSingleThread&) = delete;
    // Reports an assertion unless the count is back at 1: nobody may still hold the object.
    virtual ~CUnknownSingleThread();

    std::uint32_t AddRefImpl() { return m_dwRef.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The release that reaches 0 restores the count to 1 and deletes the object.
    std::uint32_t ReleaseImpl();

    std::uint32_t ref_count() const { return m_dwRef.load(std::memory_order_acquire); }
    const byte_string& name() const { return m_strName; }

private:
    byte_string m_strName;
    std::atomic<std::uint32_t> m_dwRef{1};
};

}  // namespace quorrin
