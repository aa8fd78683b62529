#include <gtest/gtest.h>

#include "session_fixture.h"
#include "slot_call.h"
#include "unreadable.h"

namespace {

using strings = std::vector<std::string>;
using counts = std::map<std::uint32_t, std::uint32_t>;

class StatisticsObject : public SessionTest {};

TEST_F(StatisticsObject, QueryInterfaceAnswersEachPart) {
    void* as_quorrin = nullptr;
    void* as_timer = nullptr;
    void* as_messages = nullptr;
    void* as_unknown = nullptr;
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IQuorrin, &as_quorrin));
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynTimerEvents, &as_timer));
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IAsynMessageEvents, &as_messages));
    ASSERT_EQ(S_OK, q->QueryInterface(IID_IUnknown, &as_unknown));
    EXPECT_EQ(static_cast<IQuorrin*>(stat), as_quorrin);
    EXPECT_EQ(static_cast<IAsynTimerEvents*>(stat), as_timer);
    EXPECT_EQ(as_messages, as_unknown);
    EXPECT_NE(as_quorrin, as_unknown);
    void* other = &other;
    EXPECT_EQ(E_NOINTERFACE, q->QueryInterface(IID_IStringSetter, &other));
    EXPECT_EQ(nullptr, other);
    for (int i = 0; i < 4; ++i) q->Release();
}

TEST_F(StatisticsObject, SlotsReachTheirMethods) {
    std::int32_t interval = 0;
    cdn_list addresses{"1.2.3.4"};
    const std::string cid(20, 'C'), gcid(20, 'G');
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::int32_t, std::int32_t, std::int32_t, std::uint32_t, const std::uint8_t*, std::uint64_t,
                               std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint64_t, const cdn_ip_array*,
                               std::int32_t*, IHostData*>(
                        q, 3, 7, 1, 1, 20u, reinterpret_cast<const std::uint8_t*>(cid.data()), std::uint64_t{5}, 20u,
                        reinterpret_cast<const std::uint8_t*>(gcid.data()), 0u, std::uint64_t{0}, addresses.get(), &interval,
                        nullptr)));
    EXPECT_EQ(3000, interval);
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::int32_t, std::uint64_t>(q, 4, 7, std::uint64_t{10})));
    EXPECT_EQ(E_FAIL, (call_slot<HRESULT, std::int32_t, std::uint64_t>(q, 4, 8, std::uint64_t{10})));
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::uint32_t, const char*, std::uint32_t>(q, 6, 1u, "u", 1u)));
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::int32_t, std::uint32_t, const std::uint8_t*, std::uint64_t, IHostData*, std::int32_t>(
                        q, 5, 7, 20u, reinterpret_cast<const std::uint8_t*>(cid.data()), std::uint64_t{10}, nullptr, 0)));
    EXPECT_TRUE(stat->tasks().empty());

    IAsynTimerEvents* timer = stat;
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::uint32_t>(timer, 3, 0u)));
    IAsynMessageEvents* messages = stat;
    EXPECT_EQ(E_FAIL, (call_slot<HRESULT, std::uint32_t, std::uintptr_t, std::uint32_t>(messages, 3, 2u, std::uintptr_t{0}, 0u)));
    EXPECT_EQ(S_OK, (call_slot<HRESULT, std::uint32_t, std::uint32_t, std::uint32_t>(messages, 4, 1u, 2u, 3u)));
    const ULONG raised = call_slot<ULONG>(messages, 1);
    EXPECT_EQ(raised - 1, call_slot<ULONG>(timer, 2));
}

TEST_F(StatisticsObject, RegisterTaskRules) {
    std::int32_t interval = 0;
    EXPECT_EQ(S_OK, register_task(1, {}, &interval));
    EXPECT_EQ(3000, interval);

    interval = 0;
    task_spec other;
    other.filesize = 99;
    EXPECT_EQ(E_FAIL, register_task(1, other, &interval));
    EXPECT_EQ(3000, interval);
    EXPECT_EQ(1000000u, record(1)->filesize);

    task_spec no_addresses;
    no_addresses.addresses = {};
    EXPECT_EQ(E_FAIL, register_task(2, no_addresses));
    EXPECT_EQ(nullptr, record(2));
    no_addresses.click_type = 2;
    EXPECT_EQ(S_OK, register_task(2, no_addresses));
    EXPECT_TRUE(record(2)->cdn_ip_list.empty());

    cdn_list empty;
    std::int32_t out = 0;
    EXPECT_EQ(E_FAIL, q->RegisterTask(3, 1, 1, 0, nullptr, 0, 0, nullptr, 0, 0, empty.get(), &out, nullptr));
}

TEST_F(StatisticsObject, NegativeIntervalRejectsEveryTask) {
    host->stat_values().set("Quorrin", "sample_interval", static_cast<std::int32_t>(0x80000000u));
    restart();
    std::int32_t interval = 5;
    EXPECT_EQ(E_FAIL, register_task(1, {}, &interval));
    EXPECT_EQ(5, interval);
    EXPECT_TRUE(stat->tasks().empty());
}

