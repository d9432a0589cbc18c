// Subscription store and event batches on crafted bytes (no crate): the
// batch decoder, the socket reader over a socket pair, and the store.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crate/crate_protocol.h"
#include "crate/event_sink.h"
#include "crate/hx4400_backend.h"
#include "crate_test_util.h"

using namespace koruhv;
using namespace cratetest;

namespace {

constexpr int kSys = 7;

uint32_t chId(unsigned board, unsigned ch, unsigned slot)
{
    return board << 24 | ch << 8 | slot;
}
uint32_t bdId(unsigned board, unsigned slot)
{
    return board << 24 | 0xFFFFu << 8 | slot;
}

std::string item(uint32_t id, uint16_t kind, const std::string &value)
{
    return be32(id) + be16(kind) + be16(uint16_t(value.size())) + value;
}

std::string header(uint32_t n, size_t bodyLen, const std::string &status = std::string(17, '\x01'))
{
    std::string h = "KORUHV" + std::string(2, '\0') + std::string(12, '\0') + be32(n) + status;
    return h + be32(uint32_t(45 + bodyLen));
}

class EventStore : public ::testing::Test {
protected:
    // Two contexts with the same description; the store of each is its own.
    void prepare(int h)
    {
        CrateContext &ctx = HX4400_Contexts()[h];
        ctx.inUse = 1;
        std::string d = sampleSysInfo();
        ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
        CrateSystemInfo *info = nullptr;
        ASSERT_EQ(Crate_ParseSystemInfo(cur, &info), 0);
        Crate_SetSystemInfo(ctx, info);
        HX4400_SubStore_Clear(h);
        ASSERT_EQ(HX4400_SizeSubscriptionStore(BackendRef{h, nullptr, kSys}, 3, 3), 0);
        for (uint16_t ch = 0; ch < 3; ++ch)
            ASSERT_EQ(HX4400_SubStore_PrepareChannel(h, 3, ch), 0);
    }
    void SetUp() override
    {
        prepare(kA);
        prepare(kB);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, 0xFF000001u, "S.HVFanStat"), 1);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, bdId(3, 0), "S.Board003.Temp"), 1);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, bdId(3, 1), "S.Board003.Ghost"), 1);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 1, 0), "S.Board03.CHAN001.V0Set"), 1);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 0, 1), "S.Board03.CHAN000.Pw"), 1);
        ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 2, 2), "S.Board03.CHAN002.Status"), 1);
    }
    void TearDown() override
    {
        for (int h : {kA, kB}) {
            HX4400_SubStore_Clear(h);
            Crate_FreeSystemInfo(HX4400_Contexts()[h]);
            HX4400_Contexts()[h].inUse = 0;
        }
    }
    int decode(int h, const std::string &hdr, const std::string &body, std::vector<EventRecord> *out,
               KORUHV_SYSTEMSTATUS_t *st = nullptr)
    {
        KORUHV_SYSTEMSTATUS_t local{};
        EventRecord *ev = nullptr;
        int n = 0;
        // Exact-size heap copy so the sanitizer sees reads past the body.
        uint8_t *b = static_cast<uint8_t *>(std::malloc(body.size() ? body.size() : 1));
        std::memcpy(b, body.data(), body.size());
        int rc = HX4400_DecodeEventBatch(h, kSys, reinterpret_cast<const uint8_t *>(hdr.data()), b,
                                         body.size(), st ? st : &local, &ev, &n);
        std::free(b);
        out->assign(ev, ev + (rc == 0 ? n : 0));
        std::free(ev);
        return rc;
    }
    static constexpr int kA = 30, kB = 31;
};

} // namespace

