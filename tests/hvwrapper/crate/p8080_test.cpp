// Family 16 on crafted bytes: framing, reply checks, the rack's system
// information, password encryption with a key pair made here, the event
// batch decoder, and the API against a scripted rack on loopback TCP (its
// command connection and its event service).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/crate_crypto.h"
#include "crate/event_sink.h"
#include "crate/p8080_backend.h"
#include "framed_server.h"

using namespace koruhv;
using testdev::le16;
using testdev::le32;

namespace {

constexpr uint32_t kSession = 0x0A0B0C0D;

// A 2048-bit key pair made once for the whole test program.
struct KeyPair {
    EVP_PKEY *key = nullptr;
    std::string publicPem;
    KeyPair()
    {
        key = EVP_RSA_gen(2048);
        BIO *b = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(b, key);
        char *p = nullptr;
        long n = BIO_get_mem_data(b, &p);
        publicPem.assign(p, size_t(n));
        BIO_free(b);
    }
    ~KeyPair() { EVP_PKEY_free(key); }
    std::string decrypt(const std::string &c) const
    {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_decrypt_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        size_t n = 0;
        const auto *in = reinterpret_cast<const uint8_t *>(c.data());
        EVP_PKEY_decrypt(ctx, nullptr, &n, in, c.size());
        std::string out(n, '\0');
        if (EVP_PKEY_decrypt(ctx, reinterpret_cast<uint8_t *>(out.data()), &n, in, c.size()) <= 0)
            out = "<undecryptable>";
        else
            out.resize(n);
        EVP_PKEY_CTX_free(ctx);
        return out;
    }
};

const KeyPair &keys()
{
    static KeyPair k;
    return k;
}

std::string descNumeric(const std::string &name, int8_t type, bool writable, bool isSigned, int32_t min,
                        int32_t max, uint32_t decimals, uint32_t factor)
{
    return name + ":" + std::string{char(type), char(writable), char(isSigned)} + le32(uint32_t(min)) +
           le32(uint32_t(max)) + le32(decimals) + le32(factor) + std::string(1, '\x05') + le16(3);
}

std::string descOnOff(const std::string &name)
{
    return name + ":" + std::string{1, 1, 0} + "On:Off:";
}

// Descriptors: 0 VSet (numeric, signed, decimals 1, factor 10), 1 Pw,
// 2 Temp (system s16, decimals 1, factor 10), 3 Label (system text),
// 4 VStep (numeric, decimals 0, factor 5), 5 BdStat (board word). Boards:
// 3 with two channels {0,1,4} each and board parameters Temp and BdStat;
// 150 with Temp and Label.
std::string rackSysInfo()
{
    std::string d = le16(6) + ":";
    d += descNumeric("VSet", 0, true, true, -1000, 1000, 1, 10);
    d += descOnOff("Pw");
    d += descNumeric("Temp", 4, false, false, 0, 1000, 1, 10);
    d += descNumeric("Label", 0, true, false, 0, 0, 0, 0);
    d += descNumeric("VStep", 0, true, false, 0, 1000, 0, 5);
    d += descNumeric("BdStat", 3, true, false, 0, 0, 0, 0);
    d += ":" + le16(2) + ":";
    d += std::string{3, 0} + std::string{0, 6};
    d += ":" + le16(2) + le16(0) + ":";
    d += le16(2) + le16(2) + le16(5) + ":";     // board 3: Temp, BdStat
    d += le16(3) + le16(0) + le16(1) + le16(4); // channel 0
    d += le16(3) + le16(0) + le16(1) + le16(4); // channel 1
    d += le16(2) + le16(2) + le16(3) + ":";     // board 150: Temp, Label
    return d;
}

std::string keywordOf(const std::string &req)
{
    size_t c = req.find(':');
    return c == std::string::npos ? req : req.substr(0, c);
}

std::string reply(const std::string &kw, int16_t status, const std::string &data = "")
{
    return kw + ":" + le32(kSession) + le16(uint16_t(status)) + ":msg:" + data;
}

struct Rack {
    std::map<std::string, std::string> data;
    std::map<std::string, int16_t> status;
    int16_t loginStatus = 0;
    std::string password = "secret";
    std::string seenPassword;
    uint16_t eventPort = 0;
    testdev::FramedServer server;
    explicit Rack(const char *addr)
        : server(addr, true, [this](const std::string &req) -> std::optional<std::string> {
              std::string kw = keywordOf(req);
              if (kw == "LOGIN") {
                  size_t second = req.find(':', 6);
                  seenPassword = keys().decrypt(req.substr(second + 1));
                  int16_t st = seenPassword == password ? loginStatus : int16_t(-12);
                  return kw + ":" + le16(uint16_t(st)) + ":msg:" + le32(kSession);
              }
              if (kw == "KILL" || kw == "KEEPALIVE" || kw == "GLOBALON")
                  return std::nullopt;
              int16_t st = status.count(kw) ? status[kw] : 0;
              if (kw == "GETSYSINFO")
                  return reply(kw, st, rackSysInfo());
              if (kw == "GETCRATEMAP")
                  return reply(kw, st,
                               std::string(1, '\x03') + ":" + "M1:D1:" + le32(77) + ":" + std::string{2, 5} +
                                   ":" + std::string(1, '\0') + ":" + "RC:Ctl:" + le32(1) + ":" +
                                   std::string{1, 0});
              if (kw == "GETSYSCOMP")
                  return reply(kw, st, le16(1) + ":" + le16(3) + ":" + le32(2) + le32(0) + le32(0));
              if (kw == "ENABLEMSG")
                  return reply(kw, st, le16(eventPort) + ":" + data[kw]);
              return reply(kw, st, data.count(kw) ? data[kw] : "");
          })
    {
        P8080_SetPortForTest(server.port());
        P8080_SetPublicKeyForTest(keys().publicPem.c_str());
    }
    ~Rack()
    {
        P8080_SetPortForTest(0);
        P8080_SetPublicKeyForTest(nullptr);
    }
};

int open(const char *addr, const char *pw = "secret")
{
    int h = -1;
    int rc = KORUHV_InitSystem(16, 0, const_cast<char *>(addr), "admin", pw, &h);
    return rc == 0 ? h : -rc;
}

} // namespace

