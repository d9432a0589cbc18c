// Opening and closing systems: the choice of the backend, duplicates, the
// full table, result mapping and the close.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "sys_table.h"
#include "test_backends.h"
#include "wait_progress.h"

using namespace koruhv;

namespace {

struct RouteCase {
    int type;
    int link;
    std::string address;
    int code;
    int family;          // family that must serve the slot (when code is 0)
    std::string link_kw; // keyword the backend saw
    std::string seen;    // address the backend saw
};

} // namespace

using OpenTest = coretest::CoreTest;

TEST_F(OpenTest, RoutingTable)
{
    const std::string a72(72, '1');
    const std::string a73(73, '1');
    const std::string a79(79, '1');
    const std::string a80(80, '1');
    const RouteCase cases[] = {
        {0, 0, "10.0.0.1", 0, 0, "TCP/IP", "10.0.0.1"},
        {1, 0, "10.0.0.2", 0, 0, "TCP/IP", "10.0.0.2"},
        {2, 0, "10.0.0.3", 0, 2, "TCP/IP", "10.0.0.3"}, // "HX4400:" added and stripped again
        {3, 0, "10.0.0.4", 0, 2, "TCP/IP", "10.0.0.4"},
        {0, 0, "X:10.0.0.5", 0, 2, "TCP/IP", "10.0.0.5"}, // a ':' selects the second generation
        {4, 0, "10.0.0.6", 0, 13, "TCP/IP", "10.0.0.6"},  // unknown types are TRIXHV
        {99, 5, "ttyS9_9600", 0, 13, "USBVCP", "ttyS9_9600"},
        {6, 0, "10.0.0.7_2", 0, 6, "TCP/IP", "10.0.0.7_2"},
        {6, 5, "pts/1_9600_8_0_0_0", 0, 6, "USBVCP", "pts/1_9600_8_0_0_0"},
        {7, 5, "pts/2", 0, 7, "USBVCP", "pts/2"},
        {8, 0, "10.0.0.8", 0, 8, "TCP/IP", "10.0.0.8"},
        {10, 5, "pts/3", 0, 10, "USBVCP", "pts/3"},
        {11, 0, "10.0.0.9", 0, 11, "TCP/IP", "10.0.0.9"},
        {12, 5, "pts/4", 0, 12, "USBVCP", "pts/4"},
        {14, 0, "10.0.0.10", 0, 14, "TCP/IP", "10.0.0.10"},
        {15, 5, "pts/5", 0, 15, "USBVCP", "pts/5"},
        {16, 0, "10.0.0.11", 0, 16, "TCP/IP", "10.0.0.11"},
        // A BQ71XX over TCP/IP is served by the crate selection; the slot
        // names the family actually opened.
        {9, 0, "10.0.0.12", 0, 0, "TCP/IP", "10.0.0.12"},
        // Links and families that do not meet.
        {14, 5, "pts/6", 0, 14, "USBVCP", "pts/6"},
        {0, 5, "pts/7", KORUHV_ERR_BAD_ARGUMENT, -1, "", ""},
        {16, 5, "pts/8", KORUHV_ERR_BAD_ARGUMENT, -1, "", ""},
        {5, 5, "pts/9", KORUHV_ERR_BAD_ARGUMENT, -1, "", ""},
        {6, 3, "1_2", KORUHV_ERR_BAD_LINK, -1, "", ""}, // register link, not a register family
        {2, 4, "1_2", KORUHV_ERR_BAD_LINK, -1, "", ""},
        {13, 7, "1", KORUHV_ERR_BAD_LINK, -1, "", ""},
        {6, 1, "x", KORUHV_ERR_BAD_LINK, -1, "", ""},
        {6, 2, "x", KORUHV_ERR_BAD_LINK, -1, "", ""},
        {6, 8, "x", KORUHV_ERR_BAD_LINK, -1, "", ""},
        {6, -1, "x", KORUHV_ERR_BAD_LINK, -1, "", ""},
        // Address lengths.
        {6, 0, a79, 0, 6, "TCP/IP", a79},
        {6, 0, a80, KORUHV_ERR_BAD_ARGUMENT, -1, "", ""},
        {2, 0, a72, 0, 2, "TCP/IP", a72},
        {2, 0, a73, KORUHV_ERR_BAD_ARGUMENT, -1, "", ""},
    };
    auto &w = coretest::world();
    for (const RouteCase &c : cases) {
        coretest::resetWorld();
        int h = 1234;
        const int rc = KORUHV_InitSystem(c.type, c.link, (void *)c.address.c_str(), "user", "pw", &h);
        const std::string what = std::to_string(c.type) + "/" + std::to_string(c.link) + "/" + c.address;
        ASSERT_EQ(rc, c.code) << what;
        if (rc != 0) {
            EXPECT_EQ(h, -1) << what;
            continue;
        }
        ASSERT_GE(h, 0);
        SystemSlot *s = Sys_Slot(h);
        EXPECT_EQ(s->family, c.family) << what;
        EXPECT_EQ(w.fam[c.family].opens, 1) << what;
        EXPECT_EQ(w.fam[c.family].link, c.link_kw) << what;
        EXPECT_EQ(w.fam[c.family].address, c.seen) << what;
        EXPECT_EQ(std::string(s->address), c.address) << what;
        EXPECT_EQ(s->backendHandle, 7);
        EXPECT_EQ(KORUHV_DeinitSystem(h), 0) << what;
    }
}

