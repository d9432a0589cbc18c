// The ZORN simulator on its own: the query grammar byte-exact over TCP,
// settings and refusals, regulation, alarms and local control.
#include <unistd.h>

#include <gtest/gtest.h>

#include "modules/zorn_sim.h"
#include "sim_client.h"

using namespace korusim;

namespace {

std::string reply(ZornSim &sim, const std::string &line)
{
    return sim.zorn().handle(line, true).text.value_or("<none>");
}

TEST(ZornSimTcp, AnswersQueriesWithTheEchoedMnemonic)
{
    ZornSim sim;
    ASSERT_TRUE(sim.startTcp("127.0.0.3", 0)) << sim.error();
    int fd = simclient::connectTo("127.0.0.3", sim.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(simclient::exchange(fd, "MRID:?"), "#MRID:ZORN-300-30\r\n");
    EXPECT_EQ(simclient::exchange(fd, "VER:?"), "#VER:ZR:2.10.5\r\n");
    EXPECT_EQ(simclient::exchange(fd, "MRT:1:?"), "#MRT:40.25\r\n"); // the index is not echoed
    EXPECT_EQ(simclient::exchange(fd, "MRT:2:?"), "#MRT:38.00\r\n");
    EXPECT_EQ(simclient::exchange(fd, "MGC:?"), "#MGC:0.000012\r\n");
    EXPECT_EQ(simclient::exchange(fd, "MST:?"), "#MST:00000000\r\n");
    EXPECT_EQ(simclient::exchange(fd, "UPMODE:?"), "#UPMODE:NORMAL\r\n");
    EXPECT_EQ(simclient::exchange(fd, "MWVR:150.000000"), "#AK\r\n");
    EXPECT_EQ(simclient::exchange(fd, "MWVR:?"), "#MWVR:150.000\r\n");
    EXPECT_EQ(simclient::exchange(fd, "Pw:?"), "#NAK\r\n");
    EXPECT_DOUBLE_EQ(sim.unit().vset, 150.0);
    ASSERT_EQ(sim.violations().size(), 1u); // Pw is no mnemonic of the unit

    // The link's error fault answers in the unit's own words and the unit
    // never sees the setting.
    sim.addFault(Fault::errorReply("^MWVR:1", DeviceError::Val));
    EXPECT_EQ(simclient::exchange(fd, "MWVR:10.000000"), "#NAK\r\n");
    EXPECT_DOUBLE_EQ(sim.unit().vset, 150.0);
    EXPECT_EQ(simclient::exchange(fd, "MWVR:10.000000"), "#AK\r\n");
    EXPECT_DOUBLE_EQ(sim.unit().vset, 10.0);
    ::close(fd);
}

struct Case {
    const char *line;
    const char *reply;
    bool violation;
};

TEST(ZornSimDialect, AcknowledgesWhatItTakesAndRefusesTheRest)
{
    const Case cases[] = {
        {"MWVR:300.000000", "#AK", false},
        {"MWVR:300.000001", "#NAK", false}, // above the unit's maximum
        {"MWVR:150,000000", "#NAK", true},  // decimal comma
        {"MWVR:", "#NAK", true},
        {"MWIR:30.000000", "#AK", false},
        {"MSRV:0.500000", "#NAK", false}, // ramp rates start at 1
        {"MSRI:2.000000", "#AK", false},
        {"LOOP:0", "#AK", false},
        {"LOOP:V", "#AK", false},
        {"LOOP:2", "#NAK", true},
        {"UPMODE:1", "#AK", false},
        {"MRV:5.000000", "#NAK", true}, // a monitored value
        {"MON:?", "#NAK", true},
        {"MRESET:1", "#NAK", true},
        {"FOO", "#NAK", true},
        {"MRV", "#NAK", true},
        {"MRESET", "#AK", false},
        {"", "#NAK", true},
    };
    ZornSim sim;
    sim.setTickPeriod(std::chrono::milliseconds(0));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        DialectReply r = sim.zorn().handle(c.line, true);
        EXPECT_EQ(r.text.value_or("<none>"), c.reply);
        EXPECT_EQ(!r.violation.empty(), c.violation) << r.violation;
    }
    ZornUnit u = sim.unit();
    EXPECT_DOUBLE_EQ(u.vset, 300.0);
    EXPECT_DOUBLE_EQ(u.iset, 30.0);
    EXPECT_DOUBLE_EQ(u.iramp, 2.0);
    EXPECT_FALSE(u.currentLoop);
    EXPECT_TRUE(u.analog);
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000100");

    // Local control refuses settings and commands, queries still answer.
    sim.setLocal(true);
    DialectReply r = sim.zorn().handle("MWVR:10.000000", true);
    EXPECT_EQ(r.text.value_or(""), "#NAK");
    EXPECT_TRUE(r.violation.empty());
    EXPECT_EQ(reply(sim, "MON"), "#NAK");
    EXPECT_EQ(reply(sim, "MWVR:?"), "#MWVR:300.000");
    EXPECT_EQ(sim.zorn().errorReply("MWVR:?", DeviceError::Val), "#NAK");
}

TEST(ZornSimPhysics, RegulatesRampsAndLatchesAlarmsUntilReset)
{
    ZornSim sim;
    sim.setTickPeriod(std::chrono::milliseconds(0));
    ASSERT_EQ(reply(sim, "MWVR:150.000000"), "#AK");
    ASSERT_EQ(reply(sim, "MSRV:50.000000"), "#AK");
    ASSERT_EQ(reply(sim, "MON"), "#AK");
    sim.advance(1.0);
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:50.000");
    EXPECT_EQ(reply(sim, "MRI:?"), "#MRI:0.500"); // 100 Ohm load
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000003");
    sim.advance(2.0);
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:150.000");
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000001");
    ASSERT_EQ(reply(sim, "MWV:80.000000"), "#AK"); // direct: no ramp
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:80.000");
    ASSERT_EQ(reply(sim, "MOFF"), "#AK");
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:0.000");
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000000");

    // Current regulation: the current ramps, the voltage follows the load.
    ASSERT_EQ(reply(sim, "LOOP:1"), "#AK");
    ASSERT_EQ(reply(sim, "MWIR:0.500000"), "#AK");
    ASSERT_EQ(reply(sim, "MSRI:1.000000"), "#AK");
    ASSERT_EQ(reply(sim, "MON"), "#AK");
    sim.advance(0.25);
    EXPECT_EQ(reply(sim, "MRI:?"), "#MRI:0.250");
    sim.advance(1.0);
    EXPECT_EQ(reply(sim, "MRI:?"), "#MRI:0.500");
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:50.000");
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000005");

    // An over-temperature switches the output off and stays latched until
    // MRESET after the cause is gone.
    sim.setTemperatures(31.5, 90.0, 38.0);
    sim.advance(0.1);
    EXPECT_FALSE(sim.unit().on);
    EXPECT_EQ(reply(sim, "MST:?"), "#MST:00000008");
    EXPECT_EQ(reply(sim, "MON"), "#NAK");
    ASSERT_EQ(reply(sim, "MRESET"), "#AK");
    EXPECT_EQ(sim.unit().alarms, unsigned(kZornOverTemp)); // still hot
    sim.setTemperatures(31.5, 40.0, 38.0);
    sim.setGroundCurrent(0.05);
    sim.advance(0.1);
    ASSERT_EQ(reply(sim, "MRESET"), "#AK");
    EXPECT_EQ(sim.unit().alarms, unsigned(kZornGroundFault));
    sim.setGroundCurrent(0.00001);
    ASSERT_EQ(reply(sim, "MRESET"), "#AK");
    EXPECT_EQ(sim.unit().alarms, 0u);
    EXPECT_EQ(reply(sim, "MON"), "#AK");

    // Monitored values held by the test.
    sim.setMonitored(12.5, 0.125);
    sim.advance(3.0);
    EXPECT_EQ(reply(sim, "MRV:?"), "#MRV:12.500");
    sim.setExtraStatus(kZornOverVoltage);
    EXPECT_NE(sim.unit().status() & kZornOverVoltage, 0u);
}

} // namespace