TEST(P8080Framing, LittleEndianPrimitives)
{
    uint8_t b[6] = {};
    Le_PutU16(b, 0, 0xFFF4);
    Le_PutU32(b, 2, 0x01020304);
    EXPECT_EQ(Le_ReadI16(b), -12);
    EXPECT_EQ(Le_ReadU32(b + 2), 0x01020304u);
    EXPECT_EQ(b[2], 0x04);
}

TEST(P8080Framing, ReplyHeaderChecks)
{
    struct Case {
        std::string reply;
        bool mapSlot;
        int code;
    } cases[] = {
        {reply("GETBDPARAM", 0, "DATA"), true, 0},
        {reply("GETBDPARAM", -3), true, 7},
        {reply("GETBDPARAM", -3), false, 23},
        {reply("GETBDPARAM", 4), true, 23},
        {reply("SETBDPARAM", 0), true, 23},
        {"GETBDPARAM:" + le32(kSession + 1) + le16(0) + ":m:", true, 23},
        {"GETBDPARAM:" + le32(kSession) + le16(0) + ":no separator", true, 23},
        {"GETBDPARAM:" + le32(kSession), true, 23},
    };
    for (const Case &c : cases) {
        ByteCursor data(nullptr, 0);
        int rc = P8080_CheckReply(reinterpret_cast<const uint8_t *>(c.reply.data()), c.reply.size(),
                                  "GETBDPARAM", kSession, c.mapSlot, &data);
        EXPECT_EQ(rc, c.code) << c.reply;
        if (rc == 0) {
            EXPECT_EQ(data.rest(), "DATA");
        }
    }
}

