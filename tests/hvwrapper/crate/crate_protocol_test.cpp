// Crate protocol pieces on crafted bytes: tables, request headers, reply
// parsing, item encoding, scaling and the system description parser.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/crate_transport.h"
#include "crate_test_util.h"

using namespace koruhv;
using namespace cratetest;

namespace {

size_t rows(const CommandRow *t)
{
    size_t n = 0;
    while (t[n].keyword[0])
        ++n;
    return n;
}

std::string headerOf(const char *keyword, uint32_t session)
{
    CrateContext ctx;
    ctx.command = Crate_FindCommand(keyword);
    ctx.sessionId = session;
    RequestBuffer buf;
    EXPECT_TRUE(Crate_BuildHeader(ctx, buf));
    return bytes(buf.data(), buf.size());
}

} // namespace

TEST(CrateTables, RowCountsAndLookups)
{
    EXPECT_EQ(rows(Crate_CommandTable(CRATE_GEN_FIRST)), 57u);
    EXPECT_EQ(rows(Crate_CommandTable(CRATE_GEN_CURRENT)), 73u);
    ASSERT_NE(Crate_FindCommand("NEWSUBSCRIBE"), nullptr);
    EXPECT_EQ(Crate_FindCommand("NEWSUBSCRIBE")->replyKind, REPLY_IDS);
    EXPECT_EQ(Crate_FindCommand("RS232CMDOFF")->argCount, 0); // first generation only
    EXPECT_EQ(Crate_FindCommand("NOSUCH"), nullptr);
    EXPECT_EQ(Crate_FindProperty(CRATE_GEN_CURRENT, "RS232CmdOff"), nullptr);
    EXPECT_EQ(Crate_FindProperty(CRATE_GEN_FIRST, "RS232CmdOff")->index, 6u);
    EXPECT_EQ(Crate_FindProperty(CRATE_GEN_CURRENT, "IPGw")->setKeyword, std::string("SETIPGTW"));
    EXPECT_EQ(Crate_FindProperty(CRATE_GEN_CURRENT, "Nothing"), nullptr);
    EXPECT_EQ(Crate_FindProperty(7, "Kill"), nullptr);
    EXPECT_EQ(Crate_ParamPropertyIndex("Decimal"), 9);
    EXPECT_EQ(Crate_ParamPropertyIndex("NULL"), -1);
}

TEST(CrateRequest, Headers)
{
    EXPECT_EQ(headerOf("LOGOUT", 258), std::string("LOGOUT:") + be32(258));
    EXPECT_EQ(headerOf("LOGOUT", 258).size(), 11u);
    EXPECT_EQ(headerOf("LOGINSYSTEM", 7), "LOGINSYSTEM:");
    EXPECT_EQ(headerOf("GETCHPARAM", 0x01020304), std::string("GETCHPARAM:") + be32(0x01020304) + ":");
    RequestBuffer b;
    b.put16(0x0102);
    b.put32(0x03040506);
    b.putBytes("ab", 2);
    EXPECT_EQ(bytes(b.data(), b.size()), be16(0x0102) + ":" + be32(0x03040506) + ":ab:");
    RequestBuffer le(ByteOrder::Little);
    le.raw16(0x0102);
    EXPECT_EQ(bytes(le.data(), le.size()), std::string("\x02\x01", 2));
}

TEST(CrateRequest, BufferRefusesGrowthPastTheFrameLimit)
{
    RequestBuffer b;
    std::string big(1 << 20, 'x');
    for (int i = 0; i < 15; ++i)
        ASSERT_TRUE(b.raw(big.data(), big.size()));
    EXPECT_FALSE(b.raw(big.data(), big.size() + 1));
    EXPECT_EQ(b.size(), size_t(15) << 20);
}

