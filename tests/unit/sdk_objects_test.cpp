// The ready host objects of the SDK: the data object and the event service.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "config/CStringSetter.h"
#include "data_object.h"
#include "quorrin/event_service.h"
#include "quorrin/host_data_object.h"

namespace {

using quorrin::host_data_object;
using kind = host_data_object::kind;

// Keys, kinds and values in order, children inline: "a=1 b='x' c{d=2} e{}" with e a null child.
std::string shape(const host_data_object& data) {
    std::string out = data.name() + ":";
    for (const host_data_object::entry& e : data.entries()) {
        out += " " + e.key;
        if (e.type == kind::integer) out += "=" + std::to_string(e.integer);
        if (e.type == kind::bytes) out += "='" + e.bytes + "'";
        if (e.type == kind::object) {
            const host_data_object* child = host_data_object::from(e.object);
            out += "{" + (child ? shape(*child) : std::string(e.object ? "foreign" : "")) + "}";
        }
    }
    return out;
}

ULONG count_of(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

struct data_ref {
    host_data_object* p = host_data_object::create();
    ~data_ref() { p->Release(); }
    host_data_object* operator->() const { return p; }
};

TEST(HostDataObject, KeysKeepTheirFirstPlaceAndTakeTheNewValueAndKind) {
    data_ref data;
    data->PutName(4, "name");
    data->put_int64("a", 1);
    data->put_string("b", std::string("x\0y", 3));
    data->put_int64("c", 3);
    data->put_string("a", "now text");
    data->put_int64("b", -2);
    EXPECT_EQ("name: a='now text' b=-2 c=3", shape(*data.p));

    std::int64_t value = 7;
    EXPECT_EQ(E_FAIL, data->GetInt64(1, "a", &value));  // another kind
    EXPECT_EQ(E_FAIL, data->GetInt64(1, "z", &value));  // absent
    EXPECT_EQ(7, value);
    EXPECT_EQ(S_OK, data->GetInt64(1, "b", &value));
    EXPECT_EQ(-2, value);
    quorrin::byte_string text = "default";
    {
        quorrin::CStringSetter setter(&text);
        EXPECT_EQ(E_FAIL, data->GetString(1, "b", &setter));
        EXPECT_EQ("default", text);
        EXPECT_EQ(S_OK, data->GetString(1, "a", &setter));
    }
    EXPECT_EQ("now text", text);
}

TEST(HostDataObject, BadPointersFailAndChangeNothing) {
    data_ref data;
    data->put_int64("", 5);  // a null pointer with length 0 is the empty key
    quorrin::byte_string text;
    quorrin::CStringSetter setter(&text);
    std::int64_t value = 0;
    const struct {
        const char* call;
        HRESULT result;
    } rows[] = {
        {"PutName", data->PutName(3, nullptr)},
        {"PutInt64", data->PutInt64(3, nullptr, 1)},
        {"PutString key", data->PutString(3, nullptr, 1, "x")},
        {"PutString value", data->PutString(1, "k", 3, nullptr)},
        {"PutData", data->PutData(3, nullptr, nullptr)},
        {"GetInt64 key", data->GetInt64(3, nullptr, &value)},
        {"GetInt64 out", data->GetInt64(0, nullptr, nullptr)},
        {"GetString key", data->GetString(3, nullptr, &setter)},
        {"GetString receiver", data->GetString(0, nullptr, nullptr)},
        {"CopyTo", data->CopyTo(nullptr)},
    };
    for (const auto& row : rows) EXPECT_EQ(E_POINTER, row.result) << row.call;
    EXPECT_EQ(S_OK, data->GetInt64(0, nullptr, &value));
    EXPECT_EQ(5, value);
    EXPECT_EQ(": =5", shape(*data.p));
}

TEST(HostDataObject, CopyToIsDeepAndLeavesTheSourceAlone) {
    data_ref source, child, grandchild, target;
    grandchild->put_int64("g", 9);
    child->PutName(5, "child");
    child->put_data("grand", grandchild.p);
    source->PutName(7, "Quorrin");
    source->put_int64("n", 1);
    source->put_string("s", "text");
    source->put_data("child", child.p);
    source->put_data("none", nullptr);
    target->put_int64("kept", 0);
    target->put_int64("n", 5);

    ASSERT_EQ(S_OK, source->CopyTo(target.p));
    EXPECT_EQ("Quorrin: kept=0 n=1 s='text' child{child: grand{: g=9}} none{}", shape(*target.p));
    host_data_object* copied = host_data_object::from(target->find("child")->object);
    ASSERT_NE(nullptr, copied);
    EXPECT_NE(child.p, copied);
    copied->put_int64("written", 1);
    host_data_object::from(copied->find("grand")->object)->put_int64("g", 0);
    EXPECT_EQ("child: grand{: g=9}", shape(*child.p));
    EXPECT_EQ(S_OK, source->CopyTo(source.p));  // into itself: nothing to do
}

TEST(HostDataObject, ForeignChildrenAreCopiedThroughTheirOwnCopyTo) {
    refhost::data_factory factory(nullptr);
    const refhost::host_ref<refhost::data_object> foreign = factory.make();
    foreign->put_int("f", 4);
    data_ref source, target;
    EXPECT_EQ(nullptr, host_data_object::from(foreign.get()));
    source->put_data("foreign", foreign.get());
    EXPECT_EQ(": foreign{foreign}", shape(*source.p));
    ASSERT_EQ(S_OK, source->CopyTo(target.p));
    EXPECT_EQ(": foreign{: f=4}", shape(*target.p));
}

TEST(HostDataObject, ChildrenAreHeldWhileKeptAndCyclesAreRefused) {
    data_ref parent, child;
    EXPECT_EQ(1u, count_of(child.p));
    parent->put_data("c", child.p);
    parent->put_data("again", child.p);
    EXPECT_EQ(3u, count_of(child.p));
    parent->put_int64("again", 1);  // replaced: its reference goes
    EXPECT_EQ(2u, count_of(child.p));

    EXPECT_EQ(E_INVALIDARG, parent->put_data("self", parent.p));
    EXPECT_EQ(E_INVALIDARG, child->put_data("up", parent.p));
    EXPECT_EQ(": c{:} again=1", shape(*parent.p));
    EXPECT_EQ(1u, count_of(parent.p));  // no reference taken by the refusals
    {
        data_ref holder;
        holder->put_data("c", child.p);
        EXPECT_EQ(3u, count_of(child.p));
    }
    EXPECT_EQ(2u, count_of(child.p));
}

TEST(HostDataObject, OutOfMemoryChangesNothing) {
    data_ref data, child;
    data->put_int64("first", 1);
    data->put_string("second", "two");
    // Each write, failing at each of its allocations in turn until it succeeds. The texts are
    // longer than a string holds without an allocation.
    static const char kLong[] = "a text too long for a short string";
    const std::vector<HRESULT (*)(host_data_object*, IHostData*)> writes = {
        [](host_data_object* d, IHostData*) { return d->PutString(6, "second", sizeof kLong - 1, kLong); },
        [](host_data_object* d, IHostData*) { return d->PutInt64(sizeof kLong - 1, kLong, 3); },
        [](host_data_object* d, IHostData* c) { return d->PutData(6, "fourth", c); },
        [](host_data_object* d, IHostData*) { return d->PutName(sizeof kLong - 1, kLong); },
    };
    for (std::size_t i = 0; i < writes.size(); ++i) {
        for (long fail = 0;; ++fail) {
            const std::string before = shape(*data.p);
            const ULONG child_count = count_of(child.p);
            alloc_failure::fail_after(fail);
            const HRESULT hr = writes[i](data.p, child.p);
            const bool fired = alloc_failure::fired();
            alloc_failure::fail_after(-1);
            if (!fired) {
                EXPECT_EQ(S_OK, hr) << "write " << i;
                break;
            }
            EXPECT_EQ(E_OUTOFMEMORY, hr) << "write " << i << ", allocation " << fail;
            EXPECT_EQ(before, shape(*data.p)) << "write " << i << ", allocation " << fail;
            EXPECT_EQ(child_count, count_of(child.p)) << "write " << i << ", allocation " << fail;
        }
    }
    EXPECT_EQ(std::string(kLong) + ": first=1 second='" + kLong + "' " + kLong + "=3 fourth{:}", shape(*data.p));
}

TEST(HostDataObject, CreateAnswersTheInterfaceAsked) {
    void* out = &out;
    EXPECT_EQ(S_OK, host_data_object::create(IID_IHostData, &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(0u, static_cast<IHostData*>(out)->Release());
    out = &out;
    EXPECT_EQ(E_NOINTERFACE, host_data_object::create(IID_IStringSetter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, host_data_object::create(IID_IHostData, nullptr));
}

// A sink that records what reaches it: "m0", "t5".
class recording_sink : public quorrin::host_object<IAsynMessageEvents, IAsynTimerEvents> {
public:
    HRESULT STDMETHODCALLTYPE OnMessage(std::uint32_t id, std::uintptr_t, std::uint32_t) override {
        calls.push_back("m" + std::to_string(id));
        return id == 9 ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnMessageEvent(std::uint32_t, std::uint32_t, std::uint32_t) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnTimer(std::uint32_t id) override {
        calls.push_back("t" + std::to_string(id));
        return S_OK;
    }
    std::string take() {
        std::string out;
        for (const std::string& c : calls) out += (out.empty() ? "" : " ") + c;
        calls.clear();
        return out;
    }
    std::vector<std::string> calls;
};

struct event_fixture {
    quorrin::event_service* events = new quorrin::event_service;
    recording_sink* sink = new recording_sink;
    IAsynMessageEvents* messages = sink;
    IAsynTimerEvents* timers = sink;
    ~event_fixture() {
        EXPECT_EQ(0u, events->Release());
        EXPECT_EQ(0u, sink->Release());  // the service let go of the sink
    }
};

TEST(EventService, PostedMessagesWaitForThePumpAndSentOnesDoNot) {
    event_fixture f;
    EXPECT_EQ(E_INVALIDARG, f.events->PostAsynMessage(f.messages, 1, 0, 0));  // not advised
    ASSERT_EQ(S_OK, f.events->AdviseMessages(f.messages));
    EXPECT_EQ(E_INVALIDARG, f.events->AdviseMessages(f.messages));
    f.events->PostAsynMessage(f.messages, 0, 0, 0);
    f.events->PostAsynMessage(f.messages, 2, 0, 0);
    EXPECT_EQ(E_FAIL, f.events->SendAsynMessage(f.messages, 9, 0, 0));  // OnMessage's own result
    EXPECT_EQ("m9", f.sink->take());
    f.events->pump();
    EXPECT_EQ("m0 m2", f.sink->take());

    f.events->PostAsynMessage(f.messages, 3, 0, 0);
    EXPECT_EQ(S_OK, f.events->UnadviseMessages(f.messages));
    EXPECT_EQ(E_INVALIDARG, f.events->UnadviseMessages(f.messages));
    f.events->pump();
    EXPECT_EQ("", f.sink->take());  // dropped with its sink
}

TEST(EventService, TimersFireWhenDueOnceOrEveryPeriod) {
    event_fixture f;
    using std::chrono::milliseconds;
    const auto start = quorrin::event_service::clock_type::now();
    f.events->StartTimer(f.timers, 1, 1000, 1);
    f.events->StartTimer(f.timers, 2, 3000, 0);
    EXPECT_GE(f.events->next_timer(), start + milliseconds(1000));
    f.events->pump(start + milliseconds(500));
    EXPECT_EQ("", f.sink->take());
    f.events->pump(start + milliseconds(5000));
    EXPECT_EQ("t1 t2", f.sink->take());
    f.events->pump(start + milliseconds(5500));  // the repeating one is next due at 6000
    EXPECT_EQ("", f.sink->take());
    f.events->pump(start + milliseconds(6000));
    EXPECT_EQ("t1", f.sink->take());
    EXPECT_EQ(2u, count_of(f.messages));  // the one timer left holds the sink
    EXPECT_EQ(S_OK, f.events->StopTimers(f.timers));
    f.events->pump(start + milliseconds(60000));
    EXPECT_EQ("", f.sink->take());
    EXPECT_EQ(quorrin::event_service::clock_type::time_point::max(), f.events->next_timer());
    f.events->StartTimer(f.timers, 0, 15000, 1);  // left running: the service lets go when it goes
}

}  // namespace
