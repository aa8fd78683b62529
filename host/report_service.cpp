#include "services.h"

namespace refhost {

void report_service::clear() {
    for (IHostData* data : m_foreign) data->Release();
    m_foreign.clear();
    m_own.clear();
    m_reports.clear();
}

HRESULT report_service::SubmitReport(std::uint32_t name_length, const char* name, IHostData* data) {
    const hooked_call hooked(m_log->hook, "report.SubmitReport");
    report kept;
    kept.name = (name_length && name) ? std::string(name, name_length) : std::string();
    if (m_log->active()) m_log->add("report.SubmitReport " + kept.name);
    if (submit_fails) return E_FAIL;
    kept.null_object = data == nullptr;
    if (data) {
        kept.tree = snapshot_of(data);
        if (data_object* mine = data_object::own(data)) {
            m_own.emplace_back(mine);
        } else {
            data->AddRef();
            m_foreign.push_back(data);
        }
    }
    m_reports.push_back(std::move(kept));
    return S_OK;
}

}  // namespace refhost
