// Tests of the whole engine: the plug-in object initialised with the reference host, whose event
// service is in manual mode (the test delivers posted messages and fires the timer itself), on
// the manual clock.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "manual_clock.h"
#include "plugin/CDownloadLibPlugin.h"
#include "stat/CQuorrin.h"
#include "support/com_ptr.h"

// A host-side cdn_ip_array with its entries.
class cdn_list {
public:
    cdn_list(std::initializer_list<std::string> addresses = {}) {
        for (const std::string& a : addresses) add(a);
    }
    void add(const std::string& text, std::uint32_t length_field) {
        cdn_ip_entry entry{};
        std::memcpy(entry.chars, text.data(), std::min<std::size_t>(text.size(), sizeof entry.chars));
        entry.length = length_field;
        m_entries.push_back(entry);
    }
    void add(const std::string& text) { add(text, static_cast<std::uint32_t>(text.size())); }
    const cdn_ip_array* get() {
        m_array.count = static_cast<std::uint32_t>(m_entries.size());
        m_array.entries = m_entries.data();
        return &m_array;
    }

private:
    std::vector<cdn_ip_entry> m_entries;
    cdn_ip_array m_array{};
};

struct task_spec {
    std::int32_t task_type = 1;
    std::int32_t click_type = 1;
    std::string cid = std::string(20, 'C');
    std::uint64_t filesize = 1000000;
    std::string gcid = std::string(20, 'G');
    std::uint32_t time_before_ms = 0;
    std::uint64_t bytes_before = 0;
    std::vector<std::string> addresses = {"10.0.0.1"};
    std::string offline_url;  // given to the task's data object when not empty
};

inline std::uint32_t ip(const char* text) {
    unsigned a, b, c, d;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return a | (b << 8) | (c << 16) | (d << 24);
}

inline std::string ascending_bytes(unsigned first, std::size_t count = 20) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>(first + i);
    return bytes;
}

class SessionTest : public HostTest {
protected:
    explicit SessionTest(const refhost::host_options& options = {}) : HostTest(options) {}

    void SetUp() override {
        manual_clock::set_tick(1000000);
        manual_clock::set_wall(1700000000);
        start();
    }
    void TearDown() override {
        stop();
        HostTest::TearDown();
    }

    void start() {
        auto* object = new quorrin::CDownloadLibPlugin();
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
        ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
        stat = object->statistics();
        q = static_cast<IQuorrin*>(host->services().registered(IID_IQuorrin));
        ASSERT_NE(nullptr, q);
        host->events().deliver_posted();
    }
    void stop() {
        if (!plugin) return;
        EXPECT_EQ(S_OK, plugin->Uninitialize());
        plugin.reset();
        q = nullptr;
        stat = nullptr;
    }
    // After changing the host's configuration: start the plug-in again.
    void restart() {
        stop();
        start();
    }

    HRESULT register_task(std::int32_t id, const task_spec& setup = {}, std::int32_t* interval = nullptr) {
        cdn_list addresses;
        for (const std::string& a : setup.addresses) addresses.add(a);
        refhost::host_ref<refhost::data_object> data = host->make_data("task");
        if (!setup.offline_url.empty()) data->put_string("offline_url", setup.offline_url);
        std::int32_t scratch = -7;
        return q->RegisterTask(id, setup.task_type, setup.click_type, static_cast<std::uint32_t>(setup.cid.size()),
                                     reinterpret_cast<const std::uint8_t*>(setup.cid.data()), setup.filesize,
                                     static_cast<std::uint32_t>(setup.gcid.size()),
                                     reinterpret_cast<const std::uint8_t*>(setup.gcid.data()), setup.time_before_ms,
                                     setup.bytes_before, setup.addresses.empty() ? nullptr : addresses.get(),
                                     interval ? interval : &scratch, data.get());
    }
    HRESULT unregister(std::int32_t id, std::uint64_t downloaded, const std::string& cid = std::string(20, 'C'),
                       IHostData* report_data = nullptr, std::int32_t reason = 0) {
        return q->UnregisterTask(id, static_cast<std::uint32_t>(cid.size()),
                                       reinterpret_cast<const std::uint8_t*>(cid.data()), downloaded, report_data, reason);
    }
    const quorrin::task_record* record(std::int32_t id) const {
        const auto found = stat->tasks().find(id);
        return found == stat->tasks().end() ? nullptr : found->second;
    }
    // Moves the clock on and fires the sweep timer once.
    void tick(std::uint32_t ms = 15000) {
        manual_clock::advance(ms);
        host->events().fire_timers();
    }
    const std::vector<refhost::report_service::report>& reports() { return host->reports().reports(); }

    quorrin::com_ptr<IDownloadLibPlugin> plugin;
    quorrin::CQuorrin* stat = nullptr;
    IQuorrin* q = nullptr;
};
