#include <gtest/gtest.h>

#include "platform/module_info.h"
#include "report/vq_data.h"
#include "services_fixture.h"
#include "tessaron.h"
#include "unreadable.h"

namespace {

using quorrin::vq_data;
using refhost::data_behaviour;
using refhost::node;

class DataWrapper : public ServicesTest {
protected:
    std::size_t host_calls() const { return host->log.entries().size(); }
};

TEST_F(DataWrapper, EmptyWrapperMakesNoCallsAndYieldsDefaults) {
    host->data.behaviour.create_fails = true;
    vq_data wrapper;
    EXPECT_EQ(nullptr, wrapper.get());
    const std::size_t calls = host_calls();
    EXPECT_EQ(7, wrapper.get_int64("k", 7));
    EXPECT_EQ("fallback", wrapper.get_string("k", "fallback"));
    wrapper.set_name("n");
    wrapper.set_int64("k", 1);
    wrapper.set_string("k", "v");
    vq_data child(nullptr);
    wrapper.set_data("k", child);
    EXPECT_EQ(calls, host_calls());
}

TEST_F(DataWrapper, OneHostCallPerOperation) {
    vq_data wrapper;
    const std::size_t calls = host_calls();
    wrapper.set_name("report");
    wrapper.set_int64("", -2);
    wrapper.set_string("s", "");
    EXPECT_EQ(-2, wrapper.get_int64("", 0));
    EXPECT_EQ("", wrapper.get_string("s", "fallback"));
    EXPECT_EQ(calls + 5, host_calls());
    EXPECT_EQ(*node("report", {{"", -2}, {"s", ""}}), refhost::snapshot_of(wrapper.get()));
}

TEST_F(DataWrapper, GetInt64KeepsTheDefaultWhenNothingIsWritten) {
    vq_data wrapper;
    wrapper.set_int64("k", 5);
    host->data.behaviour.get_int64_silent = true;
    EXPECT_EQ(9, wrapper.get_int64("k", 9));
    host->data.behaviour.get_int64_silent = false;
    host->data.behaviour.gets_fail = true;
    EXPECT_EQ(9, wrapper.get_int64("k", 9));
}

TEST_F(DataWrapper, GetStringFollowsWhatTheHostDid) {
    vq_data wrapper;
    wrapper.set_string("url", "http://a/b");
    wrapper.set_string("empty", "");
    using mode = data_behaviour::get_string_mode;
    host->data.behaviour.get_string = mode::never;
    EXPECT_EQ("d", wrapper.get_string("url", "d"));
    host->data.behaviour.get_string = mode::once;
    EXPECT_EQ("", wrapper.get_string("empty", "d"));
    EXPECT_EQ("http://a/b", wrapper.get_string("url", "d"));
    host->data.behaviour.get_string = mode::twice;
    EXPECT_EQ("http://a/b", wrapper.get_string("url", "d"));
    host->data.behaviour.get_string = mode::once_then_fail;
    EXPECT_EQ("d", wrapper.get_string("url", "d"));
    EXPECT_EQ("d", wrapper.get_string("missing", "d"));
}

TEST_F(DataWrapper, FailingPutsAreIgnored) {
    vq_data wrapper;
    host->data.behaviour.puts_fail = true;
    wrapper.set_int64("a", 1);
    host->data.behaviour.puts_fail = false;
    wrapper.set_int64("b", 2);
    EXPECT_EQ(*node("", {{"b", 2}}), refhost::snapshot_of(wrapper.get()));
}

TEST_F(DataWrapper, NullChildIsNestedAsNull) {
    vq_data parent;
    vq_data child(nullptr);
    parent.set_data("child", child);
    EXPECT_EQ(*node("", {{"child", refhost::null_child{}}}), refhost::snapshot_of(parent.get()));
}

TEST_F(DataWrapper, OutPointerReleasesWhatTheHostStored) {
    const std::size_t live = refhost::ledger::instance().live();
    {
        vq_data wrapper;
        IHostData* original = wrapper.get();
        original->AddRef();  // keep it alive to see the wrapper leave it alone
        IHostData** slot = wrapper.out_pointer();
        EXPECT_EQ(original, *slot);
        *slot = host->data.create();
        original->Release();
        original->Release();
    }
    EXPECT_EQ(live, refhost::ledger::instance().live());
}

TEST_F(DataWrapper, HostObjectsAreCopied) {
    refhost::host_ref<refhost::data_object> source = host->make_data("cdn");
    source->put_int("bytes", 10);
    {
        vq_data wrapper(source.get());
        ASSERT_NE(nullptr, wrapper.get());
        EXPECT_NE(static_cast<IHostData*>(source.get()), wrapper.get());
        wrapper.set_int64("written", 1);
        EXPECT_EQ(*node("cdn", {{"bytes", 10}, {"written", 1}}), refhost::snapshot_of(wrapper.get()));
    }
    EXPECT_EQ(*node("cdn", {{"bytes", 10}}), source->snapshot());
    EXPECT_EQ(0, source->foreign_refs());
}

TEST_F(DataWrapper, SiblingObjectsAreShared) {
    IHostData* source = nullptr;
    ASSERT_EQ(S_OK, tessaron_create_data("cdn", &source));
    const std::size_t live = tessaron_live_objects();
    EXPECT_EQ(quorrin::platform::kSiblingModuleFile, quorrin::implementing_module_file(source));
    {
        vq_data wrapper(source);
        EXPECT_EQ(source, wrapper.get());
        wrapper.set_int64("written", 1);
    }
    EXPECT_EQ(*node("cdn", {{"written", 1}}), refhost::snapshot_of(source));
    EXPECT_EQ(0u, source->Release());
    EXPECT_EQ(live - 1, tessaron_live_objects());
}

#ifndef _WIN32
TEST_F(DataWrapper, ModuleNameCaseCounts) {
    IHostData* source = nullptr;
    ASSERT_EQ(S_OK, tessaron_upper_create_data("cdn", &source));
    EXPECT_NE(quorrin::platform::kSiblingModuleFile, quorrin::implementing_module_file(source));
    {
        vq_data wrapper(source);
        EXPECT_NE(source, wrapper.get());
    }
    source->Release();
}
#endif

TEST_F(DataWrapper, UnreadableSourcesAreNotFollowed) {
    void* page = unreadable_page();
    ASSERT_NE(nullptr, page);
    // The object, its method table, and its first method in turn unreadable.
    void* table_of_unreadable[1] = {page};
    void* object_with_unreadable_method[1] = {table_of_unreadable};
    void* object_with_unreadable_table[1] = {page};
    for (void* object : {page, static_cast<void*>(object_with_unreadable_table), static_cast<void*>(object_with_unreadable_method)}) {
        EXPECT_EQ("", quorrin::implementing_module_file(object));
        vq_data wrapper(static_cast<IHostData*>(object));
        EXPECT_NE(nullptr, wrapper.get());
        EXPECT_EQ(*node("", {}), refhost::snapshot_of(wrapper.get()));
    }
}

TEST_F(DataWrapper, KeysAreNeverNullPointers) {
    vq_data wrapper;
    wrapper.set_int64(std::string(), 1);
    wrapper.set_string("", "");
    wrapper.get_string("", "");
    EXPECT_TRUE(host->log.violations().empty());
}

}  // namespace