TEST(P8080SysInfo, ParsesRackFormAndRefusesTruncation)
{
    std::string d = rackSysInfo();
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size(), ByteOrder::Little);
    CrateSystemInfo *info = nullptr;
    ASSERT_EQ(P8080_ParseSystemInfo(cur, &info), 0);
    std::unique_ptr<CrateSystemInfo> own(info);
    ASSERT_EQ(info->boards.size(), 2u);
    EXPECT_EQ(info->boards[0].slot, 3);
    EXPECT_EQ(info->boards[1].slot, 150);
    EXPECT_EQ(info->boards[0].channels.size(), 2u);
    EXPECT_STREQ(info->descriptors[1].onText, "On");
    EXPECT_EQ(info->descriptors[0].factor, 10);
    EXPECT_TRUE(info->descriptors[0].isSigned());
    EXPECT_EQ(info->descriptors[0].exponent, 3);
    // Slot bytes 5 and 2 give slot 55.
    std::string s = d;
    size_t at = s.find(std::string{3, 0} + std::string{0, 6});
    s[at] = 5;
    s[at + 1] = 2;
    ByteCursor c2(reinterpret_cast<const uint8_t *>(s.data()), s.size(), ByteOrder::Little);
    ASSERT_EQ(P8080_ParseSystemInfo(c2, &info), 0);
    EXPECT_EQ(info->boards[0].slot, 55);
    delete info;
    for (size_t cut : {size_t(1), size_t(10), d.size() / 2, d.size() - 1}) {
        ByteCursor c3(reinterpret_cast<const uint8_t *>(d.data()), cut, ByteOrder::Little);
        EXPECT_EQ(P8080_ParseSystemInfo(c3, &info), 9) << cut;
        EXPECT_EQ(info, nullptr);
    }
}

TEST(P8080Crypto, EncryptsForThePublicKeyWithinItsLimit)
{
    const std::string &pem = keys().publicPem;
    uint8_t *out = nullptr;
    size_t len = 0;
    ASSERT_TRUE(Crate_EncryptPassword(pem.c_str(), nullptr, 0, &out, &len));
    EXPECT_EQ(len, 256u);
    EXPECT_EQ(keys().decrypt(std::string(reinterpret_cast<char *>(out), len)), "");
    std::free(out);
    std::string pw(245, 'x');
    ASSERT_TRUE(Crate_EncryptPassword(pem.c_str(), reinterpret_cast<const uint8_t *>(pw.data()), pw.size(),
                                      &out, &len));
    std::string first(reinterpret_cast<char *>(out), len);
    std::free(out);
    EXPECT_EQ(keys().decrypt(first), pw);
    ASSERT_TRUE(Crate_EncryptPassword(pem.c_str(), reinterpret_cast<const uint8_t *>(pw.data()), pw.size(),
                                      &out, &len));
    EXPECT_NE(std::string(reinterpret_cast<char *>(out), len), first); // random padding
    std::free(out);
    pw.push_back('x');
    EXPECT_FALSE(Crate_EncryptPassword(pem.c_str(), reinterpret_cast<const uint8_t *>(pw.data()), pw.size(),
                                       &out, &len));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(Crate_EncryptPassword("not a key", reinterpret_cast<const uint8_t *>("a"), 1, &out, &len));
    EXPECT_EQ(std::strlen(P8080_PublicKey()), 451u);
    EXPECT_TRUE(
        Crate_EncryptPassword(P8080_PublicKey(), reinterpret_cast<const uint8_t *>("a"), 1, &out, &len));
    std::free(out);
}

// Event batches decoded on a context prepared by hand.
class P8080Batches : public ::testing::Test {
protected:
    static constexpr int kH = 31;
    void SetUp() override
    {
        CrateContext &ctx = P8080_Contexts()[kH];
        ctx.inUse = 1;
        std::string d = rackSysInfo();
        ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size(), ByteOrder::Little);
        CrateSystemInfo *info = nullptr;
        ASSERT_EQ(P8080_ParseSystemInfo(cur, &info), 0);
        Crate_SetSystemInfo(ctx, info);
        P8080_ResetSubscriptionStore(kH);
        BackendRef b{kH, nullptr, 5};
        ASSERT_EQ(P8080_SizeSubscriptionStore(b, 3, 2), 0);
        ASSERT_TRUE(P8080_PrepareChannelStore(kH, 3, 2, 1, 3));
    }
    void TearDown() override
    {
        P8080_ResetSubscriptionStore(kH);
        Crate_ReleaseContext(P8080_Contexts(), kH);
    }
    static uint32_t id(unsigned board, unsigned ch, unsigned slot) { return board << 24 | ch << 8 | slot; }
    int decode(const std::string &p, EventRecord **ev, int *n, bool *ka)
    {
        return P8080_DecodeEventBatch(kH, reinterpret_cast<const uint8_t *>(p.data()), p.size(), ev, n, ka);
    }
    static std::string batch(uint32_t n, const std::string &items) { return le32(n) + ":" + items; }
};