TEST_F(EventStore, DecodesEveryLevel)
{
    std::string body = item(chId(3, 1, 0), 0, be32(12345)) + item(chId(3, 0, 1), 0, be32(1)) +
                       item(bdId(3, 0), 0, be32(42)) + item(0xFF000001u, 1, "1:200") +
                       item(chId(3, 0, 255), 1, "Left") + item(0xFE000002u, 0, be16(1)) +
                       item(chId(3, 2, 2), 0, be32(0x81));
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kA, header(7, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_STREQ(r[0].name, "V0Set");
    EXPECT_EQ(r[0].board, 3);
    EXPECT_EQ(r[0].channel, 1);
    EXPECT_FLOAT_EQ(r[0].value.FloatValue, 123.45f); // channel 1 has its own descriptor (f100 d2)
    EXPECT_STREQ(r[1].name, "Pw");
    EXPECT_EQ(r[1].value.IntValue, 1);
    EXPECT_STREQ(r[2].name, "Temp");
    EXPECT_EQ(r[2].channel, -1);
    EXPECT_FLOAT_EQ(r[2].value.FloatValue, 42.0f);
    EXPECT_STREQ(r[3].name, "HVFanStat");
    EXPECT_EQ(r[3].board, -1);
    EXPECT_STREQ(r[3].value.StringValue, "1:200");
    EXPECT_STREQ(r[4].name, "Name");
    EXPECT_STREQ(r[4].value.StringValue, "Left");
    EXPECT_EQ(r[5].type, 3);
    EXPECT_STREQ(r[5].name, "Tr-Mode");
    EXPECT_EQ(r[6].value.UIntValue, 0x81u);
    for (const EventRecord &e : r)
        EXPECT_EQ(e.system, kSys);
}

// Each item's descriptor is found once per system description: a new
// description, or a slot taken again under another name, is looked up anew.
TEST_F(EventStore, DescriptorsFollowANewDescriptionAndANewName)
{
    const std::string body = item(chId(3, 1, 0), 0, be32(12345));
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FLOAT_EQ(r[0].value.FloatValue, 123.45f); // channel 1: its own V0Set (f100 d2)
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    EXPECT_FLOAT_EQ(r[0].value.FloatValue, 123.45f);

    // The crate now describes channel 1 with the common V0Set (f10 d1).
    std::string d = sampleSysInfo();
    const std::string own = be16(3) + ":" + be16(5) + be16(1) + be16(2);
    const size_t at = d.find(own);
    ASSERT_NE(at, std::string::npos);
    d.replace(at, own.size(), be16(3) + ":" + be16(0) + be16(1) + be16(2));
    ByteCursor cur(reinterpret_cast<const uint8_t *>(d.data()), d.size());
    CrateSystemInfo *info = nullptr;
    ASSERT_EQ(Crate_ParseSystemInfo(cur, &info), 0);
    Crate_SetSystemInfo(HX4400_Contexts()[kA], info);
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    EXPECT_FLOAT_EQ(r[0].value.FloatValue, 1234.5f);

    // The same slot under another name.
    ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 1, 0), "S.Board03.CHAN001.Pw"), 1);
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    EXPECT_STREQ(r[0].name, "Pw");
    EXPECT_EQ(r[0].value.UIntValue, 12345u);

    // Unsubscribed, the item is passed over; subscribed again, it is back.
    uint32_t id = 0;
    ASSERT_EQ(HX4400_SubStore_Remove(kA, "S.Board03.CHAN001.Pw", &id), 0);
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_STREQ(r[0].name, "KeepAlive");
    ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 1, 0), "S.Board03.CHAN001.V0Set"), 1);
    ASSERT_EQ(decode(kA, header(1, body.size()), body, &r), 0);
    EXPECT_STREQ(r[0].name, "V0Set");
    EXPECT_FLOAT_EQ(r[0].value.FloatValue, 1234.5f);
}

