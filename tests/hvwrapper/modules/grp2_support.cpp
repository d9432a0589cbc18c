#include "grp2_support.h"

#include <algorithm>
#include <cstring>

#include "local_events_hooks.h"
#include "modules/text_engine.h"

namespace grp2test {

void Grp2Test::SetUp()
{
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    t.pollMs = 200;
    koruhv::Text_SetTimingForTests(t);
}

void Grp2Test::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
}

int Grp2Test::open(int systemType, const std::string &address, int link, int expectRc)
{
    int h = -1;
    const int rc = korutest::initSystem(systemType, link, address, &h);
    EXPECT_EQ(rc, expectRc) << address;
    if (rc == 0)
        handles.push_back(h);
    return h;
}

void Grp2Test::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
}

namespace {

template <typename T> T getCh(int h, const char *name, unsigned short ch, int *rc)
{
    T v{};
    std::memset(&v, 0xA5, sizeof v);
    const int r = KORUHV_GetChParam(h, 0, name, 1, &ch, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

template <typename T> T getBd(int h, const char *name, int *rc)
{
    unsigned short slot = 0;
    T v{};
    std::memset(&v, 0xA5, sizeof v);
    const int r = KORUHV_GetBdParam(h, 1, &slot, name, &v);
    if (rc)
        *rc = r;
    else
        EXPECT_EQ(r, 0) << name;
    return v;
}

} // namespace

float getChFloat(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<float>(h, name, ch, rc);
}
int getChInt(int h, const char *name, unsigned short ch, int *rc)
{
    return getCh<int32_t>(h, name, ch, rc);
}
float getBdFloat(int h, const char *name, int *rc)
{
    return getBd<float>(h, name, rc);
}
int getBdInt(int h, const char *name, int *rc)
{
    return getBd<int32_t>(h, name, rc);
}

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    const int rc = KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results);
    for (unsigned i = 0; rc == 0 && i < n; ++i)
        EXPECT_EQ(results[i], 0) << names;
    return rc;
}

int subscribeBoard(int h, short port, const char *names, unsigned n)
{
    char results[32] = {};
    const int rc = KORUHV_SubscribeBoardParams(h, port, 0, names, n, results);
    for (unsigned i = 0; rc == 0 && i < n; ++i)
        EXPECT_EQ(results[i], 0) << names;
    return rc;
}

} // namespace grp2test