TEST(CrateReply, ParseTable)
{
    struct Case {
        const char *keyword;
        std::string reply;
        int status;
        const char *message;
        uint32_t offset;
    };
    const std::string s = be32(9);
    const Case cases[] = {
        // message-only reply keeps the whole text, colons included
        {"SETCHPARAM", "SETCHPARAM:" + s + ":" + be16(0) + ":done:a:b", 0, "done:a:b", 0},
        // data reply: message up to ':' and data after it
        {"GETCHPARAM", "GETCHPARAM:" + s + ":" + be16(0) + ":ok:DATA", 0, "ok", 22},
        // non-zero status keeps the whole text, even for data commands
        {"GETCHPARAM", "GETCHPARAM:" + s + ":" + be16(7) + ":bad:slot", 7, "bad:slot", 0},
        // logins carry no session id
        {"LOGINSYSTEM", "LOGINSYSTEM:" + be16(0) + ":ok:" + s, 0, "ok", 18},
        {"LOGINSYSTEM", "LOGINSYSTEM:" + be16(0xFFFF) + ":refused", -1, "refused", 0},
    };
    for (const Case &c : cases) {
        CrateContext ctx;
        ctx.command = Crate_FindCommand(c.keyword);
        Crate_ParseReply(ctx, c.reply.size(), reinterpret_cast<const uint8_t *>(c.reply.data()));
        EXPECT_EQ(ctx.status, c.status) << c.reply;
        EXPECT_STREQ(ctx.message, c.message) << c.reply;
        if (c.offset) {
            EXPECT_EQ(ctx.dataOffset, c.offset) << c.reply;
        }
    }
}

TEST(CrateReply, NoEchoOrTooShortLeavesMessage)
{
    const std::string replies[] = {"GETSYSCOMQ:abcdefgh", "GETSYSCOMP", "GETSYSCOMP:", "GETSYSCOMP:12345"};
    for (const std::string &r : replies) {
        CrateContext ctx;
        std::strcpy(ctx.message, "before");
        ctx.command = Crate_FindCommand("GETSYSCOMP");
        Crate_ParseReply(ctx, r.size(), reinterpret_cast<const uint8_t *>(r.data()));
        EXPECT_EQ(ctx.status, -1) << r;
        EXPECT_STREQ(ctx.message, "before") << r;
    }
}

TEST(CrateReply, LongMessageIsCut)
{
    CrateContext ctx;
    ctx.command = Crate_FindCommand("LOGOUT");
    std::string r = "LOGOUT:" + be32(1) + ":" + be16(5) + ":" + std::string(600, 'm');
    Crate_ParseReply(ctx, r.size(), reinterpret_cast<const uint8_t *>(r.data()));
    EXPECT_EQ(std::strlen(ctx.message), 257u);
}

TEST(CrateItems, EncodeSubscribeList)
{
    struct Case {
        unsigned count;
        const char *items;
        int rc;
        std::string bytes; // with the final NUL
    };
    const Case cases[] = {
        {1, "S.Board03.CHAN005.V0Set", 0,
         be16(0) + ":" + be16(3) + ":" + be16(5) + ":V0Set" + std::string(1, '\0')},
        {1, "S.Board005.BdStatus", 0, be16(1) + ":" + be16(5) + ":BdStatus" + std::string(1, '\0')},
        {2, "S.HVFanStat:KeepAlive", 0,
         be16(2) + ":HVFanStat:" + be16(3) + ":KeepAlive" + std::string(1, '\0')},
        {2, "S.Board03.CHAN005.V0Set", -1, ""},
        {1, "a:b", -1, ""},
    };
    for (const Case &c : cases) {
        uint8_t *out = nullptr;
        size_t len = 0;
        EXPECT_EQ(Crate_EncodeSubscribeList(c.count, c.items, ByteOrder::Big, &out, &len), c.rc) << c.items;
        if (c.rc == 0) {
            EXPECT_EQ(bytes(out, len), c.bytes) << c.items;
        } else {
            EXPECT_EQ(out, nullptr);
        }
        std::free(out);
    }
    uint8_t *out = nullptr;
    size_t len = 0;
    ASSERT_EQ(Crate_EncodeSubscribeList(1, "S.Board03.CHAN005.V0Set", ByteOrder::Big, &out, &len), 0);
    EXPECT_EQ(len, 15u);
    std::free(out);
}

