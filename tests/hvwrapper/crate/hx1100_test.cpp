// Family 0 on crafted bytes: a scripted crate on loopback TCP answers the
// requests, datagrams are built by hand and sent over loopback UDP.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "KORUHVWrapper.h"
#include "crate/crate_transport.h"
#include "crate/hx1100_backend.h"
#include "crate_test_util.h"
#include "framed_server.h"

using namespace koruhv;
using testdev::be16;
using testdev::be32;

namespace {

constexpr uint32_t kSession = 0x01020304;

std::string keywordOf(const std::string &req)
{
    size_t c = req.find(':');
    return c == std::string::npos ? req : req.substr(0, c);
}

std::string reply(const std::string &kw, int16_t status, const std::string &data = "",
                  const std::string &msg = "ok")
{
    if (kw == "LOGIN")
        return kw + ":" + be16(uint16_t(status)) + ":" + msg + ":" + data;
    return kw + ":" + be32(kSession) + ":" + be16(uint16_t(status)) + ":" + msg +
           (data.empty() ? "" : ":" + data);
}

// A first-generation crate: login, description, and the answers a test
// puts into `data` per keyword (status in `status`).
struct Crate {
    std::map<std::string, std::string> data;
    std::map<std::string, int16_t> status;
    testdev::FramedServer server;
    explicit Crate(const char *addr)
        : server(addr, false, [this](const std::string &req) -> std::optional<std::string> {
              std::string kw = keywordOf(req);
              int16_t st = status.count(kw) ? status[kw] : 0;
              if (kw == "LOGIN")
                  return reply(kw, st, be32(kSession));
              if (kw == "GETSYSINFO")
                  return reply(kw, st, cratetest::sampleSysInfo());
              return reply(kw, st, data.count(kw) ? data[kw] : "", st ? "refused here" : "ok");
          })
    {
        CrateTransport_SetPortForTest(server.port());
    }
    ~Crate() { CrateTransport_SetPortForTest(0); }
};

int open(const char *addr, const char *user = "u", const char *pw = "p")
{
    int h = -1;
    int rc = KORUHV_InitSystem(1, 0, const_cast<char *>(addr), user, pw, &h);
    return rc == 0 ? h : -rc;
}

} // namespace

TEST(Hx1100Login, SendsPlainPasswordAndRefusalIsAnOpenFailure)
{
    Crate crate("127.0.0.40");
    crate.status["LOGIN"] = 5;
    EXPECT_EQ(open("127.0.0.40", "user", "pw"), -KORUHV_ERR_OPEN_FAILED);
    ASSERT_EQ(crate.server.requests().size(), 1u);
    EXPECT_EQ(crate.server.requests()[0], std::string("LOGIN:user:pw"));
}

TEST(Hx1100Login, OpenReadsDescriptionAndCloseReturnsLogoutCode)
{
    Crate crate("127.0.0.41");
    int h = open("127.0.0.41");
    ASSERT_GE(h, 0);
    EXPECT_EQ(keywordOf(crate.server.requests()[1]), "GETSYSINFO");
    int again = -1;
    EXPECT_EQ(KORUHV_InitSystem(0, 0, const_cast<char *>("127.0.0.41"), "u", "p", &again),
              KORUHV_ERR_ALREADY_OPEN);
    crate.status["LOGOUT"] = 9;
    EXPECT_EQ(KORUHV_DeinitSystem(h), 9);
    unsigned short n = 0;
    char *names = nullptr;
    EXPECT_EQ(KORUHV_GetSysPropList(h, &n, &names), KORUHV_ERR_NOT_OPEN);
}