TEST_F(P8080Batches, EmptyBatchAndPassedOverItems)
{
    EventRecord *ev = nullptr;
    int n = -1;
    bool ka = true;
    ASSERT_EQ(decode(batch(0, ""), &ev, &n, &ka), 0);
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(ka);
    KORUHV_FreeEventData(&ev);
    // An unsubscribed board item: passed over, a keep-alive record instead.
    ASSERT_EQ(decode(batch(1, le32(id(3, 0xFFFF, 4)) + le32(9)), &ev, &n, &ka), 0);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(ev[0].type, 2);
    EXPECT_STREQ(ev[0].name, "KeepAlive");
    KORUHV_FreeEventData(&ev);
}

TEST_F(P8080Batches, RackMessagesAndNameItems)
{
    EventRecord *ev = nullptr;
    int n = 0;
    bool ka = false;
    std::string items =
        le32(id(151, 0, 0)) + le32(5) + le32(id(151, 0, 2)) + le32(1) + le32(id(3, 1, 0xFF)) + "ABC#";
    ASSERT_EQ(decode(batch(3, items), &ev, &n, &ka), 0);
    ASSERT_EQ(n, 3);
    EXPECT_TRUE(ka);
    EXPECT_STREQ(ev[0].name, "KeepAlive");
    EXPECT_EQ(ev[0].value.IntValue, 5);
    EXPECT_STREQ(ev[1].name, "Tr-Mode");
    EXPECT_EQ(ev[1].type, 3);
    EXPECT_STREQ(ev[2].name, "Name");
    EXPECT_STREQ(ev[2].value.StringValue, "ABC");
    EXPECT_EQ(ev[2].channel, 1);
    KORUHV_FreeEventData(&ev);
}

// Rack messages are states: a batch of a million keep-alives and
// transparent-mode messages makes one record of each, with the last word,
// and allocates no more.
TEST_F(P8080Batches, RepeatedRackMessagesMakeOneRecordEach)
{
    constexpr uint32_t kItems = 1000000;
    std::string items;
    items.reserve(kItems * 8);
    for (uint32_t i = 0; i < kItems; ++i)
        items += le32(id(151, 0, i % 2 ? 2 : 0)) + le32(i);
    EventRecord *ev = nullptr;
    int n = 0;
    bool ka = false;
    EventRecordSink_ResetPeakForTest();
    ASSERT_EQ(decode(batch(kItems, items), &ev, &n, &ka), 0);
    EXPECT_LE(EventRecordSink_PeakBytesForTest(), 2 * sizeof(EventRecord));
    ASSERT_EQ(n, 2);
    EXPECT_TRUE(ka);
    EXPECT_STREQ(ev[0].name, "KeepAlive");
    EXPECT_EQ(ev[0].value.IntValue, int(kItems - 2));
    EXPECT_STREQ(ev[1].name, "Tr-Mode");
    EXPECT_EQ(ev[1].value.IntValue, int(kItems - 1));
    KORUHV_FreeEventData(&ev);
}