TEST(CrateScaling, ConversionTable)
{
    auto desc = [](bool isSigned, uint16_t factor, uint16_t decimals) {
        ParamDescriptor d;
        d.mode = isSigned ? PARAM_MODE_SIGNED : 0;
        d.factor = factor;
        d.decimals = decimals;
        return d;
    };
    struct Case {
        ParamDescriptor d;
        float value;
        uint32_t raw;
        float back;
    };
    const Case cases[] = {
        {desc(true, 10, 1), -1.26f, uint32_t(-13), -1.3f},
        {desc(true, 10, 1), -5.0f, uint32_t(-50), -5.0f},
        {desc(false, 10, 1), 12.34f, 123, 12.3f},
        {desc(false, 5, 0), 12.0f, 2, 10.0f},
        {desc(false, 0, 1), 7.0f, 7, 7.0f}, // factor 0 counts as 1
        {desc(false, 0, 0), 7.0f, 7, 7.0f},
        {desc(false, 10, 1), -3.0f, 0, 0.0f}, // unsigned: negative gives 0
        {desc(false, 10, 1), 1e12f, 0xFFFFFFFFu, 429496729.5f},
        {desc(true, 1, 0), 1e12f, 0x7FFFFFFFu, 2147483647.0f},
        {desc(true, 1, 0), -1e12f, 0x80000000u, -2147483648.0f},
        {desc(false, 1, 0), NAN, 0, 0.0f},
    };
    for (const Case &c : cases) {
        uint32_t raw = Crate_ValueToRaw(c.d, c.value);
        EXPECT_EQ(raw, c.raw) << c.value;
        EXPECT_FLOAT_EQ(Crate_RawToValue(c.d, raw), c.back) << c.value;
    }
    EXPECT_FLOAT_EQ(Crate_RawToValue(desc(false, 5, 0), 3), 15.0f);
}

