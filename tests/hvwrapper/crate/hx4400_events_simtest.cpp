// Family 2 through the public API against the crate simulator: subscriptions,
// the events the crate sends back, and the store beside the event thread.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate_sim_fixture.h"
#include "crate_test_util.h"

using cratetest::be32;
using cratetest::CrateSimTest;
using cratetest::EventServer;
using cratetest::waitRecord;
using korusim::CrateModel;
using korusim::CrateSim;

TEST_F(CrateSimTest, SubscribeEventsUnsubscribe)
{
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char results[3] = {7, 7, 7};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 1, "VMon:V0Set:Nope", 3, results), 0);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(uint8_t(results[2]), 255); // refused by the crate
    char sysResults[1] = {7};
    ASSERT_EQ(KORUHV_SubscribeSystemParams(handle, short(es.port), "HVFanStat", 1, sysResults), 0);
    EXPECT_EQ(sysResults[0], 0);
    int sock = es.accept();
    ASSERT_GE(sock, 0);
    sim.setChannelValue(0, 1, "VMon", 55.5);
    EventRecord r{};
    ASSERT_TRUE(waitRecord(sock, "VMon", &r, 55.5f));
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.system, handle);
    EXPECT_EQ(r.board, 0);
    EXPECT_EQ(r.channel, 1);
    EXPECT_FLOAT_EQ(r.value.FloatValue, 55.5f);
    sim.sendKeepAlive();
    ASSERT_TRUE(waitRecord(sock, "KeepAlive", &r));
    EXPECT_EQ(r.type, 2);

    // Unsubscribe: the stored id goes out, an item never stored goes as -2.
    std::vector<korusim::CrateSubscription> subs = sim.subscriptions();
    uint32_t vmonId = 0;
    for (const auto &s : subs)
        if (s.name == "VMon")
            vmonId = s.id;
    ASSERT_NE(vmonId, 0u);
    sim.clearRequests();
    char un[2] = {7, 7};
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(handle, short(es.port), 0, 1, "VMon:IMon", 2, un), 0);
    EXPECT_EQ(un[0], 0);
    EXPECT_EQ(un[1], 0);
    std::vector<korusim::CrateRequest> req = sim.requestsFor("NEWUNSUBSCRIBE");
    ASSERT_EQ(req.size(), 1u);
    std::string ids = be32(vmonId) + ":" + be32(0xFFFFFFFEu) + std::string(1, '\0');
    EXPECT_EQ(req[0].body.substr(req[0].body.size() - ids.size()), ids);
    // A VMon event that still comes is not named any more.
    korusim::EventItem it = korusim::EventItem::number(vmonId, 10);
    sim.sendEventBatch({it});
    KORUHV_SYSTEMSTATUS_t st{};
    EventRecord *ev = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetEventData(sock, &st, &ev, &n), 0);
    for (int k = 0; k < n; ++k)
        EXPECT_STRNE(ev[k].name, "VMon");
    KORUHV_FreeEventData(&ev);
}

TEST_F(CrateSimTest, ReusedHandleNeverDecodesWithTheFirstCratesNames)
{
    // Crate A: subscribe VMon of slot 0 channel 1, then close.
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 1, "VMon", 1, res), 0);
    uint32_t vmonId = sim.subscriptions().at(0).id;
    ASSERT_EQ(KORUHV_DeinitSystem(handle), 0);
    int first = handle;
    handle = -1;

    // Crate B on another address takes the same handle and subscribes only a
    // system property; an item with A's id on B's stream names nothing.
    CrateSim other(CrateModel::smallCrate(), "127.0.0.3", sim.port());
    ASSERT_TRUE(other.start()) << other.errorText();
    ASSERT_EQ(KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.3"), "admin", "admin", &handle), 0);
    EXPECT_EQ(handle, first);
    buildTree();
    ASSERT_EQ(KORUHV_SubscribeSystemParams(handle, short(es.port), "HVFanStat", 1, res), 0);
    int sock = -1;
    for (int i = 0; i < 3 && sock < 0; ++i) {
        int s = es.accept();
        sockaddr_in peer{};
        socklen_t l = sizeof peer;
        if (s >= 0 && ::getpeername(s, reinterpret_cast<sockaddr *>(&peer), &l) == 0 &&
            peer.sin_addr.s_addr == inet_addr("127.0.0.3"))
            sock = s;
    }
    ASSERT_GE(sock, 0);
    other.sendEventBatch({korusim::EventItem::number(vmonId, 99)});
    KORUHV_SYSTEMSTATUS_t st{};
    EventRecord *ev = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetEventData(sock, &st, &ev, &n), 0);
    for (int k = 0; k < n; ++k)
        EXPECT_STRNE(ev[k].name, "VMon");
    KORUHV_FreeEventData(&ev);
    KORUHV_DeinitSystem(handle);
    handle = -1;
    EXPECT_TRUE(other.protocolErrors().empty());
    other.stop();
}

TEST_F(CrateSimTest, RefusedStoreEntryStillWritesEveryResult)
{
    ASSERT_EQ(open(), 0);
    // No crate map and no parameter list yet: the store has no slots for
    // the channel, so it refuses both items the crate accepted.
    char results[3] = {7, 7, 7};
    EXPECT_EQ(KORUHV_SubscribeChannelParams(handle, 4400, 0, 1, "VMon:V0Set", 2, results), 9);
    EXPECT_EQ(results[0], 9);
    EXPECT_EQ(results[1], 9);
    EXPECT_EQ(results[2], 7);
}

TEST_F(CrateSimTest, EventThreadBesideDescriptionRefreshes)
{
    // The event reader decodes with the store and the description while
    // the caller's thread replaces the description and changes the store.
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char res[2];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 0, "VMon:IMon", 2, res), 0);
    int sock = es.accept();
    ASSERT_GE(sock, 0);
    std::atomic<bool> done{false};
    std::atomic<int> batches{0};
    std::thread reader([&] {
        while (!done) {
            KORUHV_SYSTEMSTATUS_t st{};
            EventRecord *ev = nullptr;
            int n = 0;
            if (KORUHV_GetEventData(sock, &st, &ev, &n) != 0)
                break;
            ++batches;
            KORUHV_FreeEventData(&ev);
        }
    });
    for (int i = 0; i < 40; ++i) {
        sim.setChannelValue(0, 0, "VMon", i);
        buildTree(); // crate map: a new description, store sizing
        char r[1];
        EXPECT_EQ(KORUHV_UnSubscribeChannelParams(handle, short(es.port), 0, 0, "IMon", 1, r), 0);
        EXPECT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 0, "IMon", 1, r), 0);
    }
    done = true;
    sim.sendKeepAlive(); // wakes the reader
    reader.join();
    EXPECT_GT(batches.load(), 0);
}
