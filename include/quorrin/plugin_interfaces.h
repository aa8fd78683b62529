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

// The statistics object, registered with the host's provider under IID_IQuorrin. Every call comes on
// the one thread that delivers the event service's OnTimer and OnMessage, one at a time; an
// overlapping or re-entering call gets RPC_E_CALL_REJECTED and changes nothing.
struct IQuorrin : IUnknown {
    // The click: starts measuring task_id. *interval_out receives the sample interval in ms (at
    // which to call UpdateTask); task_data's "offline_url" is read for click type 0, and click
    // type 1 needs at least one CDN address. E_FAIL for a task id already tracked.
    virtual HRESULT STDMETHODCALLTYPE RegisterTask(std::int32_t task_id, std::int32_t task_type,
                                                   std::int32_t click_type, std::uint32_t cid_length,
                                                   const std::uint8_t* cid, std::uint64_t file_size,
                                                   std::uint32_t gcid_length, const std::uint8_t* gcid,
                                                   std::uint32_t time_before_ms, std::uint64_t bytes_before,
                                                   const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                                                   IHostData* task_data) = 0;                           // 3
    // A sample: the task's total bytes so far. E_FAIL for a task not tracked (never registered,
    // finished, or swept after overdue ms without a sample).
    virtual HRESULT STDMETHODCALLTYPE UpdateTask(std::int32_t task_id, std::uint64_t downloaded) = 0;  // 4
    // The end: finishes the task (cid must be the registered one, else E_FAIL and the task stays)
    // and, when it ran longer than dt_duration, submits its report before returning. report_data
    // holds the host's bytes per CDN server, copied into the report as "cdn_down_bytes_stat".
    virtual HRESULT STDMETHODCALLTYPE UnregisterTask(std::int32_t task_id, std::uint32_t cid_length,
                                                     const std::uint8_t* cid, std::uint64_t downloaded,
                                                     IHostData* report_data, std::int32_t reason) = 0;  // 5
    // The server (inet_addr form) that serves an offline URL: the first click type 0 task waiting
    // for that URL with no address yet takes it.
    virtual HRESULT STDMETHODCALLTYPE AddOfflineCdnIp(std::uint32_t url_length, const char* url,
                                                      std::uint32_t address) = 0;                       // 6
};

// Implemented by the statistics object for the host's event service.
struct IAsynTimerEvents : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnTimer(std::uint32_t timer_id) = 0;  // 3
};

struct IAsynMessageEvents : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnMessage(std::uint32_t id, std::uintptr_t param,
                                                std::uint32_t extra) = 0;                  // 3
    virtual HRESULT STDMETHODCALLTYPE OnMessageEvent(std::uint32_t a, std::uint32_t b,
                                                     std::uint32_t c) = 0;                 // 4
};

// The plug-in object, from the class factory of CLSID_DownloadLibPlugin. One object is initialised
// at a time in a process.
struct IDownloadLibPlugin : IUnknown {
    // A value the host may ask of any plug-in; this one always writes 0 (E_POINTER for null).
    // Nothing depends on it.
    virtual HRESULT STDMETHODCALLTYPE GetPluginValue(std::int32_t* value) = 0;            // 3
    // Takes the provider, gets and keeps the services, reads the configuration and registers the
    // statistics object (IHostServiceProvider says what it asks when). E_UNEXPECTED while another
    // object is initialised; E_OUTOFMEMORY leaves nothing behind.
    virtual HRESULT STDMETHODCALLTYPE Initialize(IHostServiceProvider* provider) = 0;     // 4
    // Unregisters and deletes the statistics object (open tasks go without reports) and releases
    // every service. Also run by the last Release if the host never calls it.
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;                                 // 5
    // Always S_FALSE; nothing depends on it.
    virtual HRESULT STDMETHODCALLTYPE QueryStatus() = 0;                                  // 6
};

QUORRIN_DECLARE_IID(IStringSetter, IID_IStringSetter)
QUORRIN_DECLARE_IID(IQuorrin, IID_IQuorrin)
QUORRIN_DECLARE_IID(IAsynTimerEvents, IID_IAsynTimerEvents)
QUORRIN_DECLARE_IID(IAsynMessageEvents, IID_IAsynMessageEvents)
QUORRIN_DECLARE_IID(IDownloadLibPlugin, IID_IDownloadLibPlugin)