TEST_F(OpenTest, InternalNamesCarryTheSlotIndex)
{
    int h1 = -1, h2 = -1, h3 = -1;
    ASSERT_EQ(KORUHV_InitSystem(3, 0, (void *)"10.0.1.1", "", "", &h1), 0);
    ASSERT_EQ(KORUHV_InitSystem(42, 0, (void *)"10.0.1.2", "", "", &h2), 0);
    ASSERT_EQ(KORUHV_InitSystem(11, 5, (void *)"pts/1", "", "", &h3), 0);
    char want[32];
    std::snprintf(want, sizeof want, "KORU_HX4400_HVW_%03d", h1);
    EXPECT_STREQ(Sys_Slot(h1)->name, want);
    std::snprintf(want, sizeof want, "KORU_TRIXHV_HVW_%03d", h2);
    EXPECT_STREQ(Sys_Slot(h2)->name, want);
    std::snprintf(want, sizeof want, "KORU_BQ71XXE_HVW_%03d", h3);
    EXPECT_STREQ(Sys_Slot(h3)->name, want);
    EXPECT_EQ(coretest::world().fam[2].user, "");
}

TEST_F(OpenTest, BackendResultsAreMapped)
{
    const struct {
        int backend;
        int code;
    } cases[] = {{-1, 4100}, {-5, 4100}, {-2, 4103}, {-4, 4103}, {-7, -7}, {5, 5}, {4100, 4100}};
    auto &w = coretest::world();
    for (const auto &c : cases) {
        w.fam[6].initResult = c.backend;
        int h = 55;
        EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.2.1", "", "", &h), c.code) << c.backend;
        EXPECT_EQ(h, -1);
        EXPECT_EQ(Sys_Slot(0)->inUse.load(), 0);
    }
    // The slot is free again: a good open takes slot 0.
    w.fam[6].initResult = 0;
    int h = -1;
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.2.1", "", "", &h), 0);
    EXPECT_EQ(h, 0);
}

