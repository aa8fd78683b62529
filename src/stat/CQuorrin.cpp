#include "stat/CQuorrin.h"

#include <cstring>
#include <string>
#include <vector>

#include "config/stat_config.h"
#include "report/task_report.h"
#include "report/vq_data.h"
#include "stat/engine_guard.h"
#include "support/host_services.h"
#include "support/result_macros.h"
#include "support/text.h"

namespace quorrin {

namespace {

byte_string bytes_of(const std::uint8_t* p, std::uint32_t length) {
    return length ? byte_string(reinterpret_cast<const char*>(p), length) : byte_string();
}

}  // namespace

void parse_cdn_ips(const cdn_ip_array& array, cdn_ip_set& out) {
    const auto* first = reinterpret_cast<const unsigned char*>(array.entries);
    for (std::uint32_t i = 0; i < array.count; ++i) {
        const unsigned char* entry = first + static_cast<std::size_t>(i) * sizeof(cdn_ip_entry);
        std::uint32_t length = 0;
        std::memcpy(&length, entry + offsetof(cdn_ip_entry, length), sizeof length);
        // A count above the entry's 20 characters reads only those 20.
        if (length > sizeof(cdn_ip_entry::chars)) length = sizeof(cdn_ip_entry::chars);
        out.insert(parse_ipv4_chars(reinterpret_cast<const char*>(entry), length));
    }
}

CQuorrin::CQuorrin() : CUnknownSingleThread("CQuorrin") {}

CQuorrin::~CQuorrin() { Close(); }

void CQuorrin::Close() {
    if (m_closed) return;
    m_closed = true;
    if (IAsynEventService* events = GetAsynEventService()) {
        events->StopTimers(timer_sink());
        events->UnadviseMessages(message_sink());
    }
    // Open tasks go without a report, lowest task id first.
    m_mapTasks.clear();
    m_mapCdnIpRefs.clear();
}

HRESULT CQuorrin::Register() {
    m_dwSampleInterval = static_cast<std::int32_t>(stat_config::instance()->sample_interval());
    IAsynEventService* events = GetAsynEventService();
    RETURN_HR_IF(E_UNEXPECTED, events == nullptr);
    // A sink that the host refused is one it cannot withdraw messages for: post nothing to it.
    RETURN_IF_FAILED(events->AdviseMessages(message_sink()));
    return events->PostAsynMessage(message_sink(), kStartTimerMessage, 0, 0);
}

HRESULT CQuorrin::QueryInterface(REFIID iid, void** out) {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    if (iid == IID_IQuorrin) {
        *out = static_cast<IQuorrin*>(this);
    } else if (iid == IID_IAsynTimerEvents) {
        *out = static_cast<IAsynTimerEvents*>(this);
    } else if (iid == IID_IAsynMessageEvents || iid == IID_IUnknown) {
        *out = static_cast<IAsynMessageEvents*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT CQuorrin::RegisterTask(std::int32_t task_id, std::int32_t task_type, std::int32_t click_type,
                               std::uint32_t cid_length, const std::uint8_t* cid, std::uint64_t file_size,
                               std::uint32_t gcid_length, const std::uint8_t* gcid, std::uint32_t time_before_ms,
                               std::uint64_t bytes_before, const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                               IHostData* task_data) {
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, m_closed);
        return register_task(task_id, task_type, click_type, cid_length, cid, file_size, gcid_length, gcid,
                             time_before_ms, bytes_before, cdn_ips, interval_out, task_data);
    });
}

