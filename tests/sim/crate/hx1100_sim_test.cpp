// The first-generation crate simulator over raw sockets with hand-written
// requests: if these fail, the simulator (not a client) is at fault.
#include <gtest/gtest.h>

#include <thread>

#include "crate/hx1100_sim.h"
#include "sim_wire.h"

using namespace korusim;
using namespace simwire;
using namespace std::chrono_literals;

namespace {

CrateSimOptions quiet()
{
    CrateSimOptions o = hx1100Options();
    o.ramp = false;
    o.keepAlivePeriod = 0ms;
    o.tickPeriod = 50ms;
    return o;
}

const std::string kSid = be32(0x3A00003A);

std::string login(Client &c)
{
    std::string r = c.ask("LOGIN:admin:admin");
    return r.size() >= 4 ? r.substr(r.size() - 4) : std::string();
}

// Data of a successful reply: after keyword ':' sid ':' status ':' message ':'.
std::string dataOf(const std::string &reply, const std::string &kw)
{
    size_t at = kw.size() + 1 + 4 + 1;
    if (reply.compare(0, kw.size(), kw) != 0 || reply.size() < at + 3 || rdBe16(reply, at) != 0)
        return "<error>";
    size_t msgEnd = reply.find(':', at + 3);
    return msgEnd == std::string::npos ? "<no data>" : reply.substr(msgEnd + 1);
}

int16_t statusOf(const std::string &reply, const std::string &kw, bool loginReply = false)
{
    size_t at = kw.size() + (loginReply ? 1 : 6);
    return reply.size() >= at + 2 ? int16_t(rdBe16(reply, at)) : int16_t(-999);
}

std::string item(uint16_t kind, int board, int ch, const std::string &name, bool last)
{
    std::string s = be16(kind) + ":";
    if (board >= 0)
        s += be16(uint16_t(board)) + ":";
    if (ch >= 0)
        s += be16(uint16_t(ch)) + ":";
    return s + name + (last ? std::string(1, '\0') : std::string(":"));
}

struct Item {
    uint8_t textFlag, marker;
    uint32_t id;
    std::string value;
};

// Parses a datagram; false when its layout is broken.
bool parse(const std::string &d, std::vector<Item> &items, bool &multi)
{
    if (d.size() < 6 || d.compare(0, 4, "KORU") != 0)
        return false;
    multi = !(d[4] == 1 && d[5] == 0);
    size_t p = multi ? 10 : 6;
    size_t count = 1;
    if (multi) {
        if (d.size() < 10 || rdBe16(d, 6) != d.size())
            return false;
        count = rdBe16(d, 8);
    }
    for (size_t i = 0; i < count; ++i) {
        if (p + 18 > d.size())
            return false;
        Item it{uint8_t(d[p]), uint8_t(d[p + 1]), rdBe32(d, p + 10), {}};
        uint32_t l = rdBe32(d, p + 14);
        if (p + 18 + l > d.size())
            return false;
        it.value = d.substr(p + 18, l);
        items.push_back(it);
        p += 18 + l;
    }
    return p == d.size();
}

} // namespace

