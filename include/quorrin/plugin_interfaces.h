// The interfaces that the plug-in implements and the host calls, and the host's layout of the
// CDN address array handed to RegisterTask.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quorrin/com_types.h"
#include "quorrin/host_data.h"
#include "quorrin/ids.h"

struct IHostServiceProvider;

// Receives a string from the host. Each call replaces the destination's whole content; with
// length 0 the pointer is not read and may be null.
struct IStringSetter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetString(std::uint32_t length, const char* chars) = 0;  // 3
};

#pragma pack(push, 1)
// One CDN address as dotted IPv4 text; the characters need not be NUL-terminated.
struct cdn_ip_entry {
    char chars[20];
    std::uint32_t length;  // characters used; the module never reads past chars[19]
    std::uint16_t unused;
};
#pragma pack(pop)
static_assert(sizeof(cdn_ip_entry) == 26, "entries lie 26 bytes apart");
static_assert(offsetof(cdn_ip_entry, length) == 20, "host layout");

// On Win32 the pointer sits at offset 4; a native build uses the platform's natural layout.
struct cdn_ip_array {
    std::uint32_t count;
    const cdn_ip_entry* entries;
};

struct IQuorrin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterTask(std::int32_t task_id, std::int32_t task_type,
                                                   std::int32_t click_type, std::uint32_t cid_length,
                                                   const std::uint8_t* cid, std::uint64_t file_size,
                                                   std::uint32_t gcid_length, const std::uint8_t* gcid,
                                                   std::uint32_t time_before_ms, std::uint64_t bytes_before,
                                                   const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                                                   IHostData* task_data) = 0;                           // 3
    virtual HRESULT STDMETHODCALLTYPE UpdateTask(std::int32_t task_id, std::uint64_t downloaded) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE UnregisterTask(std::int32_t task_id, std::uint32_t cid_length,
                                                     const std::uint8_t* cid, std::uint64_t downloaded,
                                                     IHostData* report_data, std::int32_t reason) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE AddOfflineCdnIp(std::uint32_t url_length, const char* url,
                                                      std::uint32_t address) = 0;                       // 6
};

struct IAsynTimerEvents : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnTimer(std::uint32_t timer_id) = 0;  // 3
};

struct IAsynMessageEvents : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnMessage(std::uint32_t id, std::uintptr_t param,
                                                std::uint32_t extra) = 0;                  // 3
    virtual HRESULT STDMETHODCALLTYPE OnMessageEvent(std::uint32_t a, std::uint32_t b,
                                                     std::uint32_t c) = 0;                 // 4
};

struct IDownloadLibPlugin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPluginValue(std::int32_t* value) = 0;            // 3
    virtual HRESULT STDMETHODCALLTYPE Initialize(IHostServiceProvider* provider) = 0;     // 4
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;                                 // 5
    virtual HRESULT STDMETHODCALLTYPE QueryStatus() = 0;                                  // 6
};

QUORRIN_DECLARE_IID(IStringSetter, IID_IStringSetter)
QUORRIN_DECLARE_IID(IQuorrin, IID_IQuorrin)
QUORRIN_DECLARE_IID(IAsynTimerEvents, IID_IAsynTimerEvents)
QUORRIN_DECLARE_IID(IAsynMessageEvents, IID_IAsynMessageEvents)
QUORRIN_DECLARE_IID(IDownloadLibPlugin, IID_IDownloadLibPlugin)