HRESULT CQuorrin::register_task(std::int32_t task_id, std::int32_t task_type, std::int32_t click_type,
                                std::uint32_t cid_length, const std::uint8_t* cid, std::uint64_t file_size,
                                std::uint32_t gcid_length, const std::uint8_t* gcid, std::uint32_t time_before_ms,
                                std::uint64_t bytes_before, const cdn_ip_array* cdn_ips, std::int32_t* interval_out,
                                IHostData* task_data) {
    RETURN_HR_IF(E_FAIL, m_dwSampleInterval < 1000);
    RETURN_HR_IF(E_POINTER, interval_out == nullptr);
    *interval_out = m_dwSampleInterval;
    RETURN_HR_IF(E_FAIL, click_type == 1 && (cdn_ips == nullptr || cdn_ips->count == 0));
    RETURN_HR_IF(E_FAIL, m_mapTasks.count(task_id) != 0);
    // Only now the pointers that the steps below read through.
    RETURN_HR_IF(E_POINTER, (cid == nullptr && cid_length != 0) || (gcid == nullptr && gcid_length != 0));
    RETURN_HR_IF(E_POINTER, cdn_ips != nullptr && cdn_ips->count != 0 && cdn_ips->entries == nullptr);

    // Everything that can fail for want of memory happens before the host sees a change: the
    // record and the table's room for it are made here, and the record goes in at the end.
    task_table::pending spare = m_mapTasks.make(task_id);
    task_record& record = spare.record();
    record.task_type = task_type;
    record.click_type = click_type;
    record.cid = bytes_of(cid, cid_length);
    record.filesize = file_size;
    record.gcid = bytes_of(gcid, gcid_length);
    if (cdn_ips) parse_cdn_ips(*cdn_ips, record.cdn_ip_list);
    // Room for the click's pings, so that beginning the record needs no block of the pool.
    m_scratch.reserve(record.cdn_ip_list.size());

    AddCdnIps(record.cdn_ip_list);
    try {
        if (click_type == 0) {
            vq_data task(task_data);
            record.offline_url = task.get_string("offline_url", std::string_view());
        }
        record.begin(bytes_before, time_before_ms, static_cast<std::uint32_t>(m_mapTasks.size()), m_scratch);
    } catch (...) {
        // Only the runtime heap can still fail here (the offline URL): withdraw the addresses.
        ReleaseCdnIps(record.cdn_ip_list);
        throw;
    }
    m_mapTasks.insert(std::move(spare));
    return S_OK;
}

HRESULT CQuorrin::UpdateTask(std::int32_t task_id, std::uint64_t downloaded) {
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, m_closed);
        const auto found = m_mapTasks.find(task_id);
        RETURN_HR_IF(E_FAIL, found == m_mapTasks.end());
        found->second->sample(downloaded, static_cast<std::uint16_t>(m_mapTasks.size()), m_scratch);
        m_mapTasks.sampled(found);
        return S_OK;
    });
}

HRESULT CQuorrin::AddOfflineCdnIp(std::uint32_t url_length, const char* url, std::uint32_t address) {
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, m_closed);
        RETURN_HR_IF(E_POINTER, url == nullptr && url_length != 0);
        const std::string_view wanted = url_length ? std::string_view(url, url_length) : std::string_view();
        for (const auto& [id, record] : m_mapTasks) {
            if (record->click_type != 0 || !record->cdn_ip_list.empty() || record->offline_url != wanted) continue;
            record->cdn_ip_list.insert(address);
            try {
                AddCdnIps(record->cdn_ip_list);
            } catch (...) {
                // Uncounted, the address would take another record's count when this record goes.
                record->cdn_ip_list.erase(address);
                throw;
            }
            break;
        }
        return S_OK;
    });
}

bool CQuorrin::AddCdnIps(const cdn_ip_set& list) {
    IPingService* ping = GetPingService();
    if (!ping) return false;
    if (list.empty()) return true;
    // New entries and the array for the ping service are made first; after that nothing below
    // allocates, so the counts change wholly or not at all.
    address_counts fresh;
    for (const std::uint32_t address : list) {
        if (m_mapCdnIpRefs.count(address) == 0) fresh.emplace(address, 1);
    }
    std::vector<std::uint32_t> watched;
    if (!fresh.empty()) watched.reserve(m_mapCdnIpRefs.size() + fresh.size());
    for (const std::uint32_t address : list) {
        const auto found = m_mapCdnIpRefs.find(address);
        if (found != m_mapCdnIpRefs.end()) ++found->second;
    }
    if (fresh.empty()) return true;
    m_mapCdnIpRefs.merge(fresh);
    for (const auto& entry : m_mapCdnIpRefs) watched.push_back(entry.first);
    ping->StartPing(watched.data(), static_cast<std::uint32_t>(watched.size()));
    return true;
}

bool CQuorrin::ReleaseCdnIps(const cdn_ip_set& list) {
    IPingService* ping = GetPingService();
    if (!ping) return false;
    for (const std::uint32_t address : list) {
        const auto found = m_mapCdnIpRefs.find(address);
        if (found != m_mapCdnIpRefs.end()) {
            if (--found->second != 0) continue;
            m_mapCdnIpRefs.erase(found);
        }
        std::int32_t scratch = -1;
        ping->GetPing(address, 1, &scratch);
    }
    return true;
}

void CQuorrin::ReportTask(task_record& record, IHostData* report_data) { report_task(record, report_data); }

void CQuorrin::CheckIdle() {
    if (!m_mapTasks.empty()) return;
    if (IPingService* ping = GetPingService()) ping->StopAll();
    m_mapCdnIpRefs.clear();
}

}  // namespace quorrin
