// Links that stay in step with their unit, across the families that share
// the engine's link layer: a reply sent twice over a TCP link with latency
// (its copy arriving while later requests wait), a unit that does not
// listen for a moment after every connect, and one serial port opened under
// two names.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fault_proxy.h"
#include "grp1_support.h"
#include "modules/bq71xxe_backend.h"
#include "modules/bq71xxe_sim.h"
#include "modules/l2290_backend.h"
#include "modules/l2290_sim.h"
#include "modules/l317e_backend.h"
#include "modules/l317e_sim.h"
#include "modules/l5026_backend.h"
#include "modules/l5026_sim.h"
#include "modules/text_engine.h"
#include "modules/trixhv_backend.h"
#include "modules/trixhv_sim.h"
#include "modules/zjv_backend.h"
#include "modules/zjv_sim.h"
#include "modules/zorn_backend.h"
#include "modules/zorn_sim.h"
#include "wait_progress.h"

using namespace grp1test;
using koru_test::FaultProxy;

namespace {

constexpr float kUnset = NAN; // the parameter is read as the unit has it

// A family on a TCP link: two channel-0 parameters written with distinct
// values (or only read, kUnset) and read in turn.
struct TcpCase {
    const char *family;
    int systemType;
    void (*setPort)(unsigned short);
    std::function<std::unique_ptr<korusim::TextLinkSim>()> makeSim;
    const char *paramA;
    float valueA;
    const char *paramB; // null: the family is read through paramA only
    float valueB;
    size_t shiftable; // reads a doubled reply may still make wrong (replies that name no parameter)
};

const TcpCase kTcpCases[] = {
    {"L2290", 6, koruhv::L2290_SetTcpPortForTests, [] { return std::make_unique<korusim::L2290Sim>(); },
     "VSet", 150, "ISet", 250, 1},
    {"BQ71XXE", 11, koruhv::BQ71XXE_SetTcpPortForTests,
     [] { return std::make_unique<korusim::BQ71XXESim>(); }, "VSet", 150, "ISet", 250, 1},
    {"ZJV", 10, koruhv::ZJV_SetTcpPortForTests, [] { return std::make_unique<korusim::ZJVSim>(); }, "V5",
     kUnset, nullptr, 0, 0},
    {"TRIXHV", 13, koruhv::TRIXHV_SetTcpPortForTests, [] { return std::make_unique<korusim::TrixhvSim>(); },
     "VSET", 150, "ISET", 250, 1},
    {"ZORN", 14, koruhv::ZORN_SetTcpPortForTests, [] { return std::make_unique<korusim::ZornSim>(); }, "VSet",
     150, "ISet", 12.5f, 0},
};

void PrintTo(const TcpCase &c, std::ostream *os)
{
    *os << c.family;
}

// The unit behind a proxy of the test's own on 127.0.0.3.
class TcpLinkTest : public FamilyTest, public ::testing::WithParamInterface<TcpCase> {
protected:
    TcpLinkTest() : FamilyTest(GetParam().systemType, GetParam().setPort) {}
    const TcpCase &c() const { return GetParam(); }

    int openBehindProxy()
    {
        startTcp(c().makeSim());
        proxy = std::make_unique<FaultProxy>(FaultProxy::line, "127.0.0.2", sim->port());
        c().setPort(proxy->port());
        return open("127.0.0.3");
    }
    void writeValues(int h)
    {
        if (!std::isnan(c().valueA)) {
            ASSERT_EQ(setFloat(h, c().paramA, 0, c().valueA), 0);
        }
        if (c().paramB) {
            ASSERT_EQ(setFloat(h, c().paramB, 0, c().valueB), 0);
        }
    }
    // A read of the parameter that gives its own value.
    bool readsRight(int h, const char *param, float want)
    {
        int rc = -1;
        const float v = getFloat(h, param, 0, &rc);
        return rc == 0 && (std::isnan(want) || v == want);
    }

    void TearDown() override
    {
        FamilyTest::TearDown(); // closes the systems before the proxy goes
        proxy.reset();
    }

    std::unique_ptr<FaultProxy> proxy;
};

class DoubledReplyTest : public TcpLinkTest {};
class ReconnectTest : public TcpLinkTest {};

// The families whose two parameters are both written.
std::vector<TcpCase> pairCases()
{
    std::vector<TcpCase> out;
    for (const TcpCase &c : kTcpCases)
        if (c.paramB)
            out.push_back(c);
    return out;
}

std::string caseName(const ::testing::TestParamInfo<TcpCase> &info)
{
    return info.param.family;
}

} // namespace

// The unit answers one read twice on a link where every reply takes 40 ms;
// the copy reaches the library while a later read waits, early or late in
// that read's wait, and the reply of that read is then still on its way
// when the next request goes out. At most the read that met the copy may
// be wrong (none where the reply names its parameter); the link is back in
// step at once and every later read returns its own parameter's value.
TEST_P(DoubledReplyTest, ShiftsAtMostTheReadThatMetItsCopy)
{
    const int h = openBehindProxy();
    writeValues(h);
    proxy->setReplyLatency(40);
    for (int i = 0; i < 8; ++i) // the library learns how long this link takes
        ASSERT_TRUE(readsRight(h, c().paramA, c().valueA));
    for (int copyMs : {90, 115}) {
        SCOPED_TRACE(copyMs);
        const int before = proxy->repliesOut();
        proxy->copyNextLater(copyMs);
        ASSERT_TRUE(readsRight(h, c().paramA, c().valueA));
        std::vector<int> wrong;
        for (int i = 0; i < 24; ++i) {
            const bool b = i % 2 == 0;
            if (!readsRight(h, b ? c().paramB : c().paramA, b ? c().valueB : c().valueA))
                wrong.push_back(i);
        }
        EXPECT_GT(proxy->repliesOut(), before + 1); // the copy went out
        EXPECT_LE(wrong.size(), c().shiftable)
            << "first wrong read " << wrong.front() << ", last " << wrong.back();
    }
}

