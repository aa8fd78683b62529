// The module's one COM class: the host creates it, calls Initialize with its service provider,
// uses IQuorrin, then calls Uninitialize before the last Release.
#pragma once

#include <cstdint>

#include "quorrin/host_services.h"
#include "quorrin/plugin_interfaces.h"

namespace quorrin {

class CQuorrin;

class CDownloadLibPlugin final : public IDownloadLibPlugin {
public:
    // Holds a module lock for its whole life; the count starts at 0 and the creator's
    // QueryInterface takes the first reference.
    CDownloadLibPlugin();
    // A host that lets the object go without Uninitialize gets the shut-down done here.
    ~CDownloadLibPlugin();
    CDownloadLibPlugin(const CDownloadLibPlugin&) = delete;
    CDownloadLibPlugin& operator=(const CDownloadLibPlugin&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPluginValue(std::int32_t* value) override;
    // E_POINTER for a null provider and E_UNEXPECTED while a provider is kept (a second
    // Initialize); both change nothing. E_OUTOFMEMORY when the statistics object cannot be made.
    // Initialize and Uninitialize are engine calls: RPC_E_CALL_REJECTED while another is in
    // progress, nothing changed.
    HRESULT STDMETHODCALLTYPE Initialize(IHostServiceProvider* provider) override;
    HRESULT STDMETHODCALLTYPE Uninitialize() override;
    HRESULT STDMETHODCALLTYPE QueryStatus() override { return S_FALSE; }

    // The statistics object while initialised (for tests and the reference host's checks).
    CQuorrin* statistics() const { return m_pStat; }

private:
    HRESULT start_up(IHostServiceProvider* provider);

    volatile std::int32_t m_dwRef = 0;
    CQuorrin* m_pStat = nullptr;
    bool m_initialized = false;  // this object holds the process-wide services
};

}  // namespace quorrin
