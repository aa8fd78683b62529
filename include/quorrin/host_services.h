// The host's service provider and the services that the plug-in obtains from it. Slot numbers
// count IUnknown's three; a ReservedN method holds slot N, which the module never calls, so that
// the later methods land in the slots a host compiled elsewhere puts them in.
#pragma once

#include <cstdint>

#include "quorrin/com_types.h"
#include "quorrin/host_data.h"
#include "quorrin/ids.h"
#include "quorrin/plugin_interfaces.h"

#define QUORRIN_RESERVED(n) \
    virtual HRESULT STDMETHODCALLTYPE Reserved##n() { return E_NOTIMPL; }

struct IHostServiceProvider : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    QUORRIN_RESERVED(7)
    // The plug-in passes its IQuorrin pointer without an extra reference; the host may take its own.
    virtual HRESULT STDMETHODCALLTYPE RegisterObject(const GUID* id, IUnknown* object) = 0;  // 8
    // Afterwards the host holds no reference to the object registered under id.
    virtual HRESULT STDMETHODCALLTYPE UnregisterObject(const GUID* id) = 0;                  // 9
    // *out is preset to null by the caller; on success it holds a counted reference.
    virtual HRESULT STDMETHODCALLTYPE GetService(const GUID* service_id, void** out) = 0;    // 10
    QUORRIN_RESERVED(11)
    virtual HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* class_id, const IID* iid,
                                                   void** out) = 0;                          // 12
};

struct IAsynEventService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    // OnTimer every period_ms on the host's thread until StopTimers.
    virtual HRESULT STDMETHODCALLTYPE StartTimer(IAsynTimerEvents* sink, std::uint32_t timer_id,
                                                 std::uint32_t period_ms, std::int32_t repeat) = 0;  // 5
    QUORRIN_RESERVED(6)
    virtual HRESULT STDMETHODCALLTYPE StopTimers(IAsynTimerEvents* sink) = 0;                        // 7
    virtual HRESULT STDMETHODCALLTYPE AdviseMessages(IAsynMessageEvents* sink) = 0;                  // 8
    virtual HRESULT STDMETHODCALLTYPE UnadviseMessages(IAsynMessageEvents* sink) = 0;                // 9
    // Delivers OnMessage later, from the host's loop.
    virtual HRESULT STDMETHODCALLTYPE PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id,
                                                      std::uintptr_t param, std::uint32_t extra) = 0;  // 10
    // Delivers OnMessage before it returns, and returns what OnMessage returned.
    virtual HRESULT STDMETHODCALLTYPE SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id,
                                                      std::uintptr_t param, std::uint32_t extra) = 0;  // 11
};

struct IStatReportService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    QUORRIN_RESERVED(7)
    // The host takes its own reference to report if it keeps it; report may be null.
    virtual HRESULT STDMETHODCALLTYPE SubmitReport(std::uint32_t name_length, const char* name,
                                                   IHostData* report) = 0;  // 8
};

struct ITransferStatService : IUnknown {
    QUORRIN_RESERVED(3)
    // Writes the download speed in bytes/s; a host may write a (download, upload) pair there.
    virtual HRESULT STDMETHODCALLTYPE GetDownloadSpeed(std::uint32_t* speed) = 0;  // 4
};

// Asked of the transfer statistics service with QueryInterface.
struct ITransferTotals : IUnknown {
    QUORRIN_RESERVED(3)
    // *data holds a new empty object on entry; the host fills it or stores another one there.
    // It sets "total_download_bytes".
    virtual HRESULT STDMETHODCALLTYPE FillTotals(IHostData** data) = 0;  // 4
};

struct IPeerNetworkService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    QUORRIN_RESERVED(5)
    QUORRIN_RESERVED(6)
    virtual HRESULT STDMETHODCALLTYPE GetExternalIp(std::uint32_t* address) = 0;  // 7
    QUORRIN_RESERVED(8)
    QUORRIN_RESERVED(9)
    QUORRIN_RESERVED(10)
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
    // The first two counters together are the bytes uploaded.
    virtual HRESULT STDMETHODCALLTYPE GetTransferCounters(std::uint64_t* c0, std::uint64_t* c1,
                                                          std::uint64_t* c2, std::uint64_t* c3) = 0;  // 27
};

struct IPingService : IUnknown {
    QUORRIN_RESERVED(3)
    QUORRIN_RESERVED(4)
    // Watch exactly these addresses (inet_addr form).
    virtual HRESULT STDMETHODCALLTYPE StartPing(const std::uint32_t* addresses, std::uint32_t count) = 0;  // 5
    // *ms is preset to -1 by the caller; remove 1 stops watching the address.
    virtual HRESULT STDMETHODCALLTYPE GetPing(std::uint32_t address, std::int32_t remove, std::int32_t* ms) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE StopAll() = 0;  // 7
};

struct IStatDataService : IUnknown {
    QUORRIN_RESERVED(3)
    // *value is used only when the result is not negative.
    virtual HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section,
                                             std::uint32_t key_length, const char* key,
                                             std::int32_t* value) = 0;  // 4
};

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

struct ISpeedLimitService : IUnknown {
    QUORRIN_RESERVED(3)
    // Bytes per second.
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
