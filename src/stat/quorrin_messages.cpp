// The statistics object as a sink of the host's event service: message 0 starts the sweep
// timer, message 1 finishes a task, and each timer tick drops the records no sample reached.
#include <memory>
#include <new>

#include "config/stat_config.h"
#include "platform/clock.h"
#include "stat/CQuorrin.h"
#include "stat/engine_guard.h"
#include "support/host_services.h"
#include "support/result_macros.h"

namespace quorrin {

HRESULT CQuorrin::UnregisterTask(std::int32_t task_id, std::uint32_t cid_length, const std::uint8_t* cid,
                                 std::uint64_t downloaded, IHostData* report_data, std::int32_t reason) {
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, m_closed);
        RETURN_HR_IF(E_POINTER, cid == nullptr && cid_length != 0);
        return unregister_task(task_id, cid_length, cid, downloaded, report_data, reason);
    });
}

HRESULT CQuorrin::unregister_task(std::int32_t task_id, std::uint32_t cid_length, const std::uint8_t* cid,
                                  std::uint64_t downloaded, IHostData* report_data, std::int32_t reason) {
    auto message = std::make_unique<finish_message>();
    message->task_id = task_id;
    message->downloaded = downloaded;
    if (cid_length) message->cid.assign(reinterpret_cast<const char*>(cid), cid_length);
    message->reason = reason;
    if (report_data) {
        report_data->AddRef();
        message->report_data = report_data;
    }
    IAsynEventService* events = GetAsynEventService();
    // Without the event service there is no other thread to get onto: finish right here.
    if (!events) return FinishTask(*message);

    // The one delivery that may finish the task is of this message, on this thread, before
    // SendAsynMessage returns.
    struct withdraw {
        CQuorrin& self;
        ~withdraw() {
            self.m_pendingFinish = nullptr;
            engine_guard::wait_here(false);
        }
    } withdraw_on_exit{*this};
    m_pendingFinish = message.get();
    engine_guard::wait_here(true);
    const HRESULT hr =
        events->SendAsynMessage(message_sink(), kFinishMessage, reinterpret_cast<std::uintptr_t>(message.get()), 0);
    // Served (its delivery took it), perhaps early by the host itself: what the finish did, not
    // what a later duplicate delivery made of it. Not served: the task is not finished, whatever
    // the service says.
    if (m_pendingFinish == nullptr) return m_finishResult;
    return FAILED(hr) ? hr : E_FAIL;
}

HRESULT CQuorrin::OnMessage(std::uint32_t id, std::uintptr_t param, std::uint32_t) {
    switch (id) {
        case kStartTimerMessage:
            return guarded_call([&] {
                IAsynEventService* events = GetAsynEventService();
                RETURN_HR_IF(E_UNEXPECTED, events == nullptr || m_closed);
                return events->StartTimer(timer_sink(), 0, kSweepPeriodMs, 1);
            });
        case kFinishMessage: {
            // Nested in the UnregisterTask that sent it, on its thread, at its first delivery: the
            // designed re-entry. Any other message 1 is refused while a call is in progress, and
            // fails when none is: no UnregisterTask waits for it, and its address is not followed.
            if (!engine_guard::waited_for_here()) return guarded_call([] { return E_FAIL; });
            const auto* message = reinterpret_cast<const finish_message*>(param);
            RETURN_HR_IF(RPC_E_CALL_REJECTED, message == nullptr || message != m_pendingFinish);
            m_pendingFinish = nullptr;
            m_finishResult = com_boundary([&] { return FinishTask(*message); });
            return m_finishResult;
        }
        default:
            return guarded_call([] { return E_FAIL; });
    }
}

HRESULT CQuorrin::OnMessageEvent(std::uint32_t, std::uint32_t, std::uint32_t) {
    return guarded_call([] { return S_OK; });
}

HRESULT CQuorrin::FinishTask(const finish_message& message) {
    const auto found = m_mapTasks.find(message.task_id);
    RETURN_HR_IF(E_FAIL, found == m_mapTasks.end() || !found->second);
    task_record& record = *found->second;
    RETURN_HR_IF(E_FAIL, record.cid != message.cid);

    // All or nothing: out of memory here leaves the task open, and the host may try again.
    record.end(message.downloaded, static_cast<std::uint32_t>(m_mapTasks.size()), message.reason, m_scratch);
    ReleaseCdnIps(record.cdn_ip_list);
    // From here the record goes whatever happens: its addresses are already released.
    HRESULT result = S_OK;
    try {
        ReportTask(record, message.report_data);
    } catch (const std::bad_alloc&) {
        result = E_OUTOFMEMORY;  // the report is lost; the task is finished all the same
    }
    m_mapTasks.erase(found);
    CheckIdle();
    return result;
}

HRESULT CQuorrin::OnTimer(std::uint32_t) {
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, m_closed);
        const std::uint32_t now = platform::tick_count();
        const std::uint32_t overdue = stat_config::instance()->overdue();
        m_mapTasks.erase_stale([&](std::uint32_t last_tick) { return task_record::stale(last_tick, now, overdue); },
                               [&](task_record& record) { ReleaseCdnIps(record.cdn_ip_list); });
        CheckIdle();
        return S_OK;
    });
}

}  // namespace quorrin
