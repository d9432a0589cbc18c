// Ticket locks, timed waits and the slot reader/writer lock.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "sys_table.h"
#include "test_backends.h"
#include "ticket_lock.h"
#include "timed_wait.h"
#include "wait_progress.h"

using namespace koruhv;
using namespace std::chrono;
using namespace std::chrono_literals;

TEST(TicketLockTest, ServesInTicketOrder)
{
    TicketLock lock{};
    TicketLock_Init(&lock);
    TicketLock_Acquire(&lock); // hold it while the others queue
    std::mutex orderM;
    std::vector<int> order;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        const uint64_t before = lock.nextTicket.load();
        threads.emplace_back([&, i] {
            TicketLock_Acquire(&lock);
            {
                std::lock_guard<std::mutex> g(orderM);
                order.push_back(i);
            }
            TicketLock_Release(&lock);
        });
        // Wait until thread i holds its ticket before the next one starts.
        if (!koru_test::waitFor([&] { return lock.nextTicket.load() > before; })) {
            ADD_FAILURE() << "thread " << i << " never took its ticket";
            break;
        }
    }
    TicketLock_Release(&lock);
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(lock.nowServing.load(), lock.nextTicket.load());
    TicketLock_Destroy(&lock);
}

TEST(TimedWaitTest, ZeroReturnsAtOnceAndBoundedWaitEnds)
{
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t c = PTHREAD_COND_INITIALIZER;
    ASSERT_EQ(Sys_MutexLock(&m), 0);
    auto t0 = steady_clock::now();
    EXPECT_EQ(Sys_CondTimedWait(&c, &m, 0), kWaitTimedOut);
    EXPECT_LT(steady_clock::now() - t0, 2s); // at once; the margin is for a loaded machine

    t0 = steady_clock::now();
    int rc;
    do { // spurious wake-ups are allowed; the deadline is what counts
        rc = Sys_CondTimedWait(&c, &m, 1500);
    } while (rc == 0 && steady_clock::now() - t0 < 1500ms);
    const auto waited = steady_clock::now() - t0;
    EXPECT_EQ(rc, kWaitTimedOut);
    EXPECT_GE(waited, 1400ms);
    EXPECT_LT(waited, 10s);
    EXPECT_EQ(Sys_MutexUnlock(&m), 0);
    EXPECT_EQ(Sys_CondBroadcast(&c), 0);
    EXPECT_EQ(Sys_MutexLock(nullptr), -1);
    EXPECT_EQ(Sys_MutexUnlock(nullptr), -1);
}

TEST(TimedWaitTest, DeadlineCarriesNanoseconds)
{
    for (uint32_t ms : {0u, 999u, 1001u, 123456u}) {
        const timespec d = Sys_DeadlineAfter(ms);
        EXPECT_GE(d.tv_nsec, 0);
        EXPECT_LT(d.tv_nsec, 1000000000L);
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const double delta = double(d.tv_sec - now.tv_sec) + double(d.tv_nsec - now.tv_nsec) / 1e9;
        EXPECT_NEAR(delta, ms / 1000.0, 0.1);
    }
}

TEST(SlotLockTest, OutOfTableHandlesNeverLetTheCallerIn)
{
    EXPECT_EQ(Sys_AcquireHandle(-1, false), 0); // accepted, does nothing
    EXPECT_EQ(Sys_ReleaseHandle(-1, false), 0);
    EXPECT_NE(Sys_AcquireHandle(100, false), 0);
    EXPECT_NE(Sys_AcquireHandle(1000, true), 0);
    EXPECT_EQ(Sys_Slot(100), nullptr);
}

using SlotLockApiTest = coretest::CoreTest;

// Two readers inside one handle run at once; a close waits for both, runs
// alone, and calls that arrive meanwhile find the slot closed (4098).
TEST_F(SlotLockApiTest, ReadersInParallelCloseWaitsForThem)
{
    auto &w = coretest::world();
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.1.1.1", "", "", &h), 0);
    // Long enough for both readers to be inside together even when their
    // threads start late on a loaded machine.
    w.opDelayMs = 2000;
    const unsigned short ch[2] = {0, 1};
    auto reader = [&] {
        float v[2];
        return KORUHV_GetChParam(h, 0, "VMon", 2, ch, v);
    };
    auto r1 = std::async(std::launch::async, reader);
    auto r2 = std::async(std::launch::async, reader);
    ASSERT_TRUE(koru_test::waitFor([&] { return w.inside.load() == 2; }))
        << w.inside.load() << " readers inside";

    auto closer = std::async(std::launch::async, [&] { return KORUHV_DeinitSystem(h); });
    EXPECT_EQ(closer.wait_for(100ms), std::future_status::timeout); // readers still inside
    EXPECT_EQ(r1.get(), 0);
    EXPECT_EQ(r2.get(), 0);
    ASSERT_EQ(closer.wait_for(koru_test::kHangGuard), std::future_status::ready) << "the close never got in";
    EXPECT_EQ(closer.get(), 0);
    EXPECT_EQ(w.maxInside.load(), 2);
    w.opDelayMs = 0;
    float v[2];
    EXPECT_EQ(KORUHV_GetChParam(h, 0, "VMon", 2, ch, v), KORUHV_ERR_NOT_OPEN);
    EXPECT_EQ(KORUHV_DeinitSystem(h), KORUHV_ERR_NOT_OPEN);
}

TEST_F(SlotLockApiTest, CallsArrivingDuringCloseAnswerNotOpen)
{
    auto &w = coretest::world();
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.1.1.2", "", "", &h), 0);
    // Hold the slot as writer the way the close does, then let a call arrive.
    ASSERT_EQ(Sys_AcquireHandle(h, true), 0);
    auto call = std::async(std::launch::async, [&] {
        float v[1];
        const unsigned short ch[1] = {0};
        return KORUHV_GetChParam(h, 0, "VMon", 1, ch, v);
    });
    EXPECT_EQ(call.wait_for(100ms), std::future_status::timeout);
    // Release as the close does: the slot becomes free.
    TicketLock_Acquire(&Sys_TableLock);
    Sys_Slot(h)->open.store(0);
    Sys_ReleaseHandle(h, true);
    TicketLock_Release(&Sys_TableLock);
    ASSERT_EQ(call.wait_for(koru_test::kHangGuard), std::future_status::ready) << "the call never got in";
    EXPECT_EQ(call.get(), KORUHV_ERR_NOT_OPEN);
    EXPECT_EQ(w.calls.load(), 0);
}

namespace {
int g_resets = 0;
void countReset()
{
    ++g_resets;
}
} // namespace

TEST_F(SlotLockApiTest, TableInitResetsEveryFamilysInstances)
{
    coretest::closeAll();
    BackendOps ops = coretest::makeOps(6);
    ops.ResetInstances = countReset;
    coretest::installFamily(6, ops);
    BackendOps ops5 = coretest::makeOps(5);
    ops5.ResetInstances = countReset;
    coretest::installFamily(5, ops5);
    g_resets = 0;
    Sys_InitTable(); // the once-guarded start state, run again on a free table
    EXPECT_EQ(g_resets, 2);
    for (int i = 0; i < KORUHV_MAX_SYSTEMS; ++i) {
        EXPECT_EQ(Sys_Slot(i)->inUse.load(), 0);
        EXPECT_EQ(Sys_Slot(i)->backendHandle, -1);
    }
    int h = -1;
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.1.1.3", "", "", &h), 0);
}