TEST_F(StatisticsObject, RepeatedAddressCountsOnce) {
    task_spec setup;
    setup.addresses = {"10.0.0.1", "10.0.0.1", "bogus", "255.255.255.255"};
    ASSERT_EQ(S_OK, register_task(1, setup));
    EXPECT_EQ((quorrin::cdn_ip_set{ip("10.0.0.1"), 0xFFFFFFFFu}), record(1)->cdn_ip_list);
    EXPECT_EQ((counts{{ip("10.0.0.1"), 1}, {0xFFFFFFFFu, 1}}), stat->cdn_ip_refs());
}

TEST_F(StatisticsObject, PingServiceSeesTheWholeSetOnlyWhenSomethingIsNew) {
    task_spec a, b, c;
    a.addresses = {"10.0.0.2", "10.0.0.1"};
    b.addresses = {"10.0.0.1"};
    c.addresses = {"10.0.0.3", "10.0.0.2"};
    ASSERT_EQ(S_OK, register_task(1, a));
    ASSERT_EQ(S_OK, register_task(2, b));
    ASSERT_EQ(S_OK, register_task(3, c));
    EXPECT_EQ((strings{"ping.StartPing 10.0.0.1,10.0.0.2", "ping.StartPing 10.0.0.1,10.0.0.2,10.0.0.3"}),
              host->log.matching("ping.StartPing"));
    EXPECT_EQ((counts{{ip("10.0.0.1"), 2}, {ip("10.0.0.2"), 2}, {ip("10.0.0.3"), 1}}), stat->cdn_ip_refs());

    host->log.clear();
    ASSERT_EQ(S_OK, unregister(2, 10));
    EXPECT_EQ(0u, host->log.count("ping.GetPing 10.0.0.1 remove"));
    ASSERT_EQ(S_OK, unregister(1, 10));
    EXPECT_EQ(1u, host->log.count("ping.GetPing 10.0.0.1 remove"));
    EXPECT_EQ(0u, host->log.count("ping.GetPing 10.0.0.2 remove"));
    EXPECT_EQ((counts{{ip("10.0.0.2"), 1}, {ip("10.0.0.3"), 1}}), stat->cdn_ip_refs());
    EXPECT_EQ(0u, host->log.count("ping.StopAll"));
    ASSERT_EQ(S_OK, unregister(3, 10));
    EXPECT_EQ(1u, host->log.count("ping.StopAll"));
    EXPECT_TRUE(stat->cdn_ip_refs().empty());
    EXPECT_TRUE(host->ping().watched().empty());
}

TEST_F(StatisticsObject, OfflineAddressGoesToTheFirstWaitingTask) {
    task_spec offline;
    offline.click_type = 0;
    offline.addresses = {};
    offline.offline_url = "http://o/f";
    task_spec typed = offline;
    typed.click_type = 1;
    typed.addresses = {"10.0.0.9"};
    ASSERT_EQ(S_OK, register_task(5, offline));
    ASSERT_EQ(S_OK, register_task(3, offline));
    ASSERT_EQ(S_OK, register_task(1, typed));  // its URL is never read: click type 1
    EXPECT_EQ("http://o/f", record(3)->offline_url);
    EXPECT_EQ("", record(1)->offline_url);

    const char url[] = "http://o/f";
    EXPECT_EQ(S_OK, q->AddOfflineCdnIp(10, url, ip("10.0.0.7")));
    EXPECT_EQ((quorrin::cdn_ip_set{ip("10.0.0.7")}), record(3)->cdn_ip_list);
    EXPECT_TRUE(record(5)->cdn_ip_list.empty());
    EXPECT_EQ(S_OK, q->AddOfflineCdnIp(10, url, ip("10.0.0.8")));
    EXPECT_EQ((quorrin::cdn_ip_set{ip("10.0.0.8")}), record(5)->cdn_ip_list);
    EXPECT_EQ(S_OK, q->AddOfflineCdnIp(10, url, ip("10.0.0.6")));
    EXPECT_EQ(S_OK, q->AddOfflineCdnIp(3, "xyz", ip("10.0.0.6")));
    EXPECT_EQ((counts{{ip("10.0.0.7"), 1}, {ip("10.0.0.8"), 1}, {ip("10.0.0.9"), 1}}), stat->cdn_ip_refs());
}

TEST_F(StatisticsObject, UpdateOfAnUnknownTaskFails) {
    EXPECT_EQ(E_FAIL, q->UpdateTask(1, 100));
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(3000);
    EXPECT_EQ(S_OK, q->UpdateTask(1, 3000));
    EXPECT_EQ(3000u, record(1)->last_bytes);
}

