// The API front: handle checks, dispatch through the family table, request
// lock, crate map, board presence, error texts and the free calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "backend_override.h"
#include "sys_table.h"
#include "test_backends.h"

using namespace koruhv;
using namespace std::chrono_literals;

namespace {

using Call = std::function<int(int)>;

struct NamedCall {
    const char *name;
    Call call;
};

// One call of every handle-taking export with valid other arguments.
std::vector<NamedCall> everyHandleCall()
{
    static unsigned short list[4] = {0, 1, 2, 3};
    static char buf[4096];
    static float values[4];
    static char names[4][KORUHV_CHANNEL_NAME_SIZE];
    return {
        {"GetCrateMap",
         [](int h) {
             unsigned short n;
             unsigned short *cc = nullptr;
             char *m = nullptr, *d = nullptr;
             unsigned *s = nullptr;
             unsigned char *a = nullptr, *b = nullptr;
             return KORUHV_GetCrateMap(h, &n, &cc, &m, &d, &s, &a, &b);
         }},
        {"GetSysPropList",
         [](int h) {
             unsigned short n;
             char *p = nullptr;
             return KORUHV_GetSysPropList(h, &n, &p);
         }},
        {"GetSysPropInfo",
         [](int h) {
             unsigned a, b;
             return KORUHV_GetSysPropInfo(h, "X", &a, &b);
         }},
        {"GetSysProp", [](int h) { return KORUHV_GetSysProp(h, "X", buf); }},
        {"SetSysProp", [](int h) { return KORUHV_SetSysProp(h, "X", buf); }},
        {"GetBdParam", [](int h) { return KORUHV_GetBdParam(h, 1, list, "X", values); }},
        {"SetBdParam", [](int h) { return KORUHV_SetBdParam(h, 1, list, "X", values); }},
        {"GetBdParamProp", [](int h) { return KORUHV_GetBdParamProp(h, 0, "X", "Y", buf); }},
        {"GetBdParamInfo",
         [](int h) {
             char *p = nullptr;
             return KORUHV_GetBdParamInfo(h, 0, &p);
         }},
        {"TestBdPresence",
         [](int h) {
             unsigned short n, s;
             char *m = nullptr, *d = nullptr;
             unsigned char a, b;
             int rc = KORUHV_TestBdPresence(h, 0, &n, &m, &d, &s, &a, &b);
             KORUHV_Free(m);
             KORUHV_Free(d);
             return rc;
         }},
        {"GetChParamProp", [](int h) { return KORUHV_GetChParamProp(h, 0, 0, "X", "Y", buf); }},
        {"GetChParamInfo",
         [](int h) {
             char *p = nullptr;
             int n;
             return KORUHV_GetChParamInfo(h, 0, 0, &p, &n);
         }},
        {"GetChName", [](int h) { return KORUHV_GetChName(h, 0, 2, list, names); }},
        {"SetChName", [](int h) { return KORUHV_SetChName(h, 0, 2, list, "n"); }},
        {"GetChParam", [](int h) { return KORUHV_GetChParam(h, 0, "X", 2, list, values); }},
        {"SetChParam", [](int h) { return KORUHV_SetChParam(h, 0, "X", 2, list, values); }},
        {"GetExecCommList",
         [](int h) {
             unsigned short n;
             char *p = nullptr;
             return KORUHV_GetExecCommList(h, &n, &p);
         }},
        {"ExecComm", [](int h) { return KORUHV_ExecComm(h, "Kill"); }},
        {"Subscribe", [](int h) { return KORUHV_Subscribe(h, 4400, 1, "S.X", buf); }},
        {"UnSubscribe", [](int h) { return KORUHV_UnSubscribe(h, 4400, 1, "S.X", buf); }},
        {"SubscribeSystemParams", [](int h) { return KORUHV_SubscribeSystemParams(h, 4400, "X", 1, buf); }},
        {"SubscribeBoardParams", [](int h) { return KORUHV_SubscribeBoardParams(h, 4400, 0, "X", 1, buf); }},
        {"SubscribeChannelParams",
         [](int h) { return KORUHV_SubscribeChannelParams(h, 4400, 0, 0, "X", 1, buf); }},
        {"UnSubscribeSystemParams",
         [](int h) { return KORUHV_UnSubscribeSystemParams(h, 4400, "X", 1, buf); }},
        {"UnSubscribeBoardParams",
         [](int h) { return KORUHV_UnSubscribeBoardParams(h, 4400, 0, "X", 1, buf); }},
        {"UnSubscribeChannelParams",
         [](int h) { return KORUHV_UnSubscribeChannelParams(h, 4400, 0, 0, "X", 1, buf); }},
        {"DeinitSystem", [](int h) { return KORUHV_DeinitSystem(h); }},
    };
}

} // namespace

using ApiFrontTest = coretest::CoreTest;

