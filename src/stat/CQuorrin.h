// The statistics object: the task table, the counted CDN addresses that the ping service
// watches, and the host's timer and message sink. Its engine calls are served one at a time
// (engine_guard.h); its reference count may move on any thread.
#pragma once

#include <cstdint>
#include <map>

#include "quorrin/host_services.h"
#include "quorrin/plugin_interfaces.h"
#include "stat/task_record.h"
#include "stat/task_table.h"
#include "support/UnknownBase.h"

namespace quorrin {

// Travels with message 1 from UnregisterTask to FinishTask; lives only during UnregisterTask.
struct finish_message {
    finish_message() = default;
    finish_message(const finish_message&) = delete;
    finish_message& operator=(const finish_message&) = delete;
    ~finish_message() {
        if (report_data) report_data->Release();
    }

    std::int32_t task_id = 0;
    byte_string cid;
    std::uint64_t downloaded = 0;
    IHostData* report_data = nullptr;  // one counted reference, or null
    std::int32_t reason = 0;
};

class CQuorrin final : public IQuorrin, public CUnknownSingleThread, public IAsynTimerEvents, public IAsynMessageEvents {
public:
    using address_counts = std::map<std::uint32_t, std::uint32_t>;

    static constexpr std::uint32_t kStartTimerMessage = 0;
    static constexpr std::uint32_t kFinishMessage = 1;
    static constexpr std::uint32_t kSweepPeriodMs = 15000;

    CQuorrin();
    // Closes the object if that has not happened yet.
    ~CQuorrin() override;
    // Stops the timer, withdraws the message sink and discards every open task without a report;
    // from then on every engine call gets E_UNEXPECTED. For a shut-down that cannot destroy the
    // object at once: the caller of the call in progress may still hold it for that call.
    void Close();

    // Copies the sample interval, advises the message sink and posts message 0 (which starts the
    // timer). E_UNEXPECTED without the asynchronous event service; a failed AdviseMessages is
    // returned and nothing is posted, so no timer runs.
    HRESULT Register();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // Every entry point below is an engine call: refused with RPC_E_CALL_REJECTED while another
    // is in progress (engine_guard.h). The one exception is the finish message that the
    // UnregisterTask in progress waits for, delivered on its thread inside its SendAsynMessage.
    // Arguments that cannot be read (a null interval out, a null cid, gcid or entry array with a
    // non-zero length) give E_POINTER and change nothing; the interval out is written first
    // unless it is the null one.
    HRESULT STDMETHODCALLTYPE RegisterTask(std::int32_t task_id, std::int32_t task_type, std::int32_t click_type,
                                           std::uint32_t cid_length, const std::uint8_t* cid, std::uint64_t file_size,
                                           std::uint32_t gcid_length, const std::uint8_t* gcid,
                                           std::uint32_t time_before_ms, std::uint64_t bytes_before,
                                           const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                                           IHostData* task_data) override;
    HRESULT STDMETHODCALLTYPE UpdateTask(std::int32_t task_id, std::uint64_t downloaded) override;
    HRESULT STDMETHODCALLTYPE UnregisterTask(std::int32_t task_id, std::uint32_t cid_length, const std::uint8_t* cid,
                                             std::uint64_t downloaded, IHostData* report_data,
                                             std::int32_t reason) override;
    HRESULT STDMETHODCALLTYPE AddOfflineCdnIp(std::uint32_t url_length, const char* url, std::uint32_t address) override;

    HRESULT STDMETHODCALLTYPE OnTimer(std::uint32_t timer_id) override;
    HRESULT STDMETHODCALLTYPE OnMessage(std::uint32_t id, std::uintptr_t param, std::uint32_t extra) override;
    HRESULT STDMETHODCALLTYPE OnMessageEvent(std::uint32_t, std::uint32_t, std::uint32_t) override;

    bool AddCdnIps(const cdn_ip_set& list);
    bool ReleaseCdnIps(const cdn_ip_set& list);
    void CheckIdle();
    HRESULT FinishTask(const finish_message& message);
    static void ReportTask(task_record& record, IHostData* report_data);

    const task_table& tasks() const { return m_mapTasks; }
    const address_counts& cdn_ip_refs() const { return m_mapCdnIpRefs; }
    std::int32_t sample_interval() const { return m_dwSampleInterval; }

private:
    HRESULT register_task(std::int32_t task_id, std::int32_t task_type, std::int32_t click_type,
                          std::uint32_t cid_length, const std::uint8_t* cid, std::uint64_t file_size,
                          std::uint32_t gcid_length, const std::uint8_t* gcid, std::uint32_t time_before_ms,
                          std::uint64_t bytes_before, const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                          IHostData* task_data);
    HRESULT unregister_task(std::int32_t task_id, std::uint32_t cid_length, const std::uint8_t* cid,
                            std::uint64_t downloaded, IHostData* report_data, std::int32_t reason);
    IAsynMessageEvents* message_sink() { return this; }
    IAsynTimerEvents* timer_sink() { return this; }

    task_table m_mapTasks;
    address_counts m_mapCdnIpRefs;
    std::int32_t m_dwSampleInterval = 3000;
    // The finish message that the UnregisterTask in progress has sent and waits to see delivered;
    // taken by its one delivery, whose result is kept for UnregisterTask. Touched only by the
    // thread that holds the engine.
    const finish_message* m_pendingFinish = nullptr;
    HRESULT m_finishResult = S_OK;
    sample_scratch m_scratch;
    bool m_closed = false;
};

// The addresses of a host array, in order: each entry's characters (at most its 20) parsed as
// dotted IPv4 text. Entries are read byte-wise: the host packs them 26 bytes apart.
void parse_cdn_ips(const cdn_ip_array& array, cdn_ip_set& out);

}  // namespace quorrin
