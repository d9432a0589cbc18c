// What each of the four dialects gives the fault knobs: its error words, a
// reply rewritten for another address, and requests the device never saw.
#include <unistd.h>

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "modules/bq71xxe_sim.h"
#include "modules/l317e_sim.h"
#include "modules/w9300_sim.h"
#include "modules/zjv_sim.h"
#include "raw_link.h"

using namespace korusim;
using namespace rawlink;
using namespace std::chrono_literals;

namespace {

TEST(Grp1Dialects, ErrorWordsAndAddressRewriting)
{
    struct Case {
        std::shared_ptr<TextDialect> dialect;
        const char *request;
        const char *prefix; // of every error reply
    };
    const Case cases[] = {
        {std::make_shared<W9300Dialect>(W9300Crate::make()), "$CMD:MON,CH:0,PAR:VMON", "#"},
        {std::make_shared<ZJVDialect>(ZJVUnit::make()), "$CMD:MON,CH:0,PAR:V5", "#"},
        {std::make_shared<BQ71XXEDialect>(BQ71XXEUnit::make()), "$CMD:MON,CH:0,PAR:VMON", "#"},
        {std::make_shared<L317EDialect>(std::vector<L317EModule>{L317EModule::make(12)}),
         "$BD:12,CMD:MON,CH:0,PAR:FGAIN", "#BD:12,"},
    };
    const std::pair<DeviceError, const char *> kinds[] = {{DeviceError::Cmd, "CMD:ERR"},
                                                          {DeviceError::Ch, "CH:ERR"},
                                                          {DeviceError::Par, "PAR:ERR"},
                                                          {DeviceError::Val, "VAL:ERR"},
                                                          {DeviceError::Loc, "LOC:ERR"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dialect->name());
        for (auto &[kind, word] : kinds)
            EXPECT_EQ(c.dialect->errorReply(c.request, kind), std::string(c.prefix) + word);
        DialectReply r = c.dialect->handle(c.request, true);
        ASSERT_TRUE(r.text);
        EXPECT_TRUE(r.violation.empty()) << r.violation;
        std::string moved = c.dialect->withAddress(*r.text, 7);
        if (c.dialect->name() == "L317E")
            EXPECT_EQ(moved, "#BD:07,CMD:OK,VAL:128");
        else
            EXPECT_EQ(moved, *r.text); // no address in the "$CMD" dialects
    }
}

TEST(Grp1Dialects, SwallowedOrRefusedRequestsChangeNothing)
{
    W9300Sim sim;
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startTcp("127.0.0.5", 0)) << sim.error();
    int fd = connectTo("127.0.0.5", sim.port());
    ASSERT_GE(fd, 0);
    sim.addFault(Fault::silence("PAR:VSET"));
    EXPECT_EQ(ask(fd, "$CMD:SET,CH:0,PAR:VSET,VAL:4.50", 300), "");
    sim.addFault(Fault::errorReply("PAR:ON", DeviceError::Loc));
    EXPECT_EQ(ask(fd, "$CMD:SET,CH:8,PAR:ON"), "#LOC:ERR\r\n");
    EXPECT_DOUBLE_EQ(sim.channel(0).vset, 5.0);
    EXPECT_FALSE(sim.crate().on);
    // A reply cut in half, then the next request answered whole.
    sim.addFault(Fault::halfLineThenSilence("PAR:CRNAME"));
    EXPECT_EQ(ask(fd, "$CMD:MON,CH:8,PAR:CRNAME", 300), "#CMD:OK,V"); // 9 of 19 bytes
    EXPECT_EQ(ask(fd, "$CMD:MON,CH:8,PAR:CRNAME"), "#CMD:OK,VAL:W9300\r\n");
    EXPECT_EQ(sim.requestCount("PAR:CRNAME$"), 2u);
    ::close(fd);
}

} // namespace
