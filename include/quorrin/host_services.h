// The host's service provider and the services that the plug-in obtains from it. Slot numbers
// count IUnknown's three; a ReservedN method holds slot N, which the module never calls, so that
// the later methods land in the slots a host compiled elsewhere puts them in.
//
// When the module asks:
// - Initialize: GetService for the statistics data and settings services (their values:
//   quorrin/configuration.h), then for the report, asynchronous event, transfer statistics, peer
//   network and ping services, which it keeps until Uninitialize; RegisterObject(IID_IQuorrin);
//   AdviseMessages and PostAsynMessage(0). Message 0, when delivered, calls StartTimer.
// - Each speed sample (RegisterTask, UpdateTask, UnregisterTask): GetTransferCounters and
//   FillTotals with the peer network service, else GetDownloadSpeed; for a sample the report
//   keeps, GetPing per CDN address and the settings' env/user_task_count.
// - RegisterTask: for click type 0, CreateObject for a copy of the task data; StartPing when it
//   adds addresses; GetDownloadSpeed for the click figures.
// - UnregisterTask: SendAsynMessage(1), in which the task is finished; GetPing(remove 1) and
//   StopAll as addresses go; for a task that ran longer than dt_duration: CreateObject for the
//   report and its parts, GetPeerId, GetExternalIp, net_detect/bandwidth, GetService for the
//   speed limit service (asked for here, each time, and released), SubmitReport.
// - OnTimer: GetPing(remove 1) for the addresses of the tasks it sweeps, StopAll when no task is left.
// - Uninitialize: UnregisterObject, StopTimers, UnadviseMessages, then every kept service released.
//
// A service the host lacks: GetService leaves *out null and returns E_NOINTERFACE. The module
// tests the pointer, not the result (a failing call that still hands out a pointer is used).
// Without the asynchronous event service no timer runs and UnregisterTask finishes the task within
// the call; without the transfer statistics service the global speeds are 0; every other service
// is optional and its part of the report is left out or at its default.
#pragma once

#include <cstdint>

#include "quorrin/com_types.h"
#include "quorrin/host_data.h"
#include "quorrin/ids.h"
#include "quorrin/plugin_interfaces.h"

#define QUORRIN_RESERVED(n) \
    virtual HRESULT STDMETHODCALLTYPE Reserved##n() { return E_NOTIMPL; }

// Handed to IDownloadLibPlugin::Initialize; the module keeps a reference until Uninitialize.
struct IHostServiceProvider : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    QUORRIN_RESERVED(7)
    // The statistics object, under IID_IQuorrin (once, in Initialize), passed without an extra
    // reference: the host makes its IQuorrin calls on it until UnregisterObject.
    virtual HRESULT STDMETHODCALLTYPE RegisterObject(const GUID* id, IUnknown* object) = 0;  // 8
    // In Uninitialize. A reference the host took of its own must be gone when this returns: the
    // module deletes the object then.
    virtual HRESULT STDMETHODCALLTYPE UnregisterObject(const GUID* id) = 0;                  // 9
    // service_id is one of the SID_ ids; *out is preset to null by the caller, and on success holds
    // a counted reference to the service (for the peer network and ping services, any object that
    // answers QueryInterface for their interface ids).
    virtual HRESULT STDMETHODCALLTYPE GetService(const GUID* service_id, void** out) = 0;    // 10
    QUORRIN_RESERVED(11)
    // A new, empty data object: the module asks for class CLSID_HostData and interface
    // IID_IHostData, with *out preset to null (quorrin::host_data_object::create serves it). A host
    // that gives nothing makes the module go on without that object.
    virtual HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* class_id, const IID* iid,
                                                   void** out) = 0;                          // 12
};

// Expected; without it no timer runs, so no sweep drops the tasks that stopped being sampled, and
// UnregisterTask finishes its task within the call. Timers and messages on the host's own thread:
// every OnTimer and OnMessage comes on the thread that makes the IQuorrin calls, and never from
// inside a call the module makes.
struct IAsynEventService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    // OnTimer(timer_id) every period_ms until StopTimers; the module starts one, (sink, 0, 15000, 1).
    virtual HRESULT STDMETHODCALLTYPE StartTimer(IAsynTimerEvents* sink, std::uint32_t timer_id,
                                                 std::uint32_t period_ms, std::int32_t repeat) = 0;  // 5
    QUORRIN_RESERVED(6)
    // Stops every timer of sink; the service drops any reference it took for them.
    virtual HRESULT STDMETHODCALLTYPE StopTimers(IAsynTimerEvents* sink) = 0;                        // 7
    // The sink that the messages below are for; once in Initialize.
    virtual HRESULT STDMETHODCALLTYPE AdviseMessages(IAsynMessageEvents* sink) = 0;                  // 8
    // Once in Uninitialize: nothing may be delivered to sink afterwards, so drop what is queued.
    virtual HRESULT STDMETHODCALLTYPE UnadviseMessages(IAsynMessageEvents* sink) = 0;                // 9
    // Delivers OnMessage later, from the host's loop (message 0, after Initialize).
    virtual HRESULT STDMETHODCALLTYPE PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id,
                                                      std::uintptr_t param, std::uint32_t extra) = 0;  // 10
    // Delivers OnMessage once, before it returns, and returns what OnMessage returned (message 1,
    // inside UnregisterTask; param points at a block that lives only during the call).
    virtual HRESULT STDMETHODCALLTYPE SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id,
                                                      std::uintptr_t param, std::uint32_t extra) = 0;  // 11
};

// Optional (without it reports are built and dropped).
struct IStatReportService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    QUORRIN_RESERVED(7)
    // A finished task's report, named "Quorrin" (docs/report-format.md). The host takes its own
    // reference to report if it keeps it; report may be null when CreateObject gave nothing.
    virtual HRESULT STDMETHODCALLTYPE SubmitReport(std::uint32_t name_length, const char* name,
                                                   IHostData* report) = 0;  // 8
};

