/* The fake wrapper answers in the wrapper's own list formats and records
 * what it was asked. */
#include "FakeWrapper.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class Fake : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        fakehv::System sys;
        sys.props.push_back({"Name", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("crate-1")}});
        sys.props.push_back({"Fan", {fakehv::SYSPROP_U16, 2, fakehv::Raw::u16(3)}});
        fakehv::Board &b = sys.addBoard(1, 2, "A1535", 4711);
        b.description = "24 Ch";
        b.fwMajor = 1;
        b.fwMinor = 5;
        fakehv::Param v0;
        v0.type = 0;
        v0.value = fakehv::Raw::f32(12.5f);
        v0.props["Minval"] = fakehv::Raw::f32(0.0f);
        v0.props["Enum"] = fakehv::Raw::enumTexts({"A", "B"});
        b.channels[1].params.push_back({"V0Set", v0});
        b.channels[1].name = "CH01";
        fakehv::Param status;
        status.type = 3;
        status.mode = 0;
        b.params.push_back({"BdStatus", status});
        handle = fakehv::addSystem(sys);
    }
    void TearDown() override { fakehv::reset(); }
    int handle = -1;
};

TEST_F(Fake, CrateMapListsEverySlot)
{
    unsigned short n = 0;
    unsigned short *counts = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(handle, &n, &counts, &models, &descriptions, &serials, &minors, &majors), 0);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[1], 2);
    EXPECT_STREQ(models, "");
    EXPECT_STREQ(models + 1, "A1535");
    EXPECT_STREQ(descriptions + 1, "24 Ch");
    EXPECT_EQ(serials[1], 4711u);
    EXPECT_EQ(majors[1], 1);
    EXPECT_EQ(minors[1], 5);
    for (void *p : {(void *)counts, (void *)models, (void *)descriptions, (void *)serials, (void *)minors,
                    (void *)majors})
        KORUHV_Free(p);
}

TEST_F(Fake, NameListsAndProperties)
{
    unsigned short count = 0;
    char *names = nullptr;
    ASSERT_EQ(KORUHV_GetSysPropList(handle, &count, &names), 0);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(names, "Name");
    EXPECT_STREQ(names + 5, "Fan");
    KORUHV_Free(names);

    int n = 0;
    char *cells = nullptr;
    ASSERT_EQ(KORUHV_GetChParamInfo(handle, 1, 1, &cells, &n), 0);
    EXPECT_EQ(n, 1);
    EXPECT_STREQ(cells, "V0Set");
    EXPECT_STREQ(cells + 10, ""); /* closing empty cell */
    KORUHV_Free(cells);
    ASSERT_EQ(KORUHV_GetBdParamInfo(handle, 1, &cells), 0);
    EXPECT_STREQ(cells, "BdStatus");
    KORUHV_Free(cells);

    unsigned type = 99, mode = 99;
    ASSERT_EQ(KORUHV_GetChParamProp(handle, 1, 1, "V0Set", "Type", &type), 0);
    ASSERT_EQ(KORUHV_GetChParamProp(handle, 1, 1, "V0Set", "Mode", &mode), 0);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(mode, 2u);
    char entries[30] = {};
    ASSERT_EQ(KORUHV_GetChParamProp(handle, 1, 1, "V0Set", "Enum", entries), 0);
    EXPECT_STREQ(entries, "A");
    EXPECT_STREQ(entries + 15, "B");
    EXPECT_EQ(KORUHV_GetChParamProp(handle, 1, 1, "V0Set", "Unit", entries), fakehv::UNKNOWN_ITEM);
    EXPECT_EQ(KORUHV_GetBdParamProp(handle, 0, "BdStatus", "Type", &type),
              fakehv::UNKNOWN_ITEM); /* empty slot */
}

TEST_F(Fake, WritesAreRecordedAndReadBack)
{
    float f = 3.5f;
    const unsigned short ch[1] = {1};
    ASSERT_EQ(KORUHV_SetChParam(handle, 1, "V0Set", 1, ch, &f), 0);
    float back = 0;
    ASSERT_EQ(KORUHV_GetChParam(handle, 1, "V0Set", 1, ch, &back), 0);
    EXPECT_EQ(back, 3.5f);
    const auto calls = fakehv::callsOf("KORUHV_SetChParam");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].value.asF32(), 3.5f);
    EXPECT_EQ(calls[0].list, (std::vector<unsigned short>{1}));

    fakehv::system(handle).crate[1].channels[1].find("V0Set")->setCode = 5;
    f = 9.0f;
    EXPECT_EQ(KORUHV_SetChParam(handle, 1, "V0Set", 1, ch, &f), 5);
    ASSERT_EQ(KORUHV_GetChParam(handle, 1, "V0Set", 1, ch, &back), 0);
    EXPECT_EQ(back, 3.5f); /* a refused write changes nothing */

    char name[1][KORUHV_CHANNEL_NAME_SIZE];
    ASSERT_EQ(KORUHV_GetChName(handle, 1, 1, ch, name), 0);
    EXPECT_STREQ(name[0], "CH01");
}

TEST_F(Fake, ForcedCodesClosedHandlesAndOpening)
{
    fakehv::system(handle).codes["KORUHV_GetSysProp"] = 12;
    char text[64];
    EXPECT_EQ(KORUHV_GetSysProp(handle, "Name", text), 12);
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    EXPECT_EQ(KORUHV_GetSysProp(handle, "Name", text), KORUHV_ERR_NOT_OPEN);
    EXPECT_EQ(KORUHV_GetSysProp(55, "Name", text), KORUHV_ERR_NOT_OPEN);

    fakehv::queueInit(fakehv::System{}, KORUHV_ERR_LOGIN_REFUSED);
    int h = -1;
    char address[] = "127.0.0.2";
    EXPECT_EQ(KORUHV_InitSystem(2, 0, address, "admin", "pw", &h), KORUHV_ERR_LOGIN_REFUSED);
    EXPECT_EQ(KORUHV_InitSystem(2, 0, address, "admin", "pw", &h), 0);
    EXPECT_EQ(h, handle + 1);
    const fakehv::Call open = fakehv::callsOf("KORUHV_InitSystem").back();
    EXPECT_EQ(open.address, "127.0.0.2");
    EXPECT_EQ(open.user, "admin");
    EXPECT_EQ(open.systemType, 2);
}

TEST_F(Fake, EventsOneBatchPerCall)
{
    fakehv::queueEvents(9, {fakehv::valueEvent(handle, 1, 1, "VMon", fakehv::Raw::f32(1.5f))});
    EventRecord *events = nullptr;
    int count = -1;
    KORUHV_SYSTEMSTATUS_t status;
    ASSERT_EQ(KORUHV_GetEventData(9, &status, &events, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(events[0].name, "VMon");
    EXPECT_EQ(events[0].value.FloatValue, 1.5f);
    EXPECT_EQ(events[0].channel, 1);
    KORUHV_FreeEventData(&events);
    EXPECT_EQ(events, nullptr);
    EXPECT_EQ(KORUHV_GetEventData(9, &status, &events, &count), KORUHV_ERR_NO_EVENT_READER);
    EXPECT_EQ(count, 0);
}

} // namespace
