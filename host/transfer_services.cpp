#include "quorrin/plugin_interfaces.h"
#include "services.h"

namespace refhost {

HRESULT transfer_stat_service::GetDownloadSpeed(std::uint32_t* speed) {
    const hooked_call hooked(m_log->hook, "transfer.GetDownloadSpeed");
    if (m_log->active()) m_log->add("transfer.GetDownloadSpeed");
    if (!speed) return E_POINTER;
    if (speed_fails) return E_FAIL;
    speed[0] = download_speed;
    // The slot after the download speed is the point's upload speed: a host may write both.
    if (writes_pair) speed[1] = upload_speed;
    return S_OK;
}

HRESULT transfer_stat_service::FillTotals(IHostData** data) {
    const hooked_call hooked(m_log->hook, "transfer.FillTotals");
    if (m_log->active()) m_log->add("totals.FillTotals");
    if (!data) return E_POINTER;
    if (totals_fail) return E_FAIL;
    static const char key[] = "total_download_bytes";
    const auto value = static_cast<std::int64_t>(total_download_bytes);
    if (totals == totals_mode::replace) {
        // Store an object of our own in its place; the one that was there is released.
        data_object* fresh = m_data->create();
        if (fresh && has_total) fresh->put_int(key, value);
        if (*data) (*data)->Release();
        *data = fresh;
        return S_OK;
    }
    if (*data && has_total) (*data)->PutInt64(sizeof key - 1, key, value);
    return S_OK;
}

HRESULT peer_network_service::GetExternalIp(std::uint32_t* address) {
    const hooked_call hooked(m_log->hook, "peer.GetExternalIp");
    if (m_log->active()) m_log->add("peer.GetExternalIp");
    if (!address) return E_POINTER;
    if (!writes_external_ip) return E_FAIL;
    *address = external_ip;
    return S_OK;
}

HRESULT peer_network_service::GetPeerId(IStringSetter* receiver) {
    const hooked_call hooked(m_log->hook, "peer.GetPeerId");
    if (m_log->active()) m_log->add("peer.GetPeerId");
    if (!receiver) return E_POINTER;
    if (writes_peer_id) {
        const module_callback in_module(m_log->hook);
        receiver->SetString(static_cast<std::uint32_t>(peer_id.size()), peer_id.data());
    }
    if (peer_id_fails) return E_FAIL;
    return S_OK;
}

HRESULT peer_network_service::GetTransferCounters(std::uint64_t* c0, std::uint64_t* c1, std::uint64_t* c2,
                                                  std::uint64_t* c3) {
    const hooked_call hooked(m_log->hook, "peer.GetTransferCounters");
    if (m_log->active()) m_log->add("peer.GetTransferCounters");
    if (counters_fail) return E_FAIL;
    std::uint64_t* out[4] = {c0, c1, c2, c3};
    for (int i = 0; i < 4; ++i) {
        if (out[i]) *out[i] = counters[i];
    }
    return S_OK;
}

HRESULT ping_service::StartPing(const std::uint32_t* addresses, std::uint32_t count) {
    const hooked_call hooked(m_log->hook, "ping.StartPing");
    if (m_log->active()) {
        std::string entry = "ping.StartPing";
        for (std::uint32_t i = 0; i < count && addresses; ++i) entry += (i ? "," : " ") + dotted(addresses[i]);
        m_log->add(entry);
    }
    if (addresses || count == 0) m_told = std::set<std::uint32_t>(addresses, addresses + count);
    if (fails) return E_FAIL;
    if (count && !addresses) return E_POINTER;
    m_watched.clear();
    for (std::uint32_t i = 0; i < count; ++i) m_watched.insert(addresses[i]);
    return S_OK;
}

HRESULT ping_service::GetPing(std::uint32_t address, std::int32_t remove, std::int32_t* ms) {
    const hooked_call hooked(m_log->hook, "ping.GetPing");
    if (m_log->active()) m_log->add("ping.GetPing " + dotted(address) + (remove ? " remove" : ""));
    if (remove) m_told.erase(address);
    if (fails) return E_FAIL;
    if (remove) m_watched.erase(address);
    const auto found = pings.find(address);
    if (found == pings.end()) return S_FALSE;
    if (ms) *ms = found->second;
    return S_OK;
}

HRESULT ping_service::StopAll() {
    const hooked_call hooked(m_log->hook, "ping.StopAll");
    if (m_log->active()) m_log->add("ping.StopAll");
    m_told.clear();
    if (fails) return E_FAIL;
    m_watched.clear();
    return S_OK;
}

HRESULT speed_limit_service::GetDownloadLimit(std::uint32_t* value) {
    const hooked_call hooked(m_log->hook, "speed_limit.GetDownloadLimit");
    if (m_log->active()) m_log->add("speed_limit.GetDownloadLimit");
    if (!value) return E_POINTER;
    if (!writes_limit) return E_FAIL;
    *value = limit;
    return S_OK;
}

}  // namespace refhost