// Expected; without it the global speeds are 0. The host's transfer figures of the moment.
struct ITransferStatService : IUnknown {
    QUORRIN_RESERVED(3)
    // Writes the download speed in bytes/s; a host may write a (download, upload) pair there.
    virtual HRESULT STDMETHODCALLTYPE GetDownloadSpeed(std::uint32_t* speed) = 0;  // 4
};

// Asked of the transfer statistics service with QueryInterface (IID_ITransferTotals) at each
// sample when the peer network service exists.
struct ITransferTotals : IUnknown {
    QUORRIN_RESERVED(3)
    // *data holds a new empty object on entry; the host fills it or stores another one there.
    // It sets "total_download_bytes".
    virtual HRESULT STDMETHODCALLTYPE FillTotals(IHostData** data) = 0;  // 4
};

// Optional; obtained with GetService(SID_PeerNetworkService), then QueryInterface for
// IID_IPeerNetworkService.
struct IPeerNetworkService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    // The host's external IPv4 address (inet_addr form), reported as "external_ip"; *address is 0 on entry.
    virtual HRESULT STDMETHODCALLTYPE GetExternalIp(std::uint32_t* address) = 0;  // 7
    QUORRIN_RESERVED(8)
    QUORRIN_RESERVED(9)
    QUORRIN_RESERVED(10)
    // The host's peer id, reported as "peerid", through receiver->SetString before returning.
    virtual HRESULT STDMETHODCALLTYPE GetPeerId(IStringSetter* receiver) = 0;  // 11
    QUORRIN_RESERVED(12)
    QUORRIN_RESERVED(13)
    QUORRIN_RESERVED(14)
    QUORRIN_RESERVED(15)
    QUORRIN_RESERVED(16)
    QUORRIN_RESERVED(17)
    QUORRIN_RESERVED(18)
    QUORRIN_RESERVED(19)
    QUORRIN_RESERVED(20)
    QUORRIN_RESERVED(21)
    QUORRIN_RESERVED(22)
    QUORRIN_RESERVED(23)
    QUORRIN_RESERVED(24)
    QUORRIN_RESERVED(25)
    QUORRIN_RESERVED(26)
    // The first two counters together are the bytes uploaded so far (the upload speed is taken
    // from their growth); the other two are not used. All four are 0 on entry.
    virtual HRESULT STDMETHODCALLTYPE GetTransferCounters(std::uint64_t* c0, std::uint64_t* c1,
                                                          std::uint64_t* c2, std::uint64_t* c3) = 0;  // 27
};

// Optional; obtained with GetService(SID_PingService), then QueryInterface for IID_IPingService.
// Measures the round trip to the tasks' CDN servers.
struct IPingService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    // Watch exactly these addresses (inet_addr form): the whole watched set, each time it grows.
    virtual HRESULT STDMETHODCALLTYPE StartPing(const std::uint32_t* addresses, std::uint32_t count) = 0;  // 5
    // The last round trip to address in ms, or -1 for none; *ms is preset to -1 by the caller.
    // remove 1 stops watching the address (the last task that held it is gone).
    virtual HRESULT STDMETHODCALLTYPE GetPing(std::uint32_t address, std::int32_t remove, std::int32_t* ms) = 0;  // 6
    // No task is left: stop watching everything.
    virtual HRESULT STDMETHODCALLTYPE StopAll() = 0;  // 7
};

// Optional (without it every value is its fallback). Integer values by section and key; what the
// module asks for is in quorrin/configuration.h.
struct IStatDataService : IUnknown {
    QUORRIN_RESERVED(3)
    // *value is used only when the result is not negative; a failure means "use the fallback".
    virtual HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section,
                                             std::uint32_t key_length, const char* key,
                                             std::int32_t* value) = 0;  // 4
};

// Optional, as the statistics data service; the module's lookups are in quorrin/configuration.h.
struct ISettingsService : IUnknown {
    QUORRIN_RESERVED(3)
    virtual HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section,
                                             std::uint32_t key_length, const char* key,
                                             std::int32_t* value) = 0;  // 4
    QUORRIN_RESERVED(5)
    // True only when *value is 1.
    virtual HRESULT STDMETHODCALLTYPE GetBool(std::uint32_t section_length, const char* section,
                                              std::uint32_t key_length, const char* key,
                                              std::int32_t* value) = 0;  // 6
};

// Optional; asked for with GetService inside UnregisterTask, for each report, and released there.
struct ISpeedLimitService : IUnknown {
    QUORRIN_RESERVED(3)
    // The user's download limit in bytes per second, reported in KiB/s as "dl_speed_limit".
    virtual HRESULT STDMETHODCALLTYPE GetDownloadLimit(std::uint32_t* limit) = 0;  // 4
};

#undef QUORRIN_RESERVED

QUORRIN_DECLARE_IID(IAsynEventService, SID_AsynEventService)
QUORRIN_DECLARE_IID(IStatReportService, SID_StatReportService)
QUORRIN_DECLARE_IID(ITransferStatService, SID_TransferStatService)
QUORRIN_DECLARE_IID(ITransferTotals, IID_ITransferTotals)
QUORRIN_DECLARE_IID(IPeerNetworkService, IID_IPeerNetworkService)
QUORRIN_DECLARE_IID(IPingService, IID_IPingService)
QUORRIN_DECLARE_IID(IStatDataService, SID_StatDataService)
QUORRIN_DECLARE_IID(ISettingsService, SID_SettingsService)
QUORRIN_DECLARE_IID(ISpeedLimitService, SID_SpeedLimitService)