TEST_F(OpenTest, NullArgumentsAndUnbuiltFamilies)
{
    int h = 3;
    EXPECT_EQ(KORUHV_InitSystem(6, 0, nullptr, "", "", &h), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.3.1", "", "", nullptr), KORUHV_ERR_BAD_ARGUMENT);
    // Missing user and password reach the backend as empty texts.
    ASSERT_EQ(KORUHV_InitSystem(2, 0, (void *)"10.0.3.3", nullptr, nullptr, &h), 0);
    EXPECT_EQ(coretest::world().fam[2].user, "");
    EXPECT_EQ(coretest::world().fam[2].password, "");
    // Registered placeholder of a family not built: the open fails with 4100.
    coretest::removeAll();
    BackendOps none{};
    none.family = 8;
    none.flags = BACKEND_LOCAL_EVENTS;
    coretest::installFamily(8, none);
    EXPECT_EQ(KORUHV_InitSystem(8, 0, (void *)"10.0.3.2", "", "", &h), KORUHV_ERR_OPEN_FAILED);
}

TEST_F(OpenTest, DuplicatesAreRefused)
{
    int h1 = -1, h2 = -1;
    ASSERT_EQ(KORUHV_InitSystem(1, 0, (void *)"10.0.4.1", "", "", &h1), 0);
    EXPECT_EQ(KORUHV_InitSystem(1, 0, (void *)"10.0.4.1", "", "", &h2), KORUHV_ERR_ALREADY_OPEN);
    EXPECT_EQ(h2, -1);
    // Type 0 selects the same family as type 1.
    EXPECT_EQ(KORUHV_InitSystem(0, 0, (void *)"10.0.4.1", "", "", &h2), KORUHV_ERR_ALREADY_OPEN);
    // Another link or another address is another system.
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.4.1", "", "", &h2), 0);
    int h3 = -1;
    EXPECT_EQ(KORUHV_InitSystem(6, 5, (void *)"10.0.4.1", "", "", &h3), 0);
    // After the close the same system opens again.
    ASSERT_EQ(KORUHV_DeinitSystem(h1), 0);
    EXPECT_EQ(KORUHV_InitSystem(1, 0, (void *)"10.0.4.1", "", "", &h1), 0);
}

TEST_F(OpenTest, ConcurrentDuplicateOpensGiveOneSuccess)
{
    coretest::world().openDelayMs = 100;
    for (int round = 0; round < 3; ++round) {
        const std::string addr = "10.0.5." + std::to_string(round);
        auto open = [&] {
            int h = -1;
            return KORUHV_InitSystem(6, 0, (void *)addr.c_str(), "", "", &h);
        };
        auto a = std::async(std::launch::async, open);
        auto b = std::async(std::launch::async, open);
        const int ra = a.get(), rb = b.get();
        EXPECT_EQ(ra + rb, KORUHV_ERR_ALREADY_OPEN) << ra << " " << rb;
        EXPECT_TRUE(ra == 0 || rb == 0);
    }
    EXPECT_EQ(coretest::world().fam[6].opens, 3);
}

TEST_F(OpenTest, FullTableGives25)
{
    int h = -1;
    for (int i = 0; i < KORUHV_MAX_SYSTEMS; ++i) {
        const std::string addr = "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)addr.c_str(), "", "", &h), 0);
        ASSERT_EQ(h, i);
    }
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.9.9.9", "", "", &h), KORUHV_ERR_TABLE_FULL);
    EXPECT_EQ(h, -1);
    // A full table is reported before a link or family that does not meet.
    EXPECT_EQ(KORUHV_InitSystem(6, 1, (void *)"10.9.9.9", "", "", &h), KORUHV_ERR_TABLE_FULL);
    EXPECT_EQ(KORUHV_InitSystem(0, 5, (void *)"10.9.9.9", "", "", &h), KORUHV_ERR_TABLE_FULL);
    EXPECT_EQ(h, -1);
    ASSERT_EQ(KORUHV_DeinitSystem(37), 0);
    EXPECT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.9.9.9", "", "", &h), 0);
    EXPECT_EQ(h, 37);
}

TEST_F(OpenTest, CloseReportsCrateCodesAndFreesTheSlot)
{
    auto &w = coretest::world();
    w.fam[2].deinitResult = 4;
    w.fam[6].deinitResult = 9;
    int crate = -1, module = -1;
    ASSERT_EQ(KORUHV_InitSystem(2, 0, (void *)"10.0.6.1", "", "", &crate), 0);
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.6.2", "", "", &module), 0);
    EXPECT_EQ(KORUHV_DeinitSystem(crate), 4);  // the crate's logout code
    EXPECT_EQ(KORUHV_DeinitSystem(module), 0); // module results are not reported
    EXPECT_EQ(w.fam[2].deinits, 1);
    EXPECT_EQ(w.fam[6].deinits, 1);
    EXPECT_EQ(Sys_Slot(crate)->inUse.load(), 0);
    EXPECT_STREQ(Sys_Slot(crate)->address, "");
    EXPECT_EQ(KORUHV_DeinitSystem(crate), KORUHV_ERR_NOT_OPEN);
    EXPECT_EQ(w.fam[2].deinits, 1);
    EXPECT_EQ(KORUHV_DeinitSystem(100), KORUHV_ERR_BAD_ARGUMENT);
}

TEST_F(OpenTest, RegisterLinkWithoutTheOutsideLibraryGives4100)
{
    ASSERT_EQ(dlopen("libKORUComm.so", RTLD_LAZY | RTLD_NOLOAD), nullptr);
    int h = 9;
    EXPECT_EQ(KORUHV_InitSystem(5, 3, (void *)"1_2_3", "", "", &h), KORUHV_ERR_OPEN_FAILED);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(KORUHV_InitSystem(9, 4, (void *)"1_2", "", "", &h), KORUHV_ERR_OPEN_FAILED);
    EXPECT_EQ(KORUHV_InitSystem(5, 0, (void *)"10.0.7.1_1", "", "", &h), KORUHV_ERR_OPEN_FAILED);
    EXPECT_EQ(coretest::world().fam[5].opens, 0);
    EXPECT_EQ(coretest::world().fam[9].opens, 0);
}

TEST_F(OpenTest, TwoClosesOfOneHandleCloseOnce)
{
    auto &w = coretest::world();
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.0.8.1", "", "", &h), 0);
    w.opDelayMs = 150;
    auto a = std::async(std::launch::async, [&] { return KORUHV_DeinitSystem(h); });
    auto b = std::async(std::launch::async, [&] { return KORUHV_DeinitSystem(h); });
    const int ra = a.get(), rb = b.get();
    EXPECT_EQ(ra + rb, KORUHV_ERR_NOT_OPEN) << ra << " " << rb;
    EXPECT_EQ(w.fam[6].deinits, 1);
}

TEST_F(OpenTest, CallsOnASlotStillOpeningDoNotReachTheBackend)
{
    using namespace std::chrono_literals;
    auto &w = coretest::world();
    w.openDelayMs = 400;
    auto opening = std::async(std::launch::async, [] {
        int h = -1;
        const int rc = KORUHV_InitSystem(6, 0, (void *)"10.0.9.1", "", "", &h);
        return rc == 0 ? h : -1;
    });
    koru_test::waitFor([] { return Sys_Slot(0)->inUse.load() != 0; });
    ASSERT_EQ(Sys_Slot(0)->inUse.load(), 1); // claimed, backend still opening
    const unsigned short ch[1] = {0};
    float v[1];
    EXPECT_EQ(KORUHV_GetChParam(0, 0, "VMon", 1, ch, v), KORUHV_ERR_NOT_OPEN);
    EXPECT_STREQ(KORUHV_GetError(0), " Connection failed ");
    EXPECT_EQ(w.calls.load(), 0);
    EXPECT_EQ(opening.get(), 0);
    EXPECT_EQ(KORUHV_GetChParam(0, 0, "VMon", 1, ch, v), 0);
}