TEST_F(P8080Batches, StoredItemsScaledAndStoreSlotsReused)
{
    const uint32_t vset = id(3, 1, 0), temp = id(150, 0, 2), label = id(150, 0, 3);
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, vset, "S.Board03.CHAN001.VSet"), 1);
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, temp, "S.Temp"), 1);
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, label, "S.Label"), 1);
    EXPECT_EQ(P8080_StoreSubscription(kH, 5, id(3, 0, 0), "S.Board03.CHAN000.VSet"), 0); // no slot array
    EXPECT_EQ(P8080_StoreSubscription(kH, 5, id(150, 0, 30), "S.Far"), 0);
    EventRecord *ev = nullptr;
    int n = 0;
    bool ka = false;
    std::string items = le32(vset) + le32(uint32_t(-13)) + le32(temp) + le32(253) + le32(label) + "rack#";
    ASSERT_EQ(decode(batch(3, items), &ev, &n, &ka), 0);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(ev[0].system, 5);
    EXPECT_FLOAT_EQ(ev[0].value.FloatValue, -1.3f);
    EXPECT_EQ(ev[1].value.IntValue, 25);
    EXPECT_EQ(ev[1].board, -1);
    EXPECT_STREQ(ev[2].value.StringValue, "rack");
    KORUHV_FreeEventData(&ev);
    uint32_t removed = 0;
    EXPECT_EQ(P8080_RemoveSubscription(kH, "S.Board03.CHAN001.VSet", &removed), 0);
    EXPECT_EQ(removed, vset);
    EXPECT_EQ(P8080_RemoveSubscription(kH, "S.Board03.CHAN001.VSet", &removed), -1);
    ASSERT_EQ(decode(batch(1, le32(vset) + le32(1)), &ev, &n, &ka), 0);
    EXPECT_STREQ(ev[0].name, "KeepAlive"); // removed: passed over
    KORUHV_FreeEventData(&ev);
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, vset, "S.Board03.CHAN001.VSet"), 1); // the freed slot again
    ASSERT_EQ(decode(batch(1, le32(vset) + le32(20)), &ev, &n, &ka), 0);
    EXPECT_STREQ(ev[0].name, "VSet");
    KORUHV_FreeEventData(&ev);
}

TEST_F(P8080Batches, ShortAndUnknownItemsStopTheWalk)
{
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, id(150, 0, 3), "S.Label"), 1);
    EventRecord *ev = nullptr;
    int n = 0;
    bool ka = false;
    // A count far above the items, a text without '#', a board beyond 151.
    ASSERT_EQ(decode(batch(1000000, le32(id(151, 0, 1)) + le32(4)), &ev, &n, &ka), 0);
    EXPECT_EQ(n, 1);
    EXPECT_STREQ(ev[0].name, "LiveInsertion");
    KORUHV_FreeEventData(&ev);
    ASSERT_EQ(decode(batch(2, le32(id(151, 0, 1)) + le32(4) + le32(id(150, 0, 3)) + "no end"), &ev, &n, &ka),
              0);
    EXPECT_EQ(n, 1);
    KORUHV_FreeEventData(&ev);
    ASSERT_EQ(decode(batch(2, le32(id(200, 0, 1)) + le32(4) + le32(id(151, 0, 1)) + le32(4)), &ev, &n, &ka),
              0);
    EXPECT_STREQ(ev[0].name, "KeepAlive");
    KORUHV_FreeEventData(&ev);
    // A stored system item whose parameter the description lacks: 20; a
    // keep-alive before it still wants its answer.
    ASSERT_EQ(P8080_StoreSubscription(kH, 5, id(150, 0, 4), "S.Gone"), 1);
    EXPECT_EQ(decode(batch(2, le32(id(151, 0, 0)) + le32(1) + le32(id(150, 0, 4)) + le32(1)), &ev, &n, &ka),
              20);
    EXPECT_EQ(ev, nullptr);
    EXPECT_TRUE(ka);
    EXPECT_EQ(decode("ab", &ev, &n, &ka), 3);
}