// The reader remembers what each place of the last batch made: a batch
// read that way gives, byte for byte, the records of a first look-up of
// every item in the store, whatever changed from the last batch (values,
// a text's length, the item at a place, every place, the count announced,
// the body's end).
TEST_F(EventStore, RememberedPlacesGiveTheRecordsOfAFreshLookUp)
{
    auto items = [](uint32_t v, const std::string &text, uint32_t second) {
        return item(chId(3, 1, 0), 0, be32(v)) + item(second, 0, be32(v & 1)) + item(0xFF000001u, 1, text) +
               item(0xFE000000u, 0, be16(uint16_t(v))) + item(chId(3, 2, 0), 0, be32(1)) +
               item(bdId(3, 0), 0, be32(v));
    };
    const std::string bodies[] = {
        items(12345, "ab", chId(3, 0, 1)),
        items(20000, "cd", chId(3, 0, 1)),
        items(20000, "cde", chId(3, 0, 1)),
        items(7, "cd", chId(3, 2, 2)),
        items(7, "cd", chId(3, 2, 2)).substr(0, 50),
        item(bdId(3, 0), 0, be32(1)) + items(8, "cd", chId(3, 0, 1)),
        items(9, "cd", chId(3, 0, 1)) + "tail",
        items(9, "cd", chId(3, 0, 1)) + item(chId(3, 1, 0), 0, be32(5)),
        items(9, "cd", chId(3, 0, 1)) + be32(chId(3, 1, 0)) + be16(0) + be16(100) + "cut!",
        items(9, "cd", chId(3, 0, 1)) + item(chId(3, 1, 0), 0, be32(5)),
    };
    auto same = [](const std::vector<EventRecord> &a, const std::vector<EventRecord> &b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(EventRecord)) == 0;
    };
    for (const uint32_t n : {8u, 3u})
        for (const std::string &b : bodies) {
            const std::string h = header(n, b.size());
            std::vector<EventRecord> after, twice, fresh, again;
            const int rc = decode(kA, h, b, &after);
            ASSERT_EQ(decode(kA, h, b, &twice), rc);
            // Any change to the store makes the next batch look every item up.
            ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, 0xFF000001u, "S.HVFanStat"), 1);
            ASSERT_EQ(decode(kA, h, b, &fresh), rc);
            ASSERT_EQ(decode(kA, h, b, &again), rc);
            for (const std::vector<EventRecord> *r : {&after, &twice, &again})
                EXPECT_TRUE(same(*r, fresh)) << b.size() << " bytes, " << n << " announced";
            EXPECT_GT(fresh.size(), 0u);
        }
}

TEST_F(EventStore, BatchTable)
{
    struct Case {
        const char *what;
        std::string body;
        uint32_t n;
        int rc;
        std::vector<std::string> names;
    };
    const std::string v0 = item(chId(3, 1, 0), 0, be32(5));
    const Case cases[] = {
        {"unknown items give one keep-alive",
         item(chId(3, 2, 0), 0, be32(1)) + item(bdId(9, 3), 0, be32(1)) + item(0x20000000u, 0, be32(1)),
         3,
         0,
         {"KeepAlive"}},
        {"crate messages",
         item(0xFE000000u, 0, be16(0)) + item(0xFE000001u, 0, be16(4)) + v0,
         3,
         0,
         {"KeepAlive", "LiveInsertion", "V0Set"}},
        {"unknown crate message slot is skipped", item(0xFE000009u, 0, be16(0)) + v0, 2, 0, {"V0Set"}},
        {"parameter the description lacks drops the batch", v0 + item(bdId(3, 1), 0, be32(1)), 2, 20, {}},
        {"item running past the body ends the walk",
         v0 + be32(chId(3, 1, 0)) + be16(0) + be16(400) + "xx",
         2,
         0,
         {"V0Set"}},
        {"more items than announced are skipped", v0 + v0 + v0, 2, 0, {"V0Set", "V0Set"}},
        {"short number is skipped", item(chId(3, 1, 0), 0, "ab") + v0, 2, 0, {"V0Set"}},
    };
    for (const Case &c : cases) {
        std::vector<EventRecord> r;
        EXPECT_EQ(decode(kA, header(c.n, c.body.size()), c.body, &r), c.rc) << c.what;
        std::vector<std::string> names;
        for (const EventRecord &e : r)
            names.emplace_back(e.name);
        EXPECT_EQ(names, c.names) << c.what;
    }
    EXPECT_STREQ(HX4400_Contexts()[kA].message, "System configuration is change");
}

TEST_F(EventStore, LongTextsAreCutAtEveryLevel)
{
    std::string text(2000, 'x');
    std::string body = item(0xFF000001u, 1, text) + item(bdId(3, 0), 1, text) + item(chId(3, 1, 0), 1, text);
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kA, header(3, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 3u);
    for (const EventRecord &e : r) {
        EXPECT_EQ(strnlen(e.value.StringValue, sizeof e.value.StringValue), 1023u);
    }
}

