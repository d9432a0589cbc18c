// The "$CMD" dialect and the number rules of the four families, on their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "modules/cmd_dialect.h"
#include "modules/l317e_backend.h"
#include "modules/w9300_backend.h"
#include "modules/zjv_backend.h"

using namespace koruhv;

TEST(CmdDialect, RepliesAndTheirCodes)
{
    const struct {
        const char *line;
        int rc;
        const char *value;
    } cases[] = {
        {"#CMD:OK,VAL:12.5", 0, "12.5"},
        {"#CMD:OK,VAL:00:50:C2:93:00:01", 0, "00:50:C2:93:00:01"}, // a MAC address keeps its ':'
        {"#CMD:OK,VAL:0150.0;0000.0", 0, "0150.0;0000.0"},
        {"#CMD:OK,VAL:", -1, ""},   // no value
        {"#CMD:OK", -1, ""},        // a set acknowledgement is no monitor reply
        {"#CMDX:OK,VAL:1", -1, ""}, // wrong head
        {"#CMD:ERR", 1, ""},
        {"#CH:ERR", 2, ""},
        {"#PAR:ERR", 3, ""},
        {"#VAL:ERR", 4, ""},
        {"#LOC:ERR", 5, ""},
        {"garbage", -1, ""},
    };
    TextInstance in;
    for (const auto &c : cases) {
        char value[64] = "x";
        EXPECT_EQ(Cmd_ParseReply(in, "VMON", c.line, value, sizeof value), c.rc) << c.line;
        EXPECT_STREQ(value, c.value) << c.line;
    }
    char small[4];
    EXPECT_EQ(Cmd_ParseReply(in, "VMON", "#CMD:OK,VAL:12345", small, sizeof small), -1); // does not fit
    EXPECT_EQ(Cmd_SetResult(in, "#CMD:OK"), 0);
    EXPECT_EQ(Cmd_SetResult(in, "#VAL:ERR"), 4);
}

TEST(CmdDialect, RequestLines)
{
    char out[64];
    ASSERT_EQ(Cmd_BuildRequest(REQ_MONITOR, 2, "VMON", "", out, sizeof out), 0);
    EXPECT_STREQ(out, "$CMD:MON,CH:2,PAR:VMON\r\n");
    ASSERT_EQ(Cmd_BuildRequest(REQ_SET, -1, "BDCLR", nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "$CMD:SET,PAR:BDCLR\r\n");
    ASSERT_EQ(Cmd_BuildRequest(REQ_SET, 0, "VSET", ",VAL:0150.0", out, sizeof out), 0);
    EXPECT_STREQ(out, "$CMD:SET,CH:0,PAR:VSET,VAL:0150.0\r\n");
    char tiny[10];
    EXPECT_EQ(Cmd_BuildRequest(REQ_MONITOR, 2, "VMON", "", tiny, sizeof tiny), -1);
}

TEST(CmdDialect, AddressTexts)
{
    LinkParams tcp;
    ASSERT_EQ(Cmd_ParseAddress(kZJVFamily, "TCP/IP", "192.168.0.20_5", &tcp), 0);
    EXPECT_EQ(tcp.kind, TEXT_LINK_TCP);
    EXPECT_EQ(tcp.ip, "192.168.0.20"); // anything after '_' is ignored
    LinkParams serial;
    ASSERT_EQ(Cmd_ParseAddress(kZJVFamily, "USBVCP", "ttyUSB0", &serial), 0);
    EXPECT_EQ(serial.kind, TEXT_LINK_SERIAL);
    EXPECT_EQ(serial.port, "ttyUSB0");
    EXPECT_EQ(serial.baud, 9600);
    EXPECT_EQ(serial.dataBits, 8);
    EXPECT_EQ(serial.stopBits, 0);
    EXPECT_EQ(serial.parity, 0);
    ASSERT_EQ(Cmd_ParseAddress(kZJVFamily, "USBVCP", "pts/3_19200_7_2_1", &serial), 0);
    EXPECT_EQ(serial.baud, 19200);
    EXPECT_EQ(serial.dataBits, 7);
    EXPECT_EQ(serial.stopBits, 2);
    EXPECT_EQ(serial.parity, 1);
    EXPECT_NE(Cmd_ParseAddress(kZJVFamily, "TCP/IP", "", &tcp), 0);
    EXPECT_NE(Cmd_ParseAddress(kZJVFamily, "TCP/IP", std::string(200, '1').c_str(), &tcp), 0);
}

TEST(W9300Dialect, SerialPortsByNumberOrName)
{
    const struct {
        const char *address;
        const char *port;
        int baud, flow;
    } cases[] = {
        {"3", "COM3", 9600, 0},
        {"9_19200", "COM9", 19200, 0},
        {"10_9600_8_0_0_1", "COM10", 9600, 1}, // one form from 10 on as well
        {"pts/4_38400", "pts/4", 38400, 0},
        {"ttyUSB0", "ttyUSB0", 9600, 0},
    };
    for (const auto &c : cases) {
        LinkParams p;
        ASSERT_EQ(kW9300Family.dialect.parseAddress(kW9300Family, "USBVCP", c.address, &p), 0) << c.address;
        EXPECT_EQ(p.kind, TEXT_LINK_SERIAL);
        EXPECT_EQ(p.port, c.port) << c.address;
        EXPECT_EQ(p.baud, c.baud) << c.address;
        EXPECT_EQ(p.flow, c.flow) << c.address;
    }
    LinkParams p;
    ASSERT_EQ(kW9300Family.dialect.parseAddress(kW9300Family, "TCP/IP", "10.0.0.5", &p), 0);
    EXPECT_EQ(p.ip, "10.0.0.5");
}

TEST(L317EDialect, SerialPortNamesNeedANumber)
{
    const struct {
        const char *link, *address;
        int rc;
        int moduleAddress;
    } cases[] = {
        {"USBVCP", "ttyUSB1_9600_8_0_0_5", 0, 5},
        {"USBVCP", "pts/7", 0, 0},
        {"USBVCP", "ttyS_9600", -1, 0},
        {"TCP/IP", "127.0.0.2_3", 0, 3},
    };
    for (const auto &c : cases) {
        LinkParams p;
        EXPECT_EQ(kL317EFamily.dialect.parseAddress(kL317EFamily, c.link, c.address, &p), c.rc) << c.address;
        if (c.rc == 0) {
            EXPECT_EQ(p.moduleAddress, c.moduleAddress) << c.address;
        }
    }
}

TEST(ResolutionDecimals, BothRules)
{
    // ZJV: integer divisions by 10 down to 1 or less.
    const struct {
        double res;
        int dec;
    } zjv[] = {{100, 2}, {1000, 3}, {10, 1}, {5, 1}, {1, 0}, {0, 0}, {-5, 0}, {1e30, 18}};
    for (const auto &c : zjv)
        EXPECT_EQ(ZJV_DecimalsOfResolution(c.res), c.dec) << c.res;
    // W9300: ceil(log10); a resolution of 0 or less has none.
    const struct {
        int res, dec;
    } w[] = {{100, 2}, {1, 0}, {0, 0}, {-3, 0}, {10, 1}, {150, 3}, {5, 1}};
    for (const auto &c : w)
        EXPECT_EQ(W9300_DecimalsOfResolution(c.res), c.dec) << c.res;
}
