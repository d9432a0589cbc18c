#include "l2290_support.h"

#include "api_access.h"
#include "modules/l2290_backend.h"
#include "modules/text_engine.h"

namespace l2290test {

void L2290Test::SetUp()
{
    // Opens are quicker without the unit's settling pauses; the polling
    // period and the keep-alive stay the shipped ones.
    koruhv::TextTiming t;
    t.rowPauseMs = 0;
    t.tcpSettleMs = 0;
    koruhv::Text_SetTimingForTests(t);
}

void L2290Test::TearDown()
{
    for (int h : handles)
        KORUHV_DeinitSystem(h);
    handles.clear();
    if (sim) {
        EXPECT_TRUE(sim->violations().empty()) << sim->violations().front();
        sim->stop();
    }
    koruhv::Text_SetTimingForTests(koruhv::TextTiming{});
    koruhv::L2290_SetTcpPortForTests(0);
}

void L2290Test::startTcp(std::vector<korusim::L2290Module> modules)
{
    sim = std::make_unique<korusim::L2290Sim>(std::move(modules));
    ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
    koruhv::L2290_SetTcpPortForTests(sim->port());
}

void L2290Test::startPty(std::vector<korusim::L2290Module> modules)
{
    sim = std::make_unique<korusim::L2290Sim>(std::move(modules));
    ASSERT_TRUE(sim->startPty()) << sim->error();
}

int L2290Test::open(const std::string &address, int link)
{
    int h = -1;
    const int rc = korutest::initSystem(kSystemType, link, address, &h);
    EXPECT_EQ(rc, 0) << address;
    if (rc == 0)
        handles.push_back(h);
    return h;
}

void L2290Test::close(int handle)
{
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
    std::erase(handles, handle);
}

int pollThreadCount()
{
    return korutest::threadCount("L2290 poll");
}

} // namespace l2290test