TEST_F(EventStore, StatusMapping)
{
    std::string status(17, '\x01');
    status[0] = 1, status[1] = 5, status[2] = 11, status[3] = 0, status[4] = char(-3), status[16] = 10;
    std::string body = item(chId(3, 1, 0), 0, be32(5));
    KORUHV_SYSTEMSTATUS_t st{};
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kA, header(1, body.size(), status), body, &r, &st), 0);
    EXPECT_EQ(st.Board[0], 0);
    EXPECT_EQ(st.Board[1], 1);
    EXPECT_EQ(st.Board[2], 2);
    EXPECT_EQ(st.Board[3], 3);
    EXPECT_EQ(st.Board[4], 3);
    EXPECT_EQ(st.System, 1);
}

TEST_F(EventStore, EachContextDecodesWithItsOwnStore)
{
    // Context B has the same system handle but another name at the same id:
    // a batch read for B never uses A's names.
    ASSERT_EQ(HX4400_SubStore_Add(kB, kSys, chId(3, 1, 0), "S.Board03.CHAN001.Pw"), 1);
    std::string body = item(chId(3, 1, 0), 0, be32(1));
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kB, header(1, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_STREQ(r[0].name, "Pw");
    // A cleared store (what a logout leaves) names nothing any more.
    HX4400_SubStore_Clear(kA);
    body = item(chId(3, 1, 0), 0, be32(1)) + item(0xFF000001u, 1, "t") + item(bdId(3, 0), 0, be32(1));
    ASSERT_EQ(decode(kA, header(3, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_STREQ(r[0].name, "KeepAlive");
}

TEST_F(EventStore, EveryTruncatedBodyIsSafe)
{
    std::string body = item(chId(3, 1, 0), 0, be32(12345)) + item(0xFF000001u, 1, "abc") +
                       item(bdId(3, 0), 0, be32(42)) + item(0xFE000002u, 0, be16(1));
    for (size_t n = 0; n <= body.size(); ++n) {
        std::vector<EventRecord> r;
        EXPECT_EQ(decode(kA, header(4, n), body.substr(0, n), &r), 0) << n;
        EXPECT_GE(r.size(), 1u);
    }
}

TEST_F(EventStore, RemoveAndUnsubscribeEncoding)
{
    uint8_t *out = nullptr;
    size_t len = 0;
    ASSERT_EQ(
        HX4400_EncodeUnsubscribeList(kA, 2, "S.Board03.CHAN001.V0Set:S.Board03.CHAN002.VMon", &out, &len), 0);
    EXPECT_EQ(bytes(out, len), be32(chId(3, 1, 0)) + ":" + be32(0xFFFFFFFEu) + std::string(1, '\0'));
    std::free(out);
    uint32_t id = 0;
    EXPECT_EQ(HX4400_SubStore_Remove(kA, "S.Board03.CHAN001.V0Set", &id), -1); // gone already
    EXPECT_EQ(HX4400_SubStore_Remove(kA, "S.Board003.Temp", &id), 0);
    EXPECT_EQ(id, bdId(3, 0));
    EXPECT_EQ(HX4400_SubStore_Remove(kA, "S.HVFanStat", &id), 0);
    EXPECT_EQ(id, 0xFF000001u);
    EXPECT_EQ(HX4400_EncodeUnsubscribeList(kA, 3, "a:b", &out, &len), -1);
}

TEST_F(EventStore, AddRefusals)
{
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, 0xFF00001Eu, "S.X"), 0);                   // system slot 30
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, bdId(3, 30), "S.Board003.X"), 0);          // board slot 30
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 3, 0), "S.Board03.CHAN003.X"), 0); // channel 3 of 3
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 0, 3), "S.Board03.CHAN000.X"), 0); // 3 params per channel
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, chId(5, 0, 0), "S.Board05.CHAN000.X"), 0); // no arrays
    EXPECT_EQ(HX4400_SubStore_Add(kA, kSys, chId(3, 0, 255), "S.Board03.CHAN000.Name"), 1);
}

// ---- the socket reader ----

namespace {

struct Pair {
    int fd[2] = {-1, -1};
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
    ~Pair()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    void send(const std::string &s) { ASSERT_EQ(::write(fd[1], s.data(), s.size()), ssize_t(s.size())); }
};

} // namespace