// Arguments that cannot be read safely: each gets E_POINTER, and nothing changes. The steps that
// refuse a request come first and read none of them: the interval out is written, and a refused
// request gets E_FAIL whatever its cid, gcid or entries.
TEST_F(StatisticsObject, UnreadableArgumentsChangeNothing) {
    const std::string cid(20, 'C');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(cid.data());
    std::int32_t interval = 5;
    cdn_ip_array dangling{2, nullptr};
    const std::size_t calls = host->log.entries().size();

    EXPECT_EQ(E_POINTER, q->RegisterTask(1, 1, 0, 20, bytes, 0, 20, bytes, 0, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, q->RegisterTask(1, 1, 1, 20, bytes, 0, 20, bytes, 0, 0, &dangling, &interval, nullptr));
    EXPECT_EQ(3000, interval);
    interval = 5;
    EXPECT_EQ(E_POINTER, q->RegisterTask(1, 1, 0, 20, nullptr, 0, 20, bytes, 0, 0, nullptr, &interval, nullptr));
    EXPECT_EQ(E_POINTER, q->RegisterTask(1, 1, 0, 20, bytes, 0, 1, nullptr, 0, 0, nullptr, &interval, nullptr));
    EXPECT_EQ(3000, interval);
    interval = 5;
    EXPECT_EQ(E_FAIL, q->RegisterTask(1, 1, 1, 20, nullptr, 0, 1, nullptr, 0, 0, nullptr, &interval, nullptr));
    EXPECT_EQ(3000, interval);
    EXPECT_TRUE(stat->tasks().empty());
    EXPECT_EQ(calls, host->log.entries().size());

    ASSERT_EQ(S_OK, register_task(1));
    const std::size_t after_register = host->log.entries().size();
    refhost::host_ref<refhost::data_object> data = host->make_data("cdn");
    EXPECT_EQ(E_POINTER, q->UnregisterTask(1, 20, nullptr, 0, data.get(), 0));
    EXPECT_EQ(0, data->foreign_refs());
    EXPECT_EQ(E_POINTER, q->AddOfflineCdnIp(4, nullptr, 1));
    EXPECT_EQ(E_FAIL, q->RegisterTask(1, 1, 0, 20, nullptr, 0, 20, nullptr, 0, 0, &dangling, &interval, nullptr));
    EXPECT_NE(nullptr, record(1));
    EXPECT_EQ(after_register, host->log.entries().size());
    EXPECT_LT(calls, after_register);

    // Zero lengths with null pointers are fine: there is nothing to read.
    EXPECT_EQ(S_OK, q->RegisterTask(2, 1, 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, &interval, nullptr));
    EXPECT_EQ(S_OK, q->AddOfflineCdnIp(0, nullptr, 1));
}

TEST_F(StatisticsObject, EntryLengthIsCappedAtItsTwentyCharacters) {
    // The one entry ends where an unreadable page begins; a length of 1000 must not read on.
    unsigned char* tail = guarded_tail(sizeof(cdn_ip_entry));
    cdn_ip_entry entry{};
    std::memcpy(entry.chars, "10.0.0.5", 8);
    entry.length = 1000;
    std::memcpy(tail, &entry, sizeof entry);
    const cdn_ip_array array{1, reinterpret_cast<const cdn_ip_entry*>(tail)};
    std::int32_t interval = 0;
    EXPECT_EQ(S_OK, q->RegisterTask(1, 1, 1, 0, nullptr, 0, 0, nullptr, 0, 0, &array, &interval, nullptr));
    EXPECT_EQ((quorrin::cdn_ip_set{ip("10.0.0.5")}), record(1)->cdn_ip_list);

    // Twenty characters without a terminator are read whole, and no further.
    cdn_list full;
    full.add("1.2.3.4            x", 20);
    EXPECT_EQ(S_OK, q->RegisterTask(2, 1, 1, 0, nullptr, 0, 0, nullptr, 0, 0, full.get(), &interval, nullptr));
    EXPECT_EQ(1u, record(2)->cdn_ip_list.size());
}

TEST_F(StatisticsObject, EntriesAreReadAtTheirPackedOffsets) {
    cdn_list addresses;
    addresses.add("10.0.0.1");
    addresses.add("10.0.0.2");
    addresses.add("10.0.0.3");
    std::int32_t interval = 0;
    const cdn_ip_array* array = addresses.get();
    ASSERT_EQ(26, reinterpret_cast<const char*>(&array->entries[1]) - reinterpret_cast<const char*>(&array->entries[0]));
    EXPECT_EQ(S_OK, q->RegisterTask(1, 1, 1, 0, nullptr, 0, 0, nullptr, 0, 0, array, &interval, nullptr));
    EXPECT_EQ((quorrin::cdn_ip_set{ip("10.0.0.1"), ip("10.0.0.2"), ip("10.0.0.3")}), record(1)->cdn_ip_list);
}

class StatisticsObjectWithoutPing : public SessionTest {
protected:
    StatisticsObjectWithoutPing() : SessionTest(refhost::host_options{true, true, true, true, true, true, false, true}) {}
};

TEST_F(StatisticsObjectWithoutPing, AddressesAreKeptButNotCounted) {
    ASSERT_EQ(S_OK, register_task(1));
    EXPECT_EQ(1u, record(1)->cdn_ip_list.size());
    EXPECT_TRUE(stat->cdn_ip_refs().empty());
    EXPECT_EQ(S_OK, unregister(1, 10));
}

}  // namespace
