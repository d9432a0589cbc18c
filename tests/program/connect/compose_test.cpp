// The connection dialog's decisions as plain functions: the text and
// address checks, the OK rule of every combination, and the requests.
#include <gtest/gtest.h>

#include "ConnectionRequest.h"
#include "connect_test_support.h"

using namespace koruconnect;

TEST(ConnectCompose, NumberTextCheck)
{
    struct Case {
        const char *text;
        bool ok;
    } cases[] = {
        {"1A2B", true},     {"0x1a2b", true}, {"123", true},   {"0X00FF", true},
        {"deadbeef", true}, {"0x", false},    {"12G4", false}, {"", false},
        {" 12", false},     {"1 2", false},   {"x12", false},  {"-1", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(checkNumberText(c.text), c.ok) << c.text;
    // Digits of other scripts are not ASCII digits: the wrapper reads none.
    EXPECT_FALSE(checkNumberText(QString::fromUtf8("\u0661\u0662")));
    EXPECT_FALSE(checkNumberText(QString::fromUtf8("\uff11")));
}

TEST(ConnectCompose, AddressCheckIsPlainDecimal)
{
    struct Case {
        QStringList octets;
        const char *expect; // nullptr: refused
    } cases[] = {
        {{"10", "0", "0", "1"}, "10.0.0.1"},
        {{"192", "168", "0", "10"}, "192.168.0.10"},
        {{"010", "0", "00", "001"}, "10.0.0.1"}, // never octal
        {{"0", "1", "2", "3"}, nullptr},
        {{"00", "1", "2", "3"}, nullptr}, // "00" counts as 0
        {{"0", "0", "0", "0"}, nullptr},
        {{"255", "255", "255", "255"}, nullptr},
        {{"255", "255", "255", "254"}, "255.255.255.254"},
        {{"10", "", "0", "1"}, nullptr},
        {{"10", "0", "0", ""}, nullptr},
        {{"256", "0", "0", "1"}, nullptr},
        {{"1x", "0", "0", "1"}, nullptr},
        {{"10", "0", "0"}, nullptr},
        {{QString::fromUtf8("\u0661"), "0", "0", "1"}, nullptr},
    };
    for (const Case &c : cases) {
        auto got = composeAddress(c.octets);
        if (c.expect) {
            ASSERT_TRUE(got.has_value()) << c.octets.join('.').toStdString();
            EXPECT_EQ(*got, QString(c.expect));
        } else {
            EXPECT_FALSE(got.has_value()) << c.octets.join('.').toStdString();
        }
    }
}

namespace {

ConnectFields base(int ps, int conn)
{
    ConnectFields f;
    f.psType = ps;
    f.connType = conn;
    f.name = "Crate1";
    return f;
}

BoardRow row(const char *name, const char *link, const char *node, const char *baseAddress,
             const char *pid = "")
{
    return BoardRow{name, link, node, baseAddress, pid};
}

SerialFields serial(const char *port = "ttyS0", const char *baud = "9600", int lbus = 3)
{
    SerialFields s;
    s.port = port;
    s.baudText = baud;
    s.dataText = "8";
    s.stopIndex = 0;
    s.parityIndex = 0;
    s.lbusIndex = lbus;
    return s;
}

} // namespace

TEST(ConnectCompose, OkRuleOfEveryCombination)
{
    const QStringList good = {"10", "0", "0", "1"};
    const QStringList bad = {"0", "0", "0", "1"};
    struct Case {
        const char *what;
        ConnectFields f;
        bool ok;
    };
    std::vector<Case> cases;
    auto add = [&](const char *what, ConnectFields f, bool ok) { cases.push_back({what, f, ok}); };

    for (int ps : {PsCrate, PsP8080}) {
        ConnectFields f = base(ps, 0);
        f.tcpOctets = good;
        f.user = "admin";
        f.password = "pw";
        add("tcp with user and password", f, true);
        ConnectFields noPw = f;
        noPw.password.clear();
        add("no password", noPw, false);
        ConnectFields noUser = f;
        noUser.user.clear();
        add("no user", noUser, false);
        ConnectFields badIp = f;
        badIp.tcpOctets = bad;
        add("first octet 0", badIp, false);
    }
    for (int conn : {0, 1}) {
        ConnectFields f = base(PsVmeHv, conn);
        f.optRows = {row("a", "1", "2", "20"), row("", "3", "0", "30")};
        add("vme opt two rows", f, true);
        ConnectFields badSecond = f;
        badSecond.optRows[1].baseAddress = "12G4";
        add("vme opt second row bad", badSecond, false);
        ConnectFields empty = f;
        empty.optRows[0].baseAddress.clear();
        add("vme opt first row empty", empty, false);
    }
    {
        ConnectFields f = base(PsVmeHv, 2);
        f.usb3Rows = {row("", "", "", "10", "1234"), row("", "", "", "20")};
        add("usb3", f, true);
        ConnectFields noPid = f;
        noPid.usb3Rows[0].pid.clear();
        add("usb3 no pid", noPid, false);
        ConnectFields badSecond = f;
        badSecond.usb3Rows[1].baseAddress = "0x";
        add("usb3 second base bad", badSecond, false);
    }
    {
        ConnectFields f = base(PsVmeHv, 3);
        f.ethOctets = good;
        f.ethRows = {row("", "", "", "1000"), row("", "", "", "2000")};
        add("ethernet", f, true);
        ConnectFields badIp = f;
        badIp.ethOctets = {"255", "255", "255", "255"};
        add("ethernet broadcast ip", badIp, false);
        ConnectFields badSecond = f;
        badSecond.ethRows[1].baseAddress.clear();
        add("ethernet second base empty", badSecond, false);
    }
    {
        ConnectFields f = base(PsVmeHv, 4);
        f.j6280Rows = {row("", "", "1", "10", "77"), row("", "", "2", "20", "78")};
        add("j6280", f, true);
        ConnectFields badPid = f;
        badPid.j6280Rows[1].pid.clear();
        add("j6280 second pid empty", badPid, false);
    }
    add("vme other type", base(PsVmeHv, 5), true);
    {
        ConnectFields f = base(PsNimDesktop, 0);
        f.tcpOctets = good;
        add("nim tcp without user", f, true);
        f.tcpOctets = {"10", "", "0", "1"};
        add("nim tcp empty octet", f, false);
        ConnectFields s = base(PsNimDesktop, 1);
        s.serial = serial();
        add("nim serial", s, true);
        s.serial.port.clear();
        add("nim serial no port", s, false);
        ConnectFields b = base(PsNimDesktop, 1);
        b.serial = serial("ttyS0", "");
        add("nim serial no baud", b, false);
    }
    add("bq71xx usb", base(PsBq71xx, 0), true);
    add("bq71xx optical", base(PsBq71xx, 1), true);
    {
        ConnectFields f = base(PsBq71xx, 2);
        add("bq71xx j6280 no pid", f, false);
        f.bqPid = "42";
        add("bq71xx j6280 pid", f, true);
    }
    for (int ps : {PsBq71xxE, PsTrix}) {
        ConnectFields f = base(ps, 0);
        f.tcpOctets = good;
        add("e/trix tcp", f, true);
        ConnectFields s = base(ps, 1);
        s.serial = serial("ttyS0", "9600", -1);
        add("e/trix serial without lbus", s, true);
        add("e/trix other", base(ps, 2), false);
    }
    add("boxes", base(PsBoxes, -1), true);
    add("no supply type", base(-1, 0), false);
    add("no connection type", base(PsCrate, -1), false);
    add("type 8", base(8, 0), false);
    {
        ConnectFields f = base(PsNimDesktop, 0);
        f.tcpOctets = good;
        f.discoveryRunning = true;
        add("discovery running", f, false);
        ConnectFields boxes = base(PsBoxes, -1);
        boxes.discoveryRunning = true;
        add("discovery running, boxes", boxes, false);
    }
    for (const Case &c : cases)
        EXPECT_EQ(okEnabled(c.f), c.ok) << c.what << " ps " << c.f.psType << " conn " << c.f.connType;
}

TEST(ConnectCompose, RequestsOfEveryCombination)
{
    const QStringList ip = {"192", "168", "0", "10"};
    struct Case {
        const char *what;
        ConnectFields f;
        QList<ConnectionRequest> expect;
    };
    std::vector<Case> cases;
    auto add = [&](const char *what, ConnectFields f, QList<ConnectionRequest> e) {
        cases.push_back({what, f, e});
    };

    {
        ConnectFields f = base(PsCrate, 0);
        f.tcpOctets = {"010", "0", "0", "1"};
        f.user = "admin";
        f.password = "secret";
        add("crate", f, {{2, 0, "10.0.0.1", "Crate1", "admin", "secret"}});
        f.psType = PsP8080;
        add("p8080", f, {{16, 0, "10.0.0.1", "Crate1", "admin", "secret"}});
    }
    {
        ConnectFields f = base(PsVmeHv, 1);
        f.password = "pw";
        f.optRows = {row("left", "1", "2", "20"), row("", "3", "0", "30")};
        add("vme optical", f,
            {{5, 4, "1_2_20", "Crate1", "left", "pw"}, {5, 4, "3_0_30", "Crate1", "Board01", "pw"}});
        f.connType = 0;
        add("vme usb", f,
            {{5, 3, "1_0_20", "Crate1", "left", "pw"}, {5, 3, "3_0_30", "Crate1", "Board01", "pw"}});
        f.psType = PsBq71xx;
        add("bq71xx usb", f,
            {{9, 3, "1_0_0", "Crate1", "left", "pw"}, {9, 3, "3_0_0", "Crate1", "Board01", "pw"}});
        f.connType = 1;
        add("bq71xx optical", f,
            {{9, 4, "1_2_00000000", "Crate1", "left", "pw"},
             {9, 4, "3_0_00000000", "Crate1", "Board01", "pw"}});
    }
    {
        ConnectFields f = base(PsVmeHv, 2);
        f.usb3Rows = {row("", "", "", "10", "1234"), row("b", "", "", "20")};
        add("usb3 first row's pid", f,
            {{5, 6, "1234_0_10", "Crate1", "Board00", ""}, {5, 6, "1234_0_20", "Crate1", "b", ""}});
    }
    {
        ConnectFields f = base(PsVmeHv, 3);
        f.ethOctets = {"10", "0", "0", "7"};
        f.ethRows = {row("", "", "", "1000"), row("", "", "", "2000")};
        add("ethernet", f,
            {{5, 0, "10.0.0.7_0_1000", "Crate1", "Board00", ""},
             {5, 0, "10.0.0.7_0_2000", "Crate1", "Board01", ""}});
    }
    {
        ConnectFields f = base(PsVmeHv, 4);
        f.j6280Rows = {row("", "", "1", "10", "77"), row("", "", "2", "20", "78")};
        add("j6280", f,
            {{5, 7, "77_1_10", "Crate1", "Board00", ""}, {5, 7, "78_2_20", "Crate1", "Board01", ""}});
        f.connType = 5;
        add("vme past j6280", f, {});
        ConnectFields none = base(PsVmeHv, 1);
        add("vme no rows", none, {});
    }
    {
        ConnectFields f = base(PsNimDesktop, 0);
        f.tcpOctets = ip;
        f.tcpLBusText = "5";
        f.tcpLBusIndex = 5;
        add("nim tcp", f, {{6, 0, "192.168.0.10_5", "Crate1", "", ""}});
        ConnectFields s = base(PsNimDesktop, 1);
        s.serial = serial();
        add("nim serial", s, {{6, 5, "ttyS0_9600_8_0_0_3", "Crate1", "", ""}});
        add("nim other", base(PsNimDesktop, 2), {{6, -1, "", "Crate1", "", ""}});
    }
    {
        ConnectFields t = base(PsTrix, 1);
        t.serial = serial("ttyS0", "9600", -1);
        add("trix serial no lbus", t, {{13, 5, "ttyS0_9600_8_0_0_0", "Crate1", "", ""}});
        t.serial.lbusIndex = 7;
        add("trix serial lbus", t, {{13, 5, "ttyS0_9600_8_0_0_7", "Crate1", "", ""}});
        ConnectFields e = base(PsBq71xxE, 1);
        e.serial = serial("ttyS0", "9600", 4);
        add("bq71xxe serial", e, {{11, 5, "ttyS0_9600_8_0_0", "Crate1", "", ""}});
        ConnectFields et = base(PsBq71xxE, 0);
        et.tcpOctets = ip;
        add("bq71xxe tcp", et, {{11, 0, "192.168.0.10", "Crate1", "", ""}});
        et.psType = PsTrix;
        add("trix tcp", et, {{13, 0, "192.168.0.10", "Crate1", "", ""}});
        add("trix other", base(PsTrix, 3), {{13, -1, "", "Crate1", "", ""}});
    }
    {
        ConnectFields f = base(PsBq71xx, 2);
        f.bqPid = "4321";
        f.password = "pw";
        add("bq71xx j6280", f, {{9, 7, "4321", "Crate1", "BQ71XX", "pw"}});
    }
    add("boxes", base(PsBoxes, -1), {{13, 0, "127.0.0.1", "PS BOXES", "admin", ""}});
    for (const Case &c : cases)
        EXPECT_EQ(composeRequests(c.f), c.expect) << c.what;
}
