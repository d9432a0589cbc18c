#include "grp1_support.h"

#include "api_access.h"
#include "modules/text_engine.h"

namespace grp1test {

void FamilyTest::SetUp()
{
    // Opens are quicker without the units' settling pauses; polling period
    // and keep-alive stay the shipped ones.
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    koruhv::Text_SetTimingForTests(t);
}

void FamilyTest::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    if (sim) {
        const auto v = sim->violations();
        EXPECT_TRUE(v.empty()) << v.front();
        sim->stop();
    }
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
    setPort_(0);
}

void FamilyTest::startTcp(std::unique_ptr<korusim::TextLinkSim> s)
{
    sim = std::move(s);
    ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
    setPort_(sim->port());
}

void FamilyTest::startPty(std::unique_ptr<korusim::TextLinkSim> s)
{
    sim = std::move(s);
    ASSERT_TRUE(sim->startPty()) << sim->error();
}

int FamilyTest::tryOpen(const std::string &address, int link, int *handle)
{
    *handle = -1;
    const int rc = korutest::initSystem(type_, link, address, handle);
    if (rc == 0)
        handles.push_back(*handle);
    return rc;
}

int FamilyTest::open(const std::string &address, int link)
{
    int h = -1;
    EXPECT_EQ(tryOpen(address, link, &h), 0) << address;
    return h;
}

void FamilyTest::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    std::erase(handles, handle);
}

std::string FamilyTest::lastRequest(const std::string &match)
{
    const std::vector<std::string> l = sim->lines(match);
    return l.empty() ? std::string() : l.back();
}

int subscribeChannel(int h, short port, unsigned short ch, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_SubscribeChannelParams(h, port, 0, ch, names, n, results);
}

int subscribeBoard(int h, short port, const char *names, unsigned n)
{
    char results[32] = {};
    return KORUHV_SubscribeBoardParams(h, port, 0, names, n, results);
}

} // namespace grp1test
