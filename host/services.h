// The reference host's services. Each one logs its calls to the host's call_log, answers from
// values that a test or scenario sets, and can be told to behave as a difficult host does.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "call_log.h"
#include "com_object.h"
#include "data_node.h"
#include "data_object.h"
#include "quorrin/host_services.h"
#include "value_table.h"

namespace refhost {
// The contract gives the provider no interface id; this one is the reference host's own.
extern const GUID IID_ReferenceServiceProvider;
}  // namespace refhost
QUORRIN_DECLARE_IID(IHostServiceProvider, refhost::IID_ReferenceServiceProvider)

namespace refhost {

// "a.b.c.d" of an address in inet_addr form (network byte order in memory).
std::string dotted(std::uint32_t address);
std::string guid_text(const GUID& id);

class stat_data_service final : public com_object<IStatDataService> {
public:
    explicit stat_data_service(call_log* log) : com_object("stat data service", log) {}
    value_table values;

    HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                     const char* key, std::int32_t* value) override;
};

class settings_service final : public com_object<ISettingsService> {
public:
    explicit settings_service(call_log* log) : com_object("settings service", log) {}
    value_table ints;
    value_table bools;

    HRESULT STDMETHODCALLTYPE GetInt(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                     const char* key, std::int32_t* value) override;
    HRESULT STDMETHODCALLTYPE GetBool(std::uint32_t section_length, const char* section, std::uint32_t key_length,
                                      const char* key, std::int32_t* value) override;
};

// The transfer statistics service, which also answers ITransferTotals.
class transfer_stat_service final : public com_object<ITransferStatService, ITransferTotals> {
public:
    enum class totals_mode { fill, replace, refuse };

    transfer_stat_service(call_log* log, data_factory* data) : com_object("transfer statistics service", log), m_data(data) {}

    std::uint32_t download_speed = 0;
    std::uint32_t upload_speed = 0;
    bool writes_pair = false;  // GetDownloadSpeed writes (download, upload)
    std::uint64_t total_download_bytes = 0;
    bool has_total = true;  // the object gets no "total_download_bytes" when false
    totals_mode totals = totals_mode::fill;
    bool speed_fails = false;   // GetDownloadSpeed fails without writing
    bool totals_fail = false;   // FillTotals fails without touching the object

    HRESULT STDMETHODCALLTYPE GetDownloadSpeed(std::uint32_t* speed) override;
    HRESULT STDMETHODCALLTYPE FillTotals(IHostData** data) override;

protected:
    bool refuses(REFIID iid) const override { return totals == totals_mode::refuse && iid == IID_ITransferTotals; }

private:
    data_factory* m_data;
};

class peer_network_service final : public com_object<IPeerNetworkService> {
public:
    explicit peer_network_service(call_log* log) : com_object("peer network service", log) {}

    std::uint32_t external_ip = 0;
    bool writes_external_ip = true;
    std::string peer_id = "PEER0000000000000001";
    bool writes_peer_id = true;
    std::uint64_t counters[4] = {0, 0, 0, 0};
    bool refuse_interface = false;  // the second QueryInterface fails
    bool counters_fail = false;  // GetTransferCounters fails without writing
    bool peer_id_fails = false;  // GetPeerId fails (after its SetString, if it writes)

    HRESULT STDMETHODCALLTYPE GetExternalIp(std::uint32_t* address) override;
    HRESULT STDMETHODCALLTYPE GetPeerId(IStringSetter* receiver) override;
    HRESULT STDMETHODCALLTYPE GetTransferCounters(std::uint64_t* c0, std::uint64_t* c1, std::uint64_t* c2,
                                                  std::uint64_t* c3) override;

protected:
    bool refuses(REFIID iid) const override { return refuse_interface && iid == IID_IPeerNetworkService; }
};

class ping_service final : public com_object<IPingService> {
public:
    explicit ping_service(call_log* log) : com_object("ping service", log) {}

    std::map<std::uint32_t, std::int32_t> pings;  // an address not here gets no answer (-1 stays)
    bool refuse_interface = false;
    bool fails = false;  // every call fails

    // The addresses being watched: the last StartPing set, less those removed since.
    const std::set<std::uint32_t>& watched() const { return m_watched; }
    // What the module last asked to watch, kept also while the calls fail.
    const std::set<std::uint32_t>& told() const { return m_told; }

    HRESULT STDMETHODCALLTYPE StartPing(const std::uint32_t* addresses, std::uint32_t count) override;
    HRESULT STDMETHODCALLTYPE GetPing(std::uint32_t address, std::int32_t remove, std::int32_t* ms) override;
    HRESULT STDMETHODCALLTYPE StopAll() override;

protected:
    bool refuses(REFIID iid) const override { return refuse_interface && iid == IID_IPingService; }

private:
    std::set<std::uint32_t> m_watched;
    std::set<std::uint32_t> m_told;
};

class speed_limit_service final : public com_object<ISpeedLimitService> {
public:
    explicit speed_limit_service(call_log* log) : com_object("speed limit service", log) {}

    std::uint32_t limit = 0;
    bool writes_limit = true;

    HRESULT STDMETHODCALLTYPE GetDownloadLimit(std::uint32_t* value) override;
};

class report_service final : public com_object<IStatReportService> {
public:
    struct report {
        std::string name;
        data_node tree;  // as it stood when submitted
        bool null_object = false;
    };

    explicit report_service(call_log* log) : com_object("report service", log) {}