TEST(Hx1100SysProps, TableAnswersAndDecodedReplies)
{
    Crate crate("127.0.0.42");
    int h = open("127.0.0.42");
    ASSERT_GE(h, 0);
    size_t before = crate.server.requests().size();
    uint16_t flag = 7;
    EXPECT_EQ(KORUHV_GetSysProp(h, "ResFlag", &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(crate.server.requests().size(), before); // no traffic
    char text[KORUHV_SYSPROP_TEXT_SIZE];
    EXPECT_EQ(KORUHV_GetSysProp(h, "EnMsg", text), 17);
    EXPECT_STREQ(KORUHV_GetError(h), "No Get Property");
    EXPECT_EQ(KORUHV_ExecComm(h, "RS232CmdOff"), 11);
    unsigned mode = 9, type = 9;
    EXPECT_EQ(KORUHV_GetSysPropInfo(h, "ClkFreq", &mode, &type), 0);
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(KORUHV_GetSysPropInfo(h, "RS232Par", &mode, &type), 0);
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(type, 0u);

    crate.data["GETHVPSM"] = std::string("\x01\x02\x03\x04\x05", 5);
    EXPECT_EQ(KORUHV_GetSysProp(h, "HvPwSM", text), 0);
    EXPECT_STREQ(text, "1:2:3:4:5");
    crate.data["GETHVPSM"] = std::string("\x01\x02", 2); // shorter than its five bytes
    EXPECT_EQ(KORUHV_GetSysProp(h, "HvPwSM", text), 3);
    crate.data["GETFANSTAT"] = std::string("\x01", 1) + be16(1200) + std::string("\xff", 1) + be16(7) + "x";
    EXPECT_EQ(KORUHV_GetSysProp(h, "FanStat", text), 0);
    EXPECT_STREQ(text, "1:1200:-1:7");
    crate.data["GETACTLOG"] = be16(2) + ":" + ":a:b:c\n" + "u:d:e:f\n";
    EXPECT_EQ(KORUHV_GetSysProp(h, "Sessions", text), 0);
    EXPECT_STREQ(text, "none:a:b:c\nu:d:e:f\n");
    crate.data["GETSYSNAME"] = "nocomma"; // no ',': the name is the empty text
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(KORUHV_GetSysProp(h, "SymbolicName", text), 0);
    EXPECT_STREQ(text, "");
    crate.data["GETKNETCRNUM"] = be16(0x1234);
    uint16_t v = 0;
    EXPECT_EQ(KORUHV_GetSysProp(h, "KnetCrNum", &v), 0);
    EXPECT_EQ(v, 0x1234);

    uint16_t cfg = 0x0102;
    EXPECT_EQ(KORUHV_SetSysProp(h, "GenSignCfg", &cfg), 0);
    const std::string cfgReq = crate.server.lastRequest("SETGENCFG");
    ASSERT_GE(cfgReq.size(), 3u);
    EXPECT_EQ(cfgReq.substr(cfgReq.size() - 3), std::string("\x01:\x02", 3));
    EXPECT_EQ(KORUHV_SetSysProp(h, "ModelName", text), 18);
    EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
}

TEST(Hx1100Params, RefusedReadKeepsPreviousMessageAndWritesKeepCallerValue)
{
    Crate crate("127.0.0.43");
    int h = open("127.0.0.43");
    ASSERT_GE(h, 0);
    char text[KORUHV_SYSPROP_TEXT_SIZE];
    EXPECT_EQ(KORUHV_GetSysProp(h, "EnMsg", text), 17);
    crate.status["GETCHPARAM"] = 33;
    unsigned short ch[] = {0};
    float out[1] = {};
    EXPECT_EQ(KORUHV_GetChParam(h, 3, "V0Set", 1, ch, out), 33);
    EXPECT_STREQ(KORUHV_GetError(h), "No Get Property");

    float value = -1.26f;
    EXPECT_EQ(KORUHV_SetChParam(h, 3, "V0Set", 1, ch, &value), 0);
    EXPECT_FLOAT_EQ(value, -1.26f); // no write-back in this generation
    std::string req = crate.server.lastRequest("SETCHPARAM");
    EXPECT_EQ(req.substr(req.size() - 10, 5), be32(uint32_t(-13)) + ":");

    char *names = nullptr;
    int count = 0;
    EXPECT_EQ(KORUHV_GetChParamInfo(h, 3, 1, &names, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(names, "V0Set");
    KORUHV_Free(names);
    EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
}

TEST(Hx1100Subscribe, ResultBytesListAndUnsubscribeIds)
{
    Crate crate("127.0.0.44");
    int h = open("127.0.0.44");
    ASSERT_GE(h, 0);
    crate.data["SUBSCRIBE"] = be16(2) + ":" + be32(7) + be32(uint32_t(-1));
    char results[2] = {9, 9};
    EXPECT_EQ(KORUHV_SubscribeChannelParams(h, 4400, 3, 0, "V0Set:Pw", 2, results), 0);
    EXPECT_EQ(uint8_t(results[0]), 0);
    EXPECT_EQ(uint8_t(results[1]), 255);
    std::string sub = crate.server.lastRequest("SUBSCRIBE");
    EXPECT_EQ(sub.substr(0, 15), "SUBSCRIBE:" + be32(kSession) + ":");
    EXPECT_EQ(sub.substr(15, 6), be16(4400) + ":" + be16(2) + ":");

    char res[2] = {9, 9};
    EXPECT_EQ(KORUHV_UnSubscribeChannelParams(h, 4400, 3, 0, "V0Set:Pw", 2, res), 0);
    std::string un = crate.server.lastRequest("UNSUBSCRIBE");
    EXPECT_EQ(un.substr(un.size() - 10), be32(7) + ":" + be32(uint32_t(-2)) + std::string(1, '\0'));
    EXPECT_EQ(res[0], 0);
    EXPECT_EQ(res[1], 0);
    EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
}

// Datagram decoding on a context prepared by hand.
class Hx1100Datagrams : public ::testing::Test {
protected:
    static constexpr int kH = 30;
    void SetUp() override
    {
        CrateContext &ctx = HX1100_Contexts()[kH];
        ctx.inUse = 1;
        std::string d = cratetest::sampleSysInfo();
        ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
        CrateSystemInfo *info = nullptr;
        ASSERT_EQ(Crate_ParseSystemInfo(cur, &info), 0);
        Crate_SetSystemInfo(ctx, info);
        HX1100_SubList_Clear(kH);
        ASSERT_TRUE(HX1100_SubList_Add(kH, 7, "S.Board03.CHAN000.V0Set"));
        ASSERT_TRUE(HX1100_SubList_Add(kH, 8, "S.Board03.CHAN000.Nope"));
        ASSERT_TRUE(HX1100_SubList_Add(kH, 9, "S.HvPwSM"));
        ASSERT_TRUE(HX1100_SubList_Add(kH, 10, "S.KeepAlive"));
    }
    void TearDown() override
    {
        HX1100_SubList_Clear(kH);
        Crate_ReleaseContext(HX1100_Contexts(), kH);
    }
    static std::string item(bool text, uint32_t id, const std::string &value, uint8_t marker = 1)
    {
        return std::string{char(text ? 1 : 0), char(marker)} + std::string(8, '\0') + be32(id) + value;
    }
    static std::string multi(const std::vector<std::string> &items, int delta = 0)
    {
        std::string body;
        for (const auto &i : items)
            body += i;
        return std::string("KORU\x01\x01", 6) + be16(uint16_t(10 + body.size() + delta)) +
               be16(uint16_t(items.size())) + body;
    }
    int decode(const std::string &d, OldEventRecord **ev, int *n)
    {
        return HX1100_DecodeDatagram(kH, reinterpret_cast<const uint8_t *>(d.data()), d.size(), ev, n);
    }
};

TEST_F(Hx1100Datagrams, ListFindsFirstAddedAndRemovesByName)
{
    HX1100SubNode n;
    ASSERT_TRUE(HX1100_SubList_FindById(kH, 7, &n));
    EXPECT_STREQ(n.descriptor.name, "V0Set");
    ASSERT_TRUE(HX1100_SubList_FindById(kH, 8, &n));
    EXPECT_EQ(n.descriptor.name[0], '\0'); // not in the channel's list
    HX1100_SubList_RemoveByName(kH, "S.Board03.CHAN000.V0Set");
    EXPECT_FALSE(HX1100_SubList_FindById(kH, 7, nullptr));
    EXPECT_EQ(HX1100_SubList_Size(kH), 3u);
}

TEST_F(Hx1100Datagrams, TextItemThenNumericItemBothDecoded)
{
    std::string d = multi({item(true, 8, be32(3) + "abc"), item(false, 7, be32(4) + be32(uint32_t(-13))),
                           item(false, 9, be32(5) + std::string("\x01\x02\x03\x04\x05", 5)),
                           item(false, 10, be32(4) + be32(42))});
    OldEventRecord *ev = nullptr;
    int n = 0;
    ASSERT_EQ(decode(d, &ev, &n), 0);
    ASSERT_EQ(n, 4);
    EXPECT_STREQ(ev[0].textValue, "abc");
    EXPECT_STREQ(ev[1].itemName, "S.Board03.CHAN000.V0Set");
    float f;
    std::memcpy(&f, ev[1].value, 4);
    EXPECT_FLOAT_EQ(f, -1.3f);
    EXPECT_STREQ(ev[2].textValue, "1:2:3:4:5");
    EXPECT_EQ(ev[3].type, 2);
    uint32_t w;
    std::memcpy(&w, ev[3].value, 4);
    EXPECT_EQ(w, 42u);
    KORUHVFreeEventData(&ev);
}

TEST_F(Hx1100Datagrams, FaultsRefuseTheWholeDatagramWith23)
{
    OldEventRecord *ev = nullptr;
    int n = 0;
    const std::string good = item(false, 7, be32(4) + be32(1));
    const std::string pastEnd = item(true, 8, be32(500) + "abc"); // its text runs past the datagram
    std::string countAbove = multi({good});
    countAbove[9] = 5; // a count above the items the datagram holds
    const std::string single = std::string("KORU\x01\x00", 6);
    const struct {
        const char *what;
        std::string datagram;
    } refused[] = {
        {"wrong total length", multi({good}, 1)},
        {"item byte not 1", multi({item(false, 7, be32(4) + be32(1), 2)})},
        {"unknown id", multi({item(false, 99, be32(4) + be32(1))})},
        {"no KORU mark", "KORX" + std::string(30, '\0')},
        {"an item runs past the end", multi({good, pastEnd})},
        {"fewer items than the count", countAbove},
        {"single item past the end", single + pastEnd},
        {"single item header cut", single + good.substr(0, 9)},
    };
    for (const auto &c : refused) {
        ev = reinterpret_cast<OldEventRecord *>(1);
        n = 7;
        EXPECT_EQ(decode(c.datagram, &ev, &n), 23) << c.what;
        EXPECT_EQ(ev, nullptr) << c.what;
        EXPECT_EQ(n, 0) << c.what;
    }
    // A symbolic name without ',' arrives as the empty text.
    ASSERT_TRUE(HX1100_SubList_Add(kH, 11, "S.SymbolicName"));
    ASSERT_EQ(decode(multi({item(true, 11, be32(7) + "nocomma")}), &ev, &n), 0);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(ev[0].textValue, "");
    KORUHVFreeEventData(&ev);
    // The single-item form.
    ASSERT_EQ(decode(single + good, &ev, &n), 0);
    EXPECT_EQ(n, 1);
    KORUHVFreeEventData(&ev);
}

TEST_F(Hx1100Datagrams, UnsubscribeListEncodesUnknownAsMinusTwo)
{
    uint8_t *out = nullptr;
    size_t len = 0;
    EXPECT_EQ(Crate_EncodeUnsubscribeList(kH, 2, "S.HvPwSM:S.Other", &out, &len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len),
              be32(9) + ":" + be32(uint32_t(-2)) + std::string(1, '\0'));
    std::free(out);
    EXPECT_EQ(Crate_EncodeUnsubscribeList(kH, 3, "S.HvPwSM:S.Other", &out, &len), -1);
}

TEST(Hx1100Events, OldExportReadsDatagramsFromTheCrateAddressOnly)
{
    Crate crate("127.0.0.45");
    int h = open("127.0.0.45");
    ASSERT_GE(h, 0);
    crate.data["SUBSCRIBE"] = be16(1) + ":" + be32(21);
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeSystemParams(h, 4400, "KeepAlive", 1, res), 0); // pseudo name: not sent
    ASSERT_EQ(KORUHV_SubscribeBoardParams(h, 4400, 3, "Temp", 1, res), 0);

    cratetest::DatagramReceiver receiver;
    ASSERT_TRUE(receiver.bound);
    const int rx = receiver.fd;
    sockaddr_in a = receiver.address;
    auto sendFrom = [&](const char *from, const std::string &d) {
        int tx = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in s{};
        s.sin_family = AF_INET;
        inet_pton(AF_INET, from, &s.sin_addr);
        ::bind(tx, reinterpret_cast<sockaddr *>(&s), sizeof s);
        ::sendto(tx, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::close(tx);
    };
    std::string it = std::string("\x00\x01", 2) + std::string(8, '\0') + be32(21) + be32(4) + be32(77);
    std::string body = it + it;
    std::string d = std::string("KORU\x01\x01", 6) + be16(uint16_t(10 + body.size())) + be16(2) + body;
    HX1100_SetEventTimeoutForTest(2000);
    OldEventRecord *ev = nullptr;
    int n = 0;
    sendFrom("127.0.0.45", d);
    ASSERT_EQ(KORUHVGetEventData(rx, &ev, &n), 0);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::string(ev[1].itemName).rfind("KORU_HX1100_HVW_", 0), 0u);
    EXPECT_NE(std::string(ev[1].itemName).find(".Board003.Temp"), std::string::npos);
    float f;
    std::memcpy(&f, ev[1].value, 4);
    EXPECT_FLOAT_EQ(f, 77.0f);
    KORUHVFreeEventData(&ev);
    sendFrom("127.0.0.46", d);
    EXPECT_EQ(KORUHVGetEventData(rx, &ev, &n), 23);
    sendFrom("127.0.0.45", "KORU\x01\x01");
    EXPECT_EQ(KORUHVGetEventData(rx, &ev, &n), 1);  // too short
    EXPECT_EQ(KORUHVGetEventData(rx, &ev, &n), 23); // nothing within the wait
    HX1100_SetEventTimeoutForTest(0);
    EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
}