TEST(Hx1100Sim, FirstGenerationCommandsAndReplies)
{
    Hx1100Sim sim(Hx1100Model::smallCrate(), "127.0.0.61", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Client c;
    ASSERT_TRUE(c.open(sim.address(), sim.port()));

    EXPECT_EQ(statusOf(c.ask("LOGINSYSTEM:admin:admin"), "LOGINSYSTEM", true), kStatusUnknownCommand);
    EXPECT_EQ(statusOf(c.ask("LOGIN:admin:wrong"), "LOGIN", true), kStatusLoginFailed);
    ASSERT_EQ(login(c), kSid);

    // Crate map: slot records only, no tail of 32-bit serial numbers.
    std::string map = dataOf(c.ask("GETCRATEMAP:" + kSid), "GETCRATEMAP");
    std::string expect = be16(4) + ":HB3004: 4 Ch Pos. 3KV 300uA :" + be16(11) + ":" + be16(0x0205) + ":" +
                         std::string(1, '\0') + ":HB3003: 3 Ch Bipolar 3KV :" + be16(12) + ":" +
                         be16(0x0205) + ":" + std::string(1, '\0');
    EXPECT_EQ(map, expect);

    // The session log: four fields a line, the last ended by a line feed.
    std::string log = dataOf(c.ask("GETACTLOG:" + kSid), "GETACTLOG");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(rdBe16(log, 0), 1);
    EXPECT_EQ(log.substr(2, 17), ":admin:127.0.0.1:");
    EXPECT_EQ(log.back(), '\n');

    EXPECT_EQ(dataOf(c.ask("GETSYSNAME:" + kSid), "GETSYSNAME"), "HX1100,crate-one");
    EXPECT_EQ(dataOf(c.ask("GETRS232PARAM:" + kSid), "GETRS232PARAM"), "9600_8_1_0");
    EXPECT_EQ(statusOf(c.ask("SETKNETCRNUM:" + kSid + ":" + be16(9)), "SETKNETCRNUM"), 0);
    EXPECT_EQ(dataOf(c.ask("GETKNETCRNUM:" + kSid), "GETKNETCRNUM"), be16(9));
    EXPECT_EQ(statusOf(c.ask("RS232CMDOFF:" + kSid), "RS232CMDOFF"), 0);

    // The current generation's keywords are unknown here.
    EXPECT_EQ(statusOf(c.ask("NEWSUBSCRIBE:" + kSid + ":" + be16(1) + ":" + be16(1) + ":" +
                             item(2, -1, -1, "IPAddr", true)),
                       "NEWSUBSCRIBE"),
              kStatusUnknownCommand);
    EXPECT_EQ(statusOf(c.ask("GETHVFANSTAT:" + kSid), "GETHVFANSTAT"), kStatusUnknownCommand);
    sim.stop();
}

TEST(Hx1100Sim, SubscriptionsGoOutAsDatagramsFromTheCrate)
{
    Hx1100Sim sim(Hx1100Model::smallCrate(), "127.0.0.62", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Client c;
    ASSERT_TRUE(c.open(sim.address(), sim.port()));
    ASSERT_EQ(login(c), kSid);
    UdpReceiver udp;

    std::string list = item(0, 0, 1, "V0Set", false) + item(2, -1, -1, "KnetCrNum", false) +
                       item(0, 2, 0, "Name", false) + item(3, -1, -1, "KeepAlive", false) +
                       item(0, 1, 0, "V0Set", true);
    std::string r = c.ask("SUBSCRIBE:" + kSid + ":" + be16(udp.port) + ":" + be16(5) + ":" + list);
    std::string ids = dataOf(r, "SUBSCRIBE");
    ASSERT_EQ(ids.size(), 3u + 5 * 4) << sim.protocolErrors().size();
    EXPECT_EQ(rdBe16(ids, 0), 5);
    EXPECT_EQ(rdBe32(ids, 3), (0u << 24) | (1u << 8) | 0u);    // V0Set is the first channel parameter
    EXPECT_EQ(rdBe32(ids, 11), (2u << 24) | (0u << 8) | 255u); // a channel's name
    EXPECT_EQ(rdBe32(ids, 15), (254u << 24) | (0xFFFFu << 8));
    EXPECT_EQ(rdBe32(ids, 19), 0xFFFFFFFFu); // slot 1 is empty
    uint32_t knet = rdBe32(ids, 7);

    // The current values come in one multi-item datagram from the crate's address.
    std::string from;
    auto d = udp.next(3000, &from);
    ASSERT_TRUE(d);
    EXPECT_EQ(from, sim.address());
    std::vector<Item> items;
    bool multi = false;
    ASSERT_TRUE(parse(*d, items, multi));
    EXPECT_TRUE(multi);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].marker, 1);
    EXPECT_EQ(items[0].value, be32(0));
    EXPECT_EQ(items[1].id, knet);
    EXPECT_EQ(items[1].value, be32(3)); // a 16-bit property travels as a 32-bit word
    EXPECT_EQ(items[2].textFlag, 1);
    EXPECT_EQ(items[2].value, "CH00");

    // A single item: form 1, flag 0, 28 bytes.
    ASSERT_TRUE(sim.setChannelRaw(0, 1, "V0Set", 1500));
    d = udp.next(3000);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size(), 28u);
    items.clear();
    ASSERT_TRUE(parse(*d, items, multi));
    EXPECT_FALSE(multi);
    EXPECT_EQ(items.at(0).value, be32(1500));

    sim.sendKeepAlive();
    d = udp.next(3000);
    ASSERT_TRUE(d);
    items.clear();
    ASSERT_TRUE(parse(*d, items, multi));
    EXPECT_EQ(items.at(0).id, (254u << 24) | (0xFFFFu << 8));
    EXPECT_EQ(items.at(0).value.size(), 4u);

    // Faults reach the datagram's header and item marker.
    sim.addEventFault({EventFault::WrongTotalLength, 1, 0});
    sim.addEventFault({EventFault::BadItemMarker, 1, 0});
    sim.sendEventBatch({EventItem::number(knet, 4), EventItem::number(knet, 5)});
    d = udp.next(3000);
    ASSERT_TRUE(d);
    EXPECT_EQ(rdBe16(*d, 6), d->size() + 1);
    ASSERT_TRUE(sim.setChannelRaw(0, 1, "V0Set", 1700));
    d = udp.next(3000);
    ASSERT_TRUE(d);
    EXPECT_EQ(uint8_t((*d)[7]), 2);

    // UNSUBSCRIBE ends the item's events.
    r = c.ask("UNSUBSCRIBE:" + kSid + ":" + be16(udp.port) + ":" + be16(1) + ":" +
              be32((0u << 24) | (1u << 8)) + std::string(1, '\0'));
    EXPECT_EQ(statusOf(r, "UNSUBSCRIBE"), 0);
    ASSERT_TRUE(sim.setChannelRaw(0, 1, "V0Set", 1800));
    EXPECT_FALSE(udp.next(300));
    EXPECT_TRUE(sim.protocolErrors().empty());
    sim.stop();
}