    bool submit_fails = false;  // SubmitReport fails and keeps nothing

    const std::vector<report>& reports() const { return m_reports; }
    void clear();
    ~report_service() override { clear(); }

    HRESULT STDMETHODCALLTYPE SubmitReport(std::uint32_t name_length, const char* name, IHostData* data) override;

private:
    std::vector<report> m_reports;
    std::vector<IHostData*> m_foreign;        // kept by AddRef
    std::vector<host_ref<data_object>> m_own;  // kept by the host's own reference
};

// Posted messages wait in a queue until the host's loop delivers them; SendAsynMessage delivers
// at once. Timers fire when the loop (or a test) says so. Advised sinks and timer sinks are held
// by a reference; queued messages hold none, and UnadviseMessages drops the sink's queue.
class asyn_event_service final : public com_object<IAsynEventService> {
public:
    struct timer {
        IAsynTimerEvents* sink;
        std::uint32_t id;
        std::uint32_t period_ms;
        std::int32_t repeat;
    };
    struct message {
        IAsynMessageEvents* sink;
        std::uint32_t id;
        std::uintptr_t param;
        std::uint32_t extra;
    };

    explicit asyn_event_service(call_log* log) : com_object("asynchronous event service", log) {}
    ~asyn_event_service() override;

    bool send_fails = false;  // SendAsynMessage fails without delivering
    bool start_timer_fails = false;  // StartTimer fails and starts nothing
    bool advise_fails = false;       // AdviseMessages fails and holds nothing
    bool post_fails = false;         // PostAsynMessage fails and queues nothing
    // How SendAsynMessage (unless send_fails) treats its message: delivers it once; returns S_OK
    // without delivering it; or delivers it twice and returns the first result.
    enum class send_mode { deliver, drop, twice };
    send_mode sending = send_mode::deliver;

    // Delivers every queued message, oldest first (also those posted meanwhile). Returns the count.
    std::size_t deliver_posted();
    // The host's own delivery of one message, as its loop and SendAsynMessage deliver them.
    HRESULT deliver(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param, std::uint32_t extra);
    // One tick of every running timer.
    void fire_timers();
    const std::vector<timer>& timers() const { return m_timers; }
    std::size_t queued() const { return m_queue.size(); }
    std::size_t advised() const { return m_sinks.size(); }
    // Whether the service holds a reference to the sink: advised, or timing.
    bool holds(const IAsynMessageEvents* sink) const;
    bool holds(const IAsynTimerEvents* sink) const;
    // Results that OnMessage returned to deliver_posted, in order.
    const std::vector<HRESULT>& posted_results() const { return m_posted_results; }
    // The last message given to SendAsynMessage (delivered or not), and what its second
    // delivery returned in send_mode::twice.
    const message& last_sent() const { return m_last_sent; }
    HRESULT second_result() const { return m_second_result; }

    HRESULT STDMETHODCALLTYPE StartTimer(IAsynTimerEvents* sink, std::uint32_t timer_id, std::uint32_t period_ms,
                                         std::int32_t repeat) override;
    HRESULT STDMETHODCALLTYPE StopTimers(IAsynTimerEvents* sink) override;
    HRESULT STDMETHODCALLTYPE AdviseMessages(IAsynMessageEvents* sink) override;
    HRESULT STDMETHODCALLTYPE UnadviseMessages(IAsynMessageEvents* sink) override;
    HRESULT STDMETHODCALLTYPE PostAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override;
    HRESULT STDMETHODCALLTYPE SendAsynMessage(IAsynMessageEvents* sink, std::uint32_t id, std::uintptr_t param,
                                              std::uint32_t extra) override;

private:
    std::vector<timer> m_timers;
    std::vector<IAsynMessageEvents*> m_sinks;
    std::deque<message> m_queue;
    std::vector<HRESULT> m_posted_results;
    message m_last_sent{};
    HRESULT m_second_result = S_OK;
};

class service_provider final : public com_object<IHostServiceProvider> {
public:
    service_provider(call_log* log, data_factory* data) : com_object("service provider", log), m_data(data) {}
    ~service_provider() override;

    // Services by id; an id without an entry is not given (GetService fails, *out stays null).
    void add_service(const GUID& id, IUnknown* service, const std::string& name);
    void remove_service(const GUID& id);

    // When set, UnregisterObject forgets the object but keeps its reference (a host that holds on).
    bool keeps_unregistered = false;
    // GetService for these ids fails with E_FAIL; with failure_hands_out it stores the service
    // (and a reference) all the same.
    std::vector<GUID> failing_services;
    bool failure_hands_out = false;
    IUnknown* registered(const GUID& id) const;
    std::size_t registered_count() const { return m_registered.size(); }
    // Releases references that keeps_unregistered left behind.
    void release_kept();

    HRESULT STDMETHODCALLTYPE RegisterObject(const GUID* id, IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE UnregisterObject(const GUID* id) override;
    HRESULT STDMETHODCALLTYPE GetService(const GUID* service_id, void** out) override;
    HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* class_id, const IID* iid, void** out) override;

private:
    struct guid_less {
        bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
    };
    struct service_entry {
        IUnknown* service;
        std::string name;
    };
    std::string name_of(const GUID& id) const;

    data_factory* m_data;
    std::map<GUID, service_entry, guid_less> m_services;
    std::map<GUID, IUnknown*, guid_less> m_registered;
    std::vector<IUnknown*> m_kept;
};

}  // namespace refhost
