// The statistics object as a sink of the host's event service: message 0 starts the sweep
// timer, message 1 finishes a task, and each timer tick drops the records no sample reached.
#include <memory>
#include <new>

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

    // The one delivery that may finish the task is of this message, before SendAsynMessage returns.
    struct withdraw {
        std::atomic<const finish_message*>& pending;
        ~withdraw() { pending.store(nullptr, std::memory_order_release); }
    } withdraw_on_exit{m_pendingFinish};
    m_pendingFinish.store(message.get(), std::memory_order_release);
    const HRESULT hr =
        events->SendAsynMessage(message_sink(), kFinishMessage, reinterpret_cast<std::uintptr_t>(message.get()), 0);
    // Not delivered: the task is not finished, whatever the service says; a late delivery is refused.
    if (m_pendingFinish.exchange(nullptr, std::memory_order_acq_rel) != nullptr) return FAILED(hr) ? hr : E_FAIL;
    return hr;
}

HRESULT CQuorrin::OnMessage(std::uint32_t id, std::uintptr_t param, std::uint32_t) {
    switch (id) {
        case kStartTimerMessage: {
            // Served at any time: it touches nothing of the engine's.
            IAsynEventService* events = GetAsynEventService();
            RETURN_HR_IF(E_UNEXPECTED, events == nullptr || m_closed);
            return events->StartTimer(timer_sink(), 0, kSweepPeriodMs, 1);
        }
        case kFinishMessage: {
            // Runs inside the UnregisterTask that sent it, which holds the engine; any other
            // message 1 (stray, late or repeated) names memory the module no longer owns.
            const auto* message = reinterpret_cast<const finish_message*>(param);
            const finish_message* expected = message;
            RETURN_HR_IF(E_FAIL, message == nullptr || !m_pendingFinish.compare_exchange_strong(
                                                            expected, nullptr, std::memory_order_acq_rel));
            return com_boundary([&] { return FinishTask(*message); });
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
        for (auto it = m_mapTasks.begin(); it != m_mapTasks.end();) {
            if (it->second->is_overdue(now)) {
                ReleaseCdnIps(it->second->cdn_ip_list);
                it = m_mapTasks.erase(it);
            } else {
                ++it;
            }
        }
        CheckIdle();
        return S_OK;
    });
}

}  // namespace quorrin