TEST(Hx1100Sim, KeepAliveOnlyToItsSubscribers)
{
    CrateSimOptions o = quiet();
    o.keepAlivePeriod = 100ms;
    Hx1100Sim sim(Hx1100Model::smallCrate(), "127.0.0.63", 0, o);
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Client c;
    ASSERT_TRUE(c.open(sim.address(), sim.port()));
    ASSERT_EQ(login(c), kSid);
    UdpReceiver udp;
    std::string r =
        c.ask("SUBSCRIBE:" + kSid + ":" + be16(udp.port) + ":" + be16(1) + ":" + item(0, 0, 0, "VMon", true));
    ASSERT_EQ(statusOf(r, "SUBSCRIBE"), 0);
    ASSERT_TRUE(udp.next(3000)); // the current value
    sim.sendKeepAlive();
    sim.insertBoard(1, hvBoard("HB3002", 2, 77));
    EXPECT_FALSE(udp.next(500)); // neither was subscribed: an unknown id would spoil the client's read
    sim.stop();
}

TEST(Hx1100Sim, ShortValuesFillTheValueField)
{
    Hx1100Sim sim(Hx1100Model::smallCrate(), "127.0.0.69", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Client c;
    ASSERT_TRUE(c.open(sim.address(), sim.port()));
    ASSERT_EQ(login(c), kSid);
    UdpReceiver udp;
    std::string r = c.ask("SUBSCRIBE:" + kSid + ":" + be16(udp.port) + ":" + be16(1) + ":" +
                          item(2, -1, -1, "GenSignCfg", true));
    ASSERT_EQ(statusOf(r, "SUBSCRIBE"), 0);
    auto d = udp.next(3000);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size(), 28u); // a client drops datagrams of 27 bytes or fewer
    ASSERT_EQ(statusOf(c.ask("SETGENCFG:" + kSid + ":" + std::string{0, ':', 5}), "SETGENCFG"), 0);
    d = udp.next(3000);
    ASSERT_TRUE(d);
    std::vector<Item> items;
    bool multi = true;
    ASSERT_TRUE(parse(*d, items, multi));
    EXPECT_EQ(items.at(0).value, std::string({5, 0, 0, 0}));
    sim.stop();
}