// A unit that takes no request in its first moments after a connect: the
// library waits after every connect as it does after the open's, so the
// link answers again after one lost reply, on one new connection.
TEST_P(ReconnectTest, TheLinkAnswersAgainAfterItsReconnect)
{
    koruhv::TextTiming t;
    t.rowPauseMs = 0; // the pause after a connect stays the shipped one
    koruhv::Text_SetTimingForTests(t);
    ASSERT_EQ(koruhv::Text_Timing().tcpSettleMs, 1000);
    const int h = openBehindProxy();
    writeValues(h);
    proxy->deafAfterConnect(300);
    proxy->delayNext(1500); // past the reply bound: the connection is replaced
    int rc = 0;
    getFloat(h, c().paramA, 0, &rc);
    EXPECT_EQ(rc, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(readsRight(h, c().paramA, c().valueA)) << "read " << i << " after the lost reply";
    if (!std::isnan(c().valueA)) {
        EXPECT_EQ(setFloat(h, c().paramA, 0, c().valueA), 0);
    }
    EXPECT_EQ(proxy->accepted(), 2);
}

INSTANTIATE_TEST_SUITE_P(Families, DoubledReplyTest, ::testing::ValuesIn(pairCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Families, ReconnectTest, ::testing::ValuesIn(kTcpCases), caseName);

namespace {

// Two modules (addresses 0 and 1) on one pseudo-terminal.
struct SerialCase {
    const char *family;
    int systemType;
    std::function<std::unique_ptr<korusim::TextLinkSim>()> makeSim;
    const char *param; // a channel-0 parameter every module answers
};

const SerialCase kSerialCases[] = {
    {"L2290", 6,
     [] {
         return std::make_unique<korusim::L2290Sim>(
             std::vector<korusim::L2290Module>{korusim::L2290Module::make(0), korusim::L2290Module::make(1)});
     },
     "VSet"},
    {"L317E", 8,
     [] {
         return std::make_unique<korusim::L317ESim>(
             std::vector<korusim::L317EModule>{korusim::L317EModule::make(0), korusim::L317EModule::make(1)});
     },
     "FineGain"},
    {"L5026", 12,
     [] {
         using korusim::AmpFamily;
         using korusim::AmpModule;
         return std::make_unique<korusim::AmpSim>(std::vector<AmpModule>{
             AmpModule::make(AmpFamily::L5026, 0), AmpModule::make(AmpFamily::L5026, 1)});
     },
     "Threshold"},
};

void PrintTo(const SerialCase &c, std::ostream *os)
{
    *os << c.family;
}

class SerialNamesTest : public FamilyTest, public ::testing::WithParamInterface<SerialCase> {
protected:
    SerialNamesTest() : FamilyTest(GetParam().systemType, [](unsigned short) {}) {}

    void TearDown() override
    {
        FamilyTest::TearDown();
        if (!linkDir.empty())
            std::filesystem::remove_all(linkDir);
    }

    std::string linkDir;
};

// Descriptors of this process open on the device at path.
int descriptorsOn(const std::string &path)
{
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(e.path(), ec) == path)
            ++n;
    }
    return n;
}

} // namespace

// Port names are taken under /dev; a name that walks through another folder
// or a symbolic link elsewhere still names the same port, and the systems
// on it share one descriptor and one link lock.
TEST_P(SerialNamesTest, TwoNamesOfOnePortShareItsLink)
{
    startPty(GetParam().makeSim());
    const std::string port = sim->ptyName(); // "pts/N"
    const std::string device = "/dev/" + port;
    char dir[] = "/tmp/koruptyXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    linkDir = dir;
    std::filesystem::create_symlink(device, linkDir + "/port1");
    const std::string viaLink = ".." + linkDir + "/port1";
    const std::string viaFolder = "pts/../" + port;
    const int held = descriptorsOn(device); // the simulator's own

    for (const std::string &alias : {viaFolder, viaLink}) {
        SCOPED_TRACE(alias);
        const int a = open(port, kLinkUsbVcp);
        const int b = open(alias + "_9600_8_0_0_1", kLinkUsbVcp);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        EXPECT_EQ(descriptorsOn(device), held + 1);
        int rc = -1;
        getFloat(a, GetParam().param, 0, &rc);
        EXPECT_EQ(rc, 0);
        close(a); // the link stays for the other system
        getFloat(b, GetParam().param, 0, &rc);
        EXPECT_EQ(rc, 0);
        close(b);
        EXPECT_EQ(descriptorsOn(device), held);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, SerialNamesTest, ::testing::ValuesIn(kSerialCases),
                         [](const auto &info) { return std::string(info.param.family); });