TEST(P8080Login, LinkAndRefusals)
{
    int h = -1;
    EXPECT_EQ(P8080_InitSystem("USB", "127.0.0.1", "u", "p", &h), KORUHV_ERR_BAD_LINK);
    EXPECT_EQ(h, -1);
    for (int i = 0; i < kCrateContexts; ++i)
        EXPECT_EQ(P8080_Contexts()[i].inUse, 0);
    Rack rack("127.0.0.51");
    EXPECT_EQ(open("127.0.0.51", "wrong"), -KORUHV_ERR_LOGIN_REFUSED);
    EXPECT_EQ(rack.seenPassword, "wrong"); // it travelled encrypted and arrived whole
    rack.loginStatus = -13;
    EXPECT_EQ(open("127.0.0.51"), -KORUHV_ERR_OPEN_FAILED);
    rack.loginStatus = 77;
    EXPECT_EQ(open("127.0.0.51"), -23);
    for (int i = 0; i < kCrateContexts; ++i)
        EXPECT_EQ(P8080_Contexts()[i].inUse, 0);
    EXPECT_EQ(open("127.0.0.52"), -KORUHV_ERR_OPEN_FAILED); // nothing listens there
    const std::string login = rack.server.requests()[0];
    EXPECT_EQ(login.substr(0, 12), "LOGIN:admin:");
    EXPECT_EQ(login.size(), 12u + 256u);
}