TEST(CrateSysInfo, ParsesSample)
{
    std::string d = sampleSysInfo();
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
    CrateSystemInfo *info = nullptr;
    ASSERT_EQ(Crate_ParseSystemInfo(cur, &info), 0);
    ASSERT_EQ(info->descriptors.size(), 6u);
    EXPECT_STREQ(info->descriptors[1].onText, "On");
    const CrateBoardEntry *b = info->findBoard(3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(info->findBoard(2), nullptr);
    EXPECT_EQ(b->channels.size(), 3u);
    EXPECT_EQ(info->boardParam(*b, "Temp")->unit, 7);
    EXPECT_EQ(info->channelParam(*b, 1, "V0Set")->factor, 100);
    EXPECT_EQ(info->channelParam(*b, 0, "V0Set")->factor, 10);
    EXPECT_EQ(info->channelParam(*b, 3, "V0Set"), nullptr);
    float f = 0;
    EXPECT_EQ(Crate_DescriptorProperty(*info->channelParam(*b, 0, "V0Set"), 3, &f), 0);
    EXPECT_FLOAT_EQ(f, -1000.0f);
    char text[8] = "xxxxxxx";
    EXPECT_EQ(Crate_DescriptorProperty(*info->channelParam(*b, 0, "Pw"), 8, text), 0);
    EXPECT_STREQ(text, "Off");
    EXPECT_EQ(Crate_DescriptorProperty(*info->channelParam(*b, 0, "Pw"), 10, text),
              CRATE_ERR_PARAM_PROP_NOT_FOUND);
    delete info;
}

TEST(CrateSysInfo, EveryTruncationAndBadIndexIsAnError)
{
    std::string d = sampleSysInfo();
    for (size_t n = 0; n < d.size(); ++n) {
        // A heap copy of exactly n bytes lets the sanitizer see any read past it.
        uint8_t *p = static_cast<uint8_t *>(std::malloc(n ? n : 1));
        std::memcpy(p, d.data(), n);
        ByteCursor cur(p, n);
        CrateSystemInfo *info = nullptr;
        EXPECT_EQ(Crate_ParseSystemInfo(cur, &info), CRATE_ERR_RECEIVE) << n;
        EXPECT_EQ(info, nullptr);
        std::free(p);
    }
    std::string bad = d;
    bad[bad.size() - 3] = 9; // last index of the last channel points past the 6 descriptors
    ByteCursor cur(reinterpret_cast<const uint8_t *>(bad.data()), bad.size());
    CrateSystemInfo *info = nullptr;
    EXPECT_EQ(Crate_ParseSystemInfo(cur, &info), CRATE_ERR_RECEIVE);
    // A count far beyond the bytes is refused before anything is allocated.
    std::string huge = be16(0xFFFF) + ":";
    ByteCursor c2(reinterpret_cast<const uint8_t *>(huge.data()), huge.size());
    EXPECT_EQ(Crate_ParseSystemInfo(c2, &info), CRATE_ERR_RECEIVE);
}

TEST(CrateCursor, BoundsAreSticky)
{
    const uint8_t b[] = {1, 2, 3, ':', 5};
    ByteCursor c(b, sizeof b);
    EXPECT_EQ(c.u16(), 0x0102);
    std::string_view v;
    EXPECT_TRUE(c.until(':', &v));
    EXPECT_EQ(v, "\x03");
    EXPECT_EQ(c.u32(), 0u); // only one byte left
    EXPECT_FALSE(c.ok());
    EXPECT_EQ(c.u8(), 0); // stays failed
}

TEST(CrateContexts, FirstFree)
{
    static CrateContext table[kCrateContexts];
    EXPECT_EQ(Crate_FirstFreeContext(table), 0);
    for (CrateContext &c : table)
        c.inUse = 1;
    EXPECT_EQ(Crate_FirstFreeContext(table), kCrateContexts);
    table[12].inUse = 0;
    EXPECT_EQ(Crate_FirstFreeContext(table), 12);
}

TEST(CrateTransport, OpenRefusesOtherLinksAndBadAddressesWithoutNetwork)
{
    CrateContext ctx;
    EXPECT_EQ(Crate_OpenContext(ctx, "USB", "127.0.0.2"), CRATE_ERR_NOT_TCP);
    EXPECT_STREQ(ctx.message, "Communication on the RS232 device is not yet avalaible");
    EXPECT_EQ(ctx.socket, -1);
    EXPECT_EQ(Crate_OpenContext(ctx, "TCP/IP", "not-an-address"), CRATE_ERR_CONNECT);
    EXPECT_EQ(ctx.socket, -1);
}

TEST(CrateTransport, OpenTakesEveryNumbersAndDotsForm)
{
    // "127.2" is 127.0.0.2, as the classic address conversion reads it.
    int lis = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(lis, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr("127.0.0.2");
    ASSERT_EQ(::bind(lis, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(lis, 1), 0);
    socklen_t len = sizeof sa;
    ASSERT_EQ(::getsockname(lis, reinterpret_cast<sockaddr *>(&sa), &len), 0);
    CrateContext ctx;
    EXPECT_EQ(Crate_OpenContext(ctx, "TCP/IP", "127.2", ntohs(sa.sin_port)), CRATE_OK);
    EXPECT_STREQ(ctx.message, "ok");
    Crate_CloseContext(ctx);
    ::close(lis);
}

// An empty text (a view without data, as a name reply without ',' gives) is
// copied without touching its pointer; texts are cut to the room.
TEST(CrateText, CopyTextOfEmptyAndLongTexts)
{
    char dst[5];
    std::memset(dst, 'x', sizeof dst);
    Crate_CopyText(dst, sizeof dst, std::string_view());
    EXPECT_STREQ(dst, "");
    Crate_CopyText(dst, sizeof dst, "abcdefg");
    EXPECT_STREQ(dst, "abcd");
    Crate_CopyText(dst, 1, "abc");
    EXPECT_STREQ(dst, "");
}