TEST_F(ApiFrontTest, BadHandlesGive26AndFreeSlots4098)
{
    for (const NamedCall &c : everyHandleCall()) {
        for (int h : {-1, 100, 1000, -1000})
            EXPECT_EQ(c.call(h), KORUHV_ERR_BAD_ARGUMENT) << c.name << " handle " << h;
        EXPECT_EQ(c.call(42), KORUHV_ERR_NOT_OPEN) << c.name;
    }
    EXPECT_EQ(coretest::world().calls.load(), 0);
    EXPECT_STREQ(KORUHV_GetError(-1), " Connection failed ");
    EXPECT_STREQ(KORUHV_GetError(100), " Connection failed ");
    EXPECT_STREQ(KORUHV_GetError(42), " Connection failed ");
    EXPECT_STREQ(KORUHVGetError("KORU_L2290_HVW_042"), " Connection failed ");
    EXPECT_STREQ(KORUHVGetError(nullptr), " Connection failed ");
}

TEST_F(ApiFrontTest, NullOperationAnswers4098AndStandardCallsForward)
{
    auto &w = coretest::world();
    w.fam[6].nextHandle = 11;
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.2.0.1", "", "", &h), 0);
    // The test table has no GetSysPropList: 4098 without reaching anything.
    unsigned short n;
    char *p = nullptr;
    EXPECT_EQ(KORUHV_GetSysPropList(h, &n, &p), KORUHV_ERR_NOT_OPEN);

    const unsigned short ch[3] = {0, 1, 2};
    float v[3] = {};
    w.opResult = 33; // backend codes pass unchanged
    EXPECT_EQ(KORUHV_GetChParam(h, 4, "VMon", 3, ch, v), 33);
    EXPECT_EQ(w.lastBackendHandle, 11);
    EXPECT_EQ(w.lastSlotArg, 4);
    EXPECT_FLOAT_EQ(v[2], 4.5f);
    // Null required pointers.
    EXPECT_EQ(KORUHV_GetChParam(h, 4, nullptr, 3, ch, v), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_GetChParam(h, 4, "VMon", 3, nullptr, v), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(KORUHV_GetSysProp(h, "X", nullptr), KORUHV_ERR_BAD_ARGUMENT);
}

TEST_F(ApiFrontTest, RequestLockSerialisesOnlyTheMarkedOperation)
{
    auto &w = coretest::world();
    coretest::installFamily(2, coretest::makeOps(2, opBit(OP_GET_CH_PARAM)));
    int crate = -1, module = -1;
    ASSERT_EQ(KORUHV_InitSystem(2, 0, (void *)"10.2.0.2", "u", "p", &crate), 0);
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.2.0.3", "", "", &module), 0);
    w.opDelayMs = 150;
    auto run = [&](int h) {
        const unsigned short ch[1] = {0};
        float v[1];
        return KORUHV_GetChParam(h, 0, "VMon", 1, ch, v);
    };
    {
        auto a = std::async(std::launch::async, run, crate);
        auto b = std::async(std::launch::async, run, crate);
        EXPECT_EQ(a.get(), 0);
        EXPECT_EQ(b.get(), 0);
    }
    EXPECT_EQ(w.maxInside.load(), 1);
    w.maxInside = 0;
    {
        auto a = std::async(std::launch::async, run, module);
        auto b = std::async(std::launch::async, run, module);
        EXPECT_EQ(a.get(), 0);
        EXPECT_EQ(b.get(), 0);
    }
    EXPECT_EQ(w.maxInside.load(), 2);
}

TEST_F(ApiFrontTest, ChannelNamesAreCutToElevenCharacters)
{
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.2.0.4", "", "", &h), 0);
    const unsigned short ch[2] = {0, 1};
    char names[2][KORUHV_CHANNEL_NAME_SIZE];
    ASSERT_EQ(KORUHV_GetChName(h, 0, 2, ch, names), 0);
    EXPECT_EQ(std::string(names[0]), std::string(11, 'N'));
    EXPECT_EQ(std::string(names[1]), std::string(11, 'N'));
}

struct CrateMapCase {
    int type;
    uint16_t backendSlots;
    std::vector<uint16_t> crateWords;
    std::vector<uint32_t> slotWords;
    uint16_t wantSlots;
    std::vector<uint16_t> wantCounts;
};

TEST_F(ApiFrontTest, CrateMapChannelCountsFollowSlotCountAndComposition)
{
    const CrateMapCase cases[] = {
        // Composition and map agree.
        {6, 4, {4}, {0x1000C, 0, 0x10018, 0x10006}, 4, {12, 0, 24, 6}},
        // Map reports more slots than the composition: the rest stay 0.
        {6, 6, {2}, {0x10003, 0x10004}, 6, {3, 4, 0, 0, 0, 0}},
        // Composition larger than the map: bounded by the map's slot count.
        {6, 2, {5}, {1, 2, 3, 4, 5}, 2, {1, 2}},
        // Rack supply: every crate walked, the last slot dropped.
        {16, 4, {2, 2}, {7, 8, 9, 10}, 3, {7, 8, 9}},
    };
    auto &w = coretest::world();
    int i = 0;
    for (const CrateMapCase &c : cases) {
        w.crateMapSlots = c.backendSlots;
        w.crateWords = c.crateWords;
        w.slotWords = c.slotWords;
        int h = -1;
        const std::string addr = "10.3.0." + std::to_string(++i);
        ASSERT_EQ(KORUHV_InitSystem(c.type, 0, (void *)addr.c_str(), "", "", &h), 0);
        unsigned short n = 0;
        unsigned short *cc = nullptr;
        char *m = nullptr, *d = nullptr;
        unsigned *s = nullptr;
        unsigned char *fa = nullptr, *fb = nullptr;
        ASSERT_EQ(KORUHV_GetCrateMap(h, &n, &cc, &m, &d, &s, &fa, &fb), 0) << i;
        ASSERT_EQ(n, c.wantSlots) << i;
        EXPECT_EQ(std::vector<uint16_t>(cc, cc + n), c.wantCounts) << i;
        for (void *p : {(void *)cc, (void *)m, (void *)d, (void *)s, (void *)fa, (void *)fb})
            KORUHV_Free(p);
        EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
    }
}

TEST_F(ApiFrontTest, BoardPresenceBoundsTextsAndChecksTheSlot)
{
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.4.0.1", "", "", &h), 0);
    unsigned short n = 0, serial = 0;
    unsigned char fmin = 0, fmaj = 0;
    char *model = nullptr, *desc = nullptr;
    ASSERT_EQ(KORUHV_TestBdPresence(h, 2, &n, &model, &desc, &serial, &fmin, &fmaj), 0);
    EXPECT_EQ(n, 24);
    EXPECT_EQ(serial, 77);
    EXPECT_EQ(std::strlen(model), size_t(KORUHV_BOARD_TEXT_SIZE - 1));
    EXPECT_EQ(std::strlen(desc), size_t(KORUHV_BOARD_TEXT_SIZE - 1));
    KORUHV_Free(model);
    KORUHV_Free(desc);

    // A slot the composition has no word for.
    model = desc = nullptr;
    EXPECT_EQ(KORUHV_TestBdPresence(h, 4, &n, &model, &desc, &serial, &fmin, &fmaj), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(model, nullptr);
    EXPECT_EQ(desc, nullptr);

    // Output pointers that already point somewhere: 26, nothing allocated.
    char dummy[4];
    model = dummy;
    EXPECT_EQ(KORUHV_TestBdPresence(h, 0, &n, &model, &desc, &serial, &fmin, &fmaj), KORUHV_ERR_BAD_ARGUMENT);
    EXPECT_EQ(model, dummy);
    EXPECT_EQ(desc, nullptr);
}

TEST_F(ApiFrontTest, ErrorTextsByHandleAndByName)
{
    int h = -1;
    ASSERT_EQ(KORUHV_InitSystem(6, 0, (void *)"10.5.0.1", "", "", &h), 0);
    EXPECT_STREQ(KORUHV_GetError(h), "backend says hi");
    char name[32];
    std::snprintf(name, sizeof name, "KORU_L2290_HVW_%03d", h);
    EXPECT_STREQ(KORUHVGetError(name), "backend says hi");
    EXPECT_STREQ(KORUHVGetError("KORU_L2290_HVW_"), " Connection failed ");
    ASSERT_EQ(KORUHV_DeinitSystem(h), 0);
    EXPECT_STREQ(KORUHVGetError(name), " Connection failed ");
    EXPECT_STREQ(KORUHV_GetError(h), " Connection failed ");
}

TEST(ApiFreeTest, FreeCallsAndReleaseText)
{
    EXPECT_EQ(KORUHV_Free(nullptr), 0);
    EventRecord *none = nullptr;
    EXPECT_EQ(KORUHV_FreeEventData(&none), 0);
    EXPECT_EQ(KORUHV_FreeEventData(nullptr), 0);
    OldEventRecord *old = nullptr;
    EXPECT_EQ(KORUHVFreeEventData(&old), 0);
    auto *ev = static_cast<EventRecord *>(malloc(sizeof(EventRecord)));
    EXPECT_EQ(KORUHV_FreeEventData(&ev), 0);
    EXPECT_STREQ(KORUHVLibSwRel(), "7.0.0");
    static_assert(sizeof(EventRecord) == 1060);
    static_assert(sizeof(OldEventRecord) == 325);
    static_assert(sizeof(KORUHV_SYSTEMSTATUS_t) == 68);
}