TEST(P8080Api, OperationsAgainstScriptedRack)
{
    Rack rack("127.0.0.53");
    int h = open("127.0.0.53");
    ASSERT_GE(h, 0);
    auto reqs = rack.server.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(keywordOf(reqs[1]), "GETCRATEMAP");
    EXPECT_EQ(reqs[1].size(), 16u);
    EXPECT_EQ(reqs[2], "GETSYSINFO:" + le32(kSession) + ":" + le16(0));
    EXPECT_STREQ(KORUHV_GetError(h), "");

    int sock = 0;
    EXPECT_EQ(KORUHV_GetSysProp(h, "EventDataSocket", &sock), 0);
    EXPECT_EQ(sock, -1);

    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descs = nullptr;
    unsigned *serials = nullptr;
    unsigned char *mi = nullptr, *ma = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &counts, &models, &descs, &serials, &mi, &ma), 0);
    EXPECT_EQ(slots, 2);
    EXPECT_STREQ(models, "M1");
    EXPECT_STREQ(models + 3, "");
    EXPECT_EQ(serials[0], 77u);
    EXPECT_EQ(serials[1], 0u);
    EXPECT_EQ(ma[0], 2);
    EXPECT_EQ(mi[0], 5);
    EXPECT_EQ(counts[0], 2);
    for (void *p : {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
        KORUHV_Free(p);

    unsigned mode = 0, type = 0;
    EXPECT_EQ(KORUHV_GetSysPropInfo(h, "GlobalOn", &mode, &type), 0);
    EXPECT_EQ(mode, 1u);
    EXPECT_EQ(type, 6u);
    EXPECT_EQ(KORUHV_GetSysPropInfo(h, "Temp", &mode, &type), 0);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(mode, 0u);

    size_t before = rack.server.requests().size();
    unsigned short ch[] = {0, 1};
    char names[2][KORUHV_CHANNEL_NAME_SIZE];
    EXPECT_EQ(KORUHV_GetChName(h, 150, 1, ch, names), 7);
    EXPECT_EQ(rack.server.requests().size(), before);

    float v = 12.34f;
    ASSERT_EQ(KORUHV_SetChParam(h, 3, "VSet", 2, ch, &v), 0);
    EXPECT_FLOAT_EQ(v, 12.3f);
    std::string set = rack.server.lastRequest("SETCHPARAM");
    EXPECT_EQ(set.size(), 4u + 2 * 2 + 28);
    EXPECT_EQ(set.substr(24, 5), le32(123) + ":");
    float step = 12.0f;
    ASSERT_EQ(KORUHV_SetChParam(h, 3, "VStep", 1, ch, &step), 0);
    EXPECT_FLOAT_EQ(step, 10.0f);
    EXPECT_EQ(rack.server.lastRequest("SETCHPARAM").substr(25, 4), le32(2));
    EXPECT_EQ(KORUHV_SetChParam(h, 3, "Nope", 1, ch, &v), 20);
    // A board word has no raw form to write: refused, nothing sent.
    before = rack.server.requests().size();
    unsigned short bd[] = {3};
    unsigned word = 5;
    EXPECT_EQ(KORUHV_SetBdParam(h, 1, bd, "BdStat", &word), 18);
    EXPECT_EQ(rack.server.requests().size(), before);

    rack.data["GETCHPARAM"] = le32(3) + le32(uint32_t(-5));
    float out[2] = {};
    unsigned short one[] = {1};
    ASSERT_EQ(KORUHV_GetChParam(h, 3, "VStep", 1, one, out), 0);
    EXPECT_FLOAT_EQ(out[0], 15.0f);
    ASSERT_EQ(KORUHV_GetChParam(h, 3, "VSet", 2, ch, out), 0);
    EXPECT_FLOAT_EQ(out[1], -0.5f);
    rack.data["GETCHPARAM"] = le32(3); // one value for two channels
    EXPECT_EQ(KORUHV_GetChParam(h, 3, "VSet", 2, ch, out), 23);
    rack.status["GETCHPARAM"] = -3;
    EXPECT_EQ(KORUHV_GetChParam(h, 3, "VSet", 1, ch, out), 7);

    rack.data["GETBDPARAM"] = le32(253) + "x";
    int16_t temp = 0;
    ASSERT_EQ(KORUHV_GetSysProp(h, "Temp", &temp), 0);
    EXPECT_EQ(temp, 25);
    rack.data["GETBDPARAM"] = std::string("Rack A") + "!";
    char label[KORUHV_SYSPROP_TEXT_SIZE];
    ASSERT_EQ(KORUHV_GetSysProp(h, "Label", label), 0);
    EXPECT_STREQ(label, "Rack A");
    int16_t t = 31;
    ASSERT_EQ(KORUHV_SetSysProp(h, "Temp", &t), 0);
    EXPECT_EQ(rack.server.lastRequest("SETBDPARAM").substr(21, 5), le32(310) + ":");

    before = rack.server.requests().size();
    EXPECT_EQ(KORUHV_SetSysProp(h, "Kill", &t), 0);
    ASSERT_TRUE(rack.server.waitRequests(before + 1)) << "no KILL request";
    EXPECT_EQ(rack.server.requests().back().substr(0, 10), "KILL:" + le32(kSession) + ":");
    EXPECT_EQ(rack.server.requests().back().size(), 12u);

    char *list = nullptr;
    unsigned short nprops = 0;
    ASSERT_EQ(KORUHV_GetSysPropList(h, &nprops, &list), 0);
    EXPECT_EQ(nprops, 7);
    EXPECT_STREQ(list, "Temp");
    KORUHV_Free(list);
    char *cells = nullptr;
    int nparams = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 3, 1, &cells, &nparams), 0);
    EXPECT_EQ(nparams, 3);
    EXPECT_STREQ(cells + 20, "VStep");
    EXPECT_EQ(cells[30], '\0');
    KORUHV_Free(cells);
    EXPECT_EQ(KORUHV_GetChParamInfo(h, 3, 2, &cells, &nparams), 10);
    EXPECT_EQ(KORUHV_GetBdParamInfo(h, 150, &cells), 7);

    rack.status["LOGOUT"] = 1;
    EXPECT_EQ(KORUHV_DeinitSystem(h), 4101);
    EXPECT_EQ(P8080_Contexts()[0].inUse, 0);
}