TEST_F(EventStore, ReaderTable)
{
    HX4400_SetEventTimeoutForTest(300);
    const BackendRef ref{kA, nullptr, kSys};
    std::string v0 = item(chId(3, 1, 0), 0, be32(5));
    std::string good = header(1, v0.size()) + v0;
    struct Case {
        const char *what;
        std::string bytes;
        bool closeAfter;
        int rc;
    };
    std::string badMagic = good;
    badMagic[0] = 'X';
    std::string shortTotal = header(1, 0);
    shortTotal.replace(41, 4, be32(44));
    std::string hugeTotal = header(1, 0);
    hugeTotal.replace(41, 4, be32(0x01000001u));
    std::string zeroTotal = header(0, 0);
    zeroTotal.replace(41, 4, be32(0));
    const Case cases[] = {
        {"good batch", good, false, 0},
        {"bad magic", badMagic, false, 29},
        {"total under the header size", shortTotal, false, 29},
        {"total over the limit", hugeTotal, false, 29},
        {"silence", "", false, 23},
        {"peer closes inside the header", good.substr(0, 20), true, 28},
        {"peer closes inside the body", good.substr(0, 50), true, 28},
        {"peer falls silent inside the header", good.substr(0, 20), false, 28},
        {"peer falls silent inside the body", good.substr(0, 50), false, 28},
        {"empty batch with a zero total", zeroTotal, false, 0},
    };
    for (const Case &c : cases) {
        Pair p;
        p.send(c.bytes);
        if (c.closeAfter) {
            ::close(p.fd[1]);
            p.fd[1] = -1;
        }
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = -1;
        EXPECT_EQ(HX4400_GetEventData(ref, p.fd[0], &st, &ev, &n), c.rc) << c.what;
        if (c.rc) {
            EXPECT_EQ(ev, nullptr) << c.what;
        }
        std::free(ev);
    }
    HX4400_SetEventTimeoutForTest(0);
}

TEST_F(EventStore, EmptyBatchConsumesItsBody)
{
    const BackendRef ref{kA, nullptr, kSys};
    std::string v0 = item(chId(3, 1, 0), 0, be32(5));
    Pair p;
    // An empty batch that still carries (ignored) bytes, then a real one.
    p.send(header(0, 6) + "junk!!" + header(1, v0.size()) + v0);
    KORUHV_SYSTEMSTATUS_t st{};
    st.System = 42;
    EventRecord *ev = nullptr;
    int n = -1;
    ASSERT_EQ(HX4400_GetEventData(ref, p.fd[0], &st, &ev, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(st.System, 42); // status untouched by an empty batch
    ASSERT_EQ(HX4400_GetEventData(ref, p.fd[0], &st, &ev, &n), 0);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(ev[0].name, "V0Set");
    EXPECT_EQ(st.System, 0);
    std::free(ev);
}

// Every byte of every record is what a record cleared to zero and then
// filled gives: nothing left over from the heap, from a skipped item or
// from a longer value before it.
TEST_F(EventStore, RecordsAreExactlyTheirFieldsOverZeros)
{
    const std::string longText(1500, 'y');
    const std::string body = item(0xFF000001u, 1, longText) + item(chId(3, 2, 0), 0, be32(1)) +   // skipped
                             item(chId(3, 1, 0), 0, be32(12345)) + item(bdId(9, 3), 0, be32(1)) + // skipped
                             item(bdId(3, 0), 0, be32(42)) + item(chId(3, 0, 255), 1, "Left") +
                             item(0xFE000002u, 0, be16(1)) + item(0xFF000001u, 1, "1:200");
    struct Want {
        int board, channel;
        const char *name;
        std::string value; // the value's leading bytes
    };
    auto f = [](float v) { return std::string(reinterpret_cast<const char *>(&v), 4); };
    auto i = [](int32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); };
    const Want want[] = {
        {-1, -1, "HVFanStat", std::string(1023, 'y')},
        {3, 1, "V0Set", f(123.45f)},
        {3, -1, "Temp", f(42.0f)},
        {3, 0, "Name", "Left"},
        {-1, -1, "Tr-Mode", i(1)},
        {-1, -1, "HVFanStat", "1:200"},
    };
    // A slot taken again under a shorter name keeps nothing of the longer.
    ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, bdId(3, 0), "S.Board003.TemperatureX"), 1);
    ASSERT_EQ(HX4400_SubStore_Add(kA, kSys, bdId(3, 0), "S.Board003.Temp"), 1);
    // Leaves the heap full of non-zero bytes where the records may go.
    for (int k = 0; k < 4; ++k) {
        void *dirty = std::malloc(8 * sizeof(EventRecord));
        std::memset(dirty, 0xA5, 8 * sizeof(EventRecord));
        std::free(dirty);
    }
    std::vector<EventRecord> r;
    ASSERT_EQ(decode(kA, header(8, body.size()), body, &r), 0);
    ASSERT_EQ(r.size(), std::size(want));
    for (size_t k = 0; k < r.size(); ++k) {
        EventRecord e;
        std::memset(&e, 0, sizeof e);
        e.type = r[k].type;
        e.system = kSys;
        e.board = want[k].board;
        e.channel = want[k].channel;
        std::memcpy(e.name, want[k].name, std::strlen(want[k].name));
        std::memcpy(e.value.StringValue, want[k].value.data(), want[k].value.size());
        EXPECT_EQ(std::memcmp(&e, &r[k], sizeof e), 0) << k << " " << want[k].name;
    }
}

