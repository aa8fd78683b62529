#include <gtest/gtest.h>

#include <map>
#include <new>
#include <random>

#include "alloc_failure.h"
#include "services_fixture.h"
#include "stat/task_table.h"

namespace {

using quorrin::task_record;
using quorrin::task_table;

class TaskTableTest : public ServicesTest {
protected:
    static void add(task_table& table, std::int32_t id, std::uint32_t tick) {
        task_table::pending p = table.make(id);
        p.record().last_tick = tick;
        p.record().task_type = id;  // tells the records apart
        p.record().cid.assign(40, 'c');  // on the heap: a destroyed record's is freed
        table.insert(std::move(p));
    }
    static std::vector<std::int32_t> ids(const task_table& table) {
        std::vector<std::int32_t> out;
        for (const auto& [id, record] : table) {
            EXPECT_EQ(id, record->task_type);
            out.push_back(id);
        }
        return out;
    }
};

// Random registrations, lookups, finishes and sweeps against an ordered map.
TEST_F(TaskTableTest, BehavesAsAnOrderedMapOfRecords) {
    std::mt19937 random(11);
    task_table table;
    std::map<std::int32_t, std::uint32_t> model;  // id -> last tick
    for (int step = 0; step < 4000; ++step) {
        const std::int32_t around[] = {0, INT32_MIN + 200, INT32_MAX - 200};  // ids compare signed
        const std::int32_t id = around[random() % 3] + (static_cast<std::int32_t>(random() % 300) - 150);
        switch (random() % 4) {
            case 0:
            case 1:
                if (model.count(id) == 0) {
                    add(table, id, step);
                    model[id] = step;
                }
                break;
            case 2: {
                const auto found = table.find(id);
                ASSERT_EQ(model.count(id), table.count(id)) << id;
                if (found == table.end()) break;
                EXPECT_EQ(id, found->first);
                found->second->last_tick = step;
                table.sampled(found);
                model[id] = step;
                break;
            }
            default: {
                // Drop what has not been sampled for 50 steps, lowest id first; now and then
                // finish one task.
                // drop calls out of the module: the table stays whole, every record alive, until
                // the last drop has returned.
                std::vector<std::int32_t> dropped, expected;
                table.erase_stale([&](std::uint32_t last) { return task_record::stale(last, step, 50); },
                                  [&](task_record& r) {
                                      dropped.push_back(r.task_type);
                                      ASSERT_EQ(model.size(), table.size());
                                      for (const auto& entry : table) ASSERT_EQ('c', entry.second->cid.at(39));
                                  });
                for (auto it = model.begin(); it != model.end();) {
                    if (task_record::stale(it->second, step, 50)) {
                        expected.push_back(it->first);
                        it = model.erase(it);
                    } else {
                        ++it;
                    }
                }
                EXPECT_EQ(expected, dropped);
                if (const auto found = table.find(id); found != table.end()) {
                    table.erase(found);
                    model.erase(id);
                }
            }
        }
        ASSERT_EQ(model.size(), table.size());
    }
    std::vector<std::int32_t> expected;
    for (const auto& [id, tick] : model) expected.push_back(id);
    EXPECT_EQ(expected, ids(table));
    EXPECT_EQ(nullptr, table.at(1000));
}

// Out of memory while making a record or the room for it leaves the table as it was; a record
// made and not inserted goes again.
TEST_F(TaskTableTest, MakeIsAllOrNothing) {
    task_table table;
    for (std::int32_t id = 1; id <= 40; ++id) add(table, id * 2, 0);
    const std::vector<std::int32_t> before = ids(table);
    for (long n = 0;; ++n) {
        alloc_failure::fail_after(n);
        bool failed = false;
        try {
            task_table::pending p = table.make(41);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        alloc_failure::fail_after(-1);
        EXPECT_EQ(before, ids(table)) << "allocation " << n;
        if (!failed) break;
    }
    add(table, 41, 0);
    EXPECT_EQ(41, table.find(41)->first);
    table.clear();
    EXPECT_TRUE(table.empty());
    add(table, 7, 0);  // the slab starts again after its blocks went with the last record
    EXPECT_EQ((std::vector<std::int32_t>{7}), ids(table));
}

}  // namespace
