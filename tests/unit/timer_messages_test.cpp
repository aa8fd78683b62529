#include <gtest/gtest.h>

#include "session_fixture.h"

namespace {

using strings = std::vector<std::string>;

class TimerAndMessages : public SessionTest {};

TEST_F(TimerAndMessages, MessageZeroStartsTheSweepTimer) {
    ASSERT_EQ(1u, host->events().timers().size());
    const auto& timer = host->events().timers()[0];
    EXPECT_EQ(static_cast<IAsynTimerEvents*>(stat), timer.sink);
    EXPECT_EQ(0u, timer.id);
    EXPECT_EQ(15000u, timer.period_ms);
    EXPECT_EQ(1, timer.repeat);
    EXPECT_EQ((std::vector<HRESULT>{S_OK}), host->events().posted_results());
}

// The host cannot drop a message for a sink that it never held, so a message posted to it could
// reach the object after its end.
TEST_F(TimerAndMessages, NothingIsPostedToASinkTheHostRefused) {
    stop();
    host->events().advise_fails = true;
    auto* object = new quorrin::CDownloadLibPlugin();
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IDownloadLibPlugin, plugin.put_void()));
    ASSERT_EQ(S_OK, plugin->Initialize(host->provider()));
    ASSERT_EQ(0u, host->events().queued());
    ASSERT_EQ(S_OK, plugin->Uninitialize());
    EXPECT_EQ(0u, host->events().deliver_posted());
    EXPECT_TRUE(host->events().timers().empty());
}

TEST_F(TimerAndMessages, OtherMessagesAreRejected) {
    IAsynMessageEvents* sink = stat;
    EXPECT_EQ(E_FAIL, sink->OnMessage(2, 0, 0));
    EXPECT_EQ(E_FAIL, sink->OnMessage(0xFFFFFFFFu, 0, 0));
    EXPECT_EQ(S_OK, sink->OnMessageEvent(0, 0, 0));
    EXPECT_EQ(S_OK, sink->OnMessageEvent(0xFFFFFFFFu, 1, 2));
}

TEST_F(TimerAndMessages, FinishGoesThroughSendAsynMessage) {
    ASSERT_EQ(S_OK, register_task(1));
    host->log.clear();
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_EQ("events.SendAsynMessage 1", host->log.entries().front());
    EXPECT_EQ(nullptr, record(1));
}

TEST_F(TimerAndMessages, UnknownTaskFailsAndReleasesTheReportData) {
    refhost::host_ref<refhost::data_object> data = host->make_data("cdn");
    EXPECT_EQ(E_FAIL, unregister(9, 100, std::string(20, 'C'), data.get()));
    EXPECT_EQ(0, data->foreign_refs());
}

TEST_F(TimerAndMessages, SecondUnregisterFails) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, unregister(1, 100));
    EXPECT_EQ(E_FAIL, unregister(1, 100));
    EXPECT_EQ(1u, reports().size());
}

TEST_F(TimerAndMessages, WrongCidLeavesTheRecordForTheSweep) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(E_FAIL, unregister(1, 100, std::string(20, 'X')));
    EXPECT_EQ(E_FAIL, unregister(1, 100, std::string(19, 'C')));
    ASSERT_NE(nullptr, record(1));
    tick(15000);  // 35 s since the click: overdue
    EXPECT_EQ(nullptr, record(1));
    EXPECT_TRUE(reports().empty());
}

TEST_F(TimerAndMessages, NullReportDataStillFinishes) {
    ASSERT_EQ(S_OK, register_task(1));
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, unregister(1, 100, std::string(20, 'C'), nullptr));
    ASSERT_EQ(1u, reports().size());
    EXPECT_EQ(refhost::data_value(refhost::null_child{}), *reports()[0].tree.find("cdn_down_bytes_stat"));
}

TEST_F(TimerAndMessages, FailedSendChangesNothing) {
    ASSERT_EQ(S_OK, register_task(1));
    refhost::host_ref<refhost::data_object> data = host->make_data("cdn");
    host->events().send_fails = true;
    EXPECT_EQ(E_FAIL, unregister(1, 100, std::string(20, 'C'), data.get()));
    EXPECT_NE(nullptr, record(1));
    EXPECT_EQ(0, data->foreign_refs());
}

TEST_F(TimerAndMessages, SweepDropsOnlyOverdueRecords) {
    for (std::int32_t id : {1, 2, 3}) {
        task_spec setup;
        setup.addresses = {"10.0.0." + std::to_string(id)};
        ASSERT_EQ(S_OK, register_task(id, setup));
    }
    manual_clock::advance(20000);
    EXPECT_EQ(S_OK, q->UpdateTask(1, 10));
    EXPECT_EQ(S_OK, q->UpdateTask(3, 10));
    manual_clock::advance(10001);  // task 2: 30001 ms without a sample; 1 and 3: 10001 ms
    host->log.clear();
    host->events().fire_timers();
    EXPECT_NE(nullptr, record(1));
    EXPECT_EQ(nullptr, record(2));
    EXPECT_NE(nullptr, record(3));
    EXPECT_EQ((strings{"ping.GetPing 10.0.0.2 remove"}), host->log.matching("ping."));
    EXPECT_EQ(2u, stat->cdn_ip_refs().size());
    EXPECT_TRUE(reports().empty());
}

TEST_F(TimerAndMessages, OverdueBoundaryIsExact) {
    ASSERT_EQ(S_OK, register_task(1));
    tick(30000);
    EXPECT_NE(nullptr, record(1));
    tick(1);
    EXPECT_EQ(nullptr, record(1));
}

TEST_F(TimerAndMessages, EveryTickOfAnEmptyTableStopsAllPings) {
    host->log.clear();
    tick();
    tick();
    EXPECT_EQ((strings{"ping.StopAll", "ping.StopAll"}), host->log.matching("ping."));
}

TEST_F(TimerAndMessages, LastFinishEmptiesTheCounts) {
    ASSERT_EQ(S_OK, register_task(1));
    ASSERT_EQ(S_OK, register_task(2));
    EXPECT_EQ(S_OK, unregister(1, 1));
    EXPECT_EQ(1u, stat->cdn_ip_refs().size());
    host->log.clear();
    EXPECT_EQ(S_OK, unregister(2, 1));
    EXPECT_TRUE(stat->cdn_ip_refs().empty());
    EXPECT_EQ((strings{"ping.GetPing 10.0.0.1 remove"}), host->log.matching("ping.GetPing 10.0.0.1 remove"));
    EXPECT_EQ("ping.StopAll", host->log.matching("ping.").back());
}

}  // namespace