// ---- what one batch can cost ----

namespace {

// A connected TCP pair over loopback: fd[0] the reader's end.
struct LoopbackPair {
    int fd[2] = {-1, -1};
    LoopbackPair()
    {
        const int lis = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.2");
        socklen_t l = sizeof a;
        EXPECT_EQ(::bind(lis, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(lis, 1), 0);
        ::getsockname(lis, reinterpret_cast<sockaddr *>(&a), &l);
        fd[1] = ::socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(::connect(fd[1], reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        fd[0] = ::accept(lis, nullptr, nullptr);
        ::close(lis);
    }
    ~LoopbackPair()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
};

} // namespace

// A batch of the largest size the reader takes, all of one kind of item:
// keep-alives make one record (the last one's word), items the store knows
// make one each up to the stated cap, past which the batch is refused.
TEST_F(EventStore, OneBatchCostsABoundedNumberOfRecords)
{
    const BackendRef ref{kA, nullptr, kSys};
    struct Case {
        const char *what;
        std::string item;
        int rc;
        size_t records;
        const char *name; // of the last record
        size_t peakRecords;
    };
    const Case cases[] = {
        {"keep-alives", item(0xFE000000u, 0, be16(7)), 0, 1, "KeepAlive", 1},
        {"known items past the cap", item(chId(3, 1, 0), 0, be32(5)), 9, 0, nullptr, kMaxEventRecords},
    };
    for (const Case &c : cases) {
        const size_t items = (kCrateMaxFrame - 45) / c.item.size();
        std::string body;
        body.reserve(items * c.item.size());
        for (size_t i = 0; i < items; ++i)
            body += c.item;
        const std::string batch = header(uint32_t(items), body.size()) + body;
        LoopbackPair p;
        std::thread writer([&] {
            size_t off = 0;
            while (off < batch.size()) {
                const ssize_t k = ::send(p.fd[1], batch.data() + off, batch.size() - off, MSG_NOSIGNAL);
                if (k <= 0)
                    return;
                off += size_t(k);
            }
        });
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = 0;
        EventRecordSink_ResetPeakForTest();
        const int rc = HX4400_GetEventData(ref, p.fd[0], &st, &ev, &n);
        writer.join();
        EXPECT_EQ(rc, c.rc) << c.what;
        // The record array was sized once, for what the items can make.
        EXPECT_LE(EventRecordSink_PeakBytesForTest(), c.peakRecords * sizeof(EventRecord)) << c.what;
        if (rc == 0) {
            EXPECT_EQ(size_t(n), c.records) << c.what;
            EXPECT_LE(size_t(n) * sizeof(EventRecord), 16 * batch.size()) << c.what;
            ASSERT_GT(n, 0) << c.what;
            EXPECT_STREQ(ev[n - 1].name, c.name) << c.what;
            EXPECT_EQ(ev[n - 1].value.IntValue, 7) << c.what;
        } else {
            EXPECT_EQ(ev, nullptr) << c.what;
            EXPECT_STREQ(HX4400_Contexts()[kA].message, "Event batch too large") << c.what;
        }
        std::free(ev);
    }
}
