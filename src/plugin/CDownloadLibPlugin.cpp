#include "plugin/CDownloadLibPlugin.h"

#include "config/setting.h"
#include "config/stat_config.h"
#include "config/stat_data.h"
#include <new>
#include <utility>

#include "platform/interlocked.h"
#include "plugin/kept_services.h"
#include "stat/CQuorrin.h"
#include "stat/engine_guard.h"
#include "support/com_ptr.h"
#include "support/host_services.h"
#include "support/module_lock.h"
#include "support/result_macros.h"

namespace quorrin {

CDownloadLibPlugin::CDownloadLibPlugin() { module_lock(); }

namespace {

// The shut-down sequence, under the engine guard. Nothing in it may fail. The closed statistics
// object stays for the caller to let go of.
void shut_down(CQuorrin* stat, bool unregister) noexcept {
    if (IHostServiceProvider* provider = GetHostServiceProvider(); provider && unregister) {
        provider->UnregisterObject(&IID_IQuorrin);
    }
    // Closed while the event service is still kept.
    if (stat) stat->Close();
    release_kept_services();
    stat_config::release();
    stat_data::release();
    setting::release();
}

// A shut-down handed to the end of an engine call lets the caller of that call keep the
// reference it holds for the call: the object then goes with that caller's Release.
void deferred_shut_down(void* context) noexcept {
    auto* stat = static_cast<CQuorrin*>(context);
    shut_down(stat, true);
    if (stat && stat->ref_count() > 1) {
        stat->Release();
    } else {
        delete stat;
    }
}

}  // namespace

CDownloadLibPlugin::~CDownloadLibPlugin() {
    // Let go without Uninitialize: shut down here, or, when the last reference went inside a host
    // call of an engine call, as that call leaves. The statistics object outlives this object
    // until then, and keeps the module locked.
    if (m_initialized) {
        m_initialized = false;
        engine_guard::run_or_defer(&deferred_shut_down, std::exchange(m_pStat, nullptr));
    }
    module_unlock();
}

HRESULT CDownloadLibPlugin::QueryInterface(REFIID iid, void** out) {
    RETURN_HR_IF(E_POINTER, out == nullptr);
    *out = nullptr;
    if (iid == IID_IDownloadLibPlugin || iid == IID_IUnknown) {
        *out = static_cast<IDownloadLibPlugin*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CDownloadLibPlugin::AddRef() { return static_cast<ULONG>(platform::interlocked_increment(&m_dwRef)); }

ULONG CDownloadLibPlugin::Release() {
    const std::int32_t count = platform::interlocked_decrement(&m_dwRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT CDownloadLibPlugin::GetPluginValue(std::int32_t* value) {
    RETURN_HR_IF(E_POINTER, value == nullptr);
    *value = 0;
    return S_OK;
}

HRESULT CDownloadLibPlugin::Initialize(IHostServiceProvider* provider) {
    RETURN_HR_IF(E_POINTER, provider == nullptr);
    // Alive to the end of the call even if the host lets go of it inside one of its services.
    const com_ptr<IDownloadLibPlugin> self(this);
    return guarded_call([&] {
        RETURN_HR_IF(E_UNEXPECTED, GetHostServiceProvider() != nullptr);
        m_initialized = true;
        const HRESULT hr = com_boundary([&] { return start_up(provider); });
        // A start-up that could not finish leaves nothing behind: the host may simply try again.
        if (FAILED(hr)) {
            m_initialized = false;
            CQuorrin* stat = std::exchange(m_pStat, nullptr);
            shut_down(stat, false);
            delete stat;  // nobody else holds it yet
        }
        return hr;
    });
}

HRESULT CDownloadLibPlugin::start_up(IHostServiceProvider* provider) {
    keep_service_provider(provider);

    // Declared in this order so that leaving, on any path, releases the statistics data service
    // before the settings service.
    com_ptr<ISettingsService> settings_service;
    com_ptr<IStatDataService> stat_data_service;
    provider->GetService(&SID_StatDataService, stat_data_service.put_void());
    stat_data::create(stat_data_service.get());

    provider->GetService(&SID_SettingsService, settings_service.put_void());
    setting::create(settings_service.get());

    obtain_kept_services();

    stat_config::instance()->load();

    m_pStat = new (std::nothrow) CQuorrin();
    RETURN_HR_IF(E_OUTOFMEMORY, m_pStat == nullptr);
    m_pStat->Register();

    // The host is handed the pointer without an extra reference of ours.
    provider->RegisterObject(&IID_IQuorrin, static_cast<IQuorrin*>(m_pStat));
    return S_OK;
}

HRESULT CDownloadLibPlugin::Uninitialize() {
    CQuorrin* closed = nullptr;
    HRESULT hr;
    {
        const com_ptr<IDownloadLibPlugin> self(this);
        hr = guarded_call([&] {
            // Only the object that was initialised owns the process-wide state.
            if (!m_initialized) return S_OK;
            m_initialized = false;
            closed = std::exchange(m_pStat, nullptr);
            shut_down(closed, true);
            return S_OK;
        });
    }
    // Deleted directly, not released: nobody else may hold it now, and its base reports it if
    // somebody does. That report comes after the call has left the engine, so that a host that
    // handles it finds the module shut down and free to start again.
    delete closed;
    return hr;
}

}  // namespace quorrin