TEST(P8080Events, SubscriptionOpensEventConnectionAndKeepAliveIsAnswered)
{
    Rack rack("127.0.0.54");
    testdev::FramedServer events("127.0.0.54", true, [](const std::string &) { return std::nullopt; });
    rack.eventPort = events.port();
    int h = open("127.0.0.54");
    ASSERT_GE(h, 0);
    char *cells = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(h, 3, 0, &cells, &n), 0);
    KORUHV_Free(cells);
    const uint32_t vset = 3u << 24 | 0u << 8 | 0, pw = 3u << 24 | 0u << 8 | 1;
    rack.data["ENABLEMSG"] = le32(vset) + le32(uint32_t(-1)) + le32(pw);
    char res[3] = {9, 9, 9};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, 4400, 3, 0, "VSet:Nope:Pw", 3, res), 0);
    EXPECT_EQ(uint8_t(res[0]), 0);
    EXPECT_EQ(uint8_t(res[1]), 255);
    EXPECT_EQ(uint8_t(res[2]), 0);
    std::string en = rack.server.lastRequest("ENABLEMSG");
    EXPECT_EQ(en.substr(0, 10), "ENABLEMSG:");
    EXPECT_EQ(en.substr(14, 4), ":" + le16(3) + ":");
    // The item list keeps the crate protocol's big-endian encoding.
    EXPECT_EQ(en.substr(18, 9), std::string("\0\0:\0\x03:\0\0:", 9));
    ASSERT_TRUE(events.waitConnections(1)) << "no event connection";
    int sock = -1;
    ASSERT_EQ(KORUHV_GetSysProp(h, "EventDataSocket", &sock), 0);
    ASSERT_GE(sock, 0);

    size_t before = rack.server.requests().size();
    ASSERT_TRUE(events.push(le32(2) + ":" + le32(vset) + le32(40) + le32(151u << 24) + le32(0)));
    KORUHV_SYSTEMSTATUS_t st{};
    EventRecord *ev = nullptr;
    int count = 0;
    ASSERT_EQ(KORUHV_GetEventData(sock, &st, &ev, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(ev[0].name, "VSet");
    EXPECT_FLOAT_EQ(ev[0].value.FloatValue, 4.0f);
    EXPECT_EQ(ev[0].board, 3);
    EXPECT_EQ(ev[0].channel, 0);
    EXPECT_EQ(ev[0].system, h);
    EXPECT_STREQ(ev[1].name, "KeepAlive");
    KORUHV_FreeEventData(&ev);
    ASSERT_TRUE(rack.server.waitRequests(before + 1)) << "the keep-alive was not answered";
    EXPECT_EQ(keywordOf(rack.server.requests().back()), "KEEPALIVE");

    P8080_SetEventIdleForTest(200);
    EXPECT_EQ(KORUHV_GetEventData(sock, &st, &ev, &count), KORUHV_ERR_NO_EVENT_READER); // quiet: read again
    P8080_SetEventIdleForTest(0);

    before = rack.server.requests().size();
    char un[1];
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, 4400, 3, 0, "VSet", 1, un), 0);
    EXPECT_EQ(rack.server.requests().size(), before); // one item left: nothing sent
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(h, 4400, 3, 0, "Pw", 1, un), 0);
    EXPECT_EQ(rack.server.lastRequest("DISABLEMSG"), "DISABLEMSG:" + le32(kSession));
    ASSERT_EQ(KORUHV_GetSysProp(h, "EventDataSocket", &sock), 0);
    EXPECT_EQ(sock, -1);
    EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
}

TEST(P8080Login, AllContextsInUseGives25)
{
    Rack rack("127.0.0.55");
    std::vector<int> handles;
    for (int i = 0; i < kCrateContexts; ++i) {
        int h = -1;
        ASSERT_EQ(P8080_InitSystem("TCP/IP", "127.0.0.55", "admin", "secret", &h), 0);
        handles.push_back(h);
    }
    int h = -1;
    EXPECT_EQ(P8080_InitSystem("TCP/IP", "127.0.0.55", "admin", "secret", &h), KORUHV_ERR_TABLE_FULL);
    for (int x : handles)
        EXPECT_EQ(P8080_DeinitSystem(BackendRef{x, nullptr, 0}), 0);
    EXPECT_EQ(P8080_DeinitSystem(BackendRef{handles[0], nullptr, 0}), -1); // no second logout
}

TEST(P8080Login, LogoutOnALostConnectionStillFreesTheContext)
{
    Rack rack("127.0.0.56");
    int h = open("127.0.0.56");
    ASSERT_GE(h, 0);
    rack.server.closeAll();
    int rc = KORUHV_DeinitSystem(h);
    EXPECT_TRUE(rc == 2 || rc == 3) << rc;
    for (int i = 0; i < kCrateContexts; ++i)
        EXPECT_EQ(P8080_Contexts()[i].inUse, 0);
    EXPECT_EQ(P8080_Contexts()[0].socket, -1);
}
