// The rules by which device texts become what the system dialogs and panel
// lamps show, by tables of cases.
#include "SysDialogTexts.h"
#include "qt_gtest_print.h"
#include "sysdialog_support.h"

#include <gtest/gtest.h>

using namespace sysdlg;

namespace {

struct SessionCase {
    const char *text;
    QVector<QStringList> rows;
};

TEST(SysDlgSessionList, RecordsAndFieldsByTable)
{
    const SessionCase cases[] = {
        {"admin:3:TCP/IP:10_20_30:10.0.0.5;", {{"admin", "3", "TCP/IP", "10_20_30", "10.0.0.5"}}},
        {"a:1:b:c:d:e;", {}},                     // six fields: dropped
        {"a:1;", {{"a", "1"}}},                   // two fields fill the left columns
        {"a::c:d:e", {{"a", "", "c", "d", "e"}}}, // "::" keeps an empty cell
        {";;x:1;;", {{"x", "1"}}},                // empty records skipped
        {"", {}},
        {"u:1:TCP/IP:1_2_3:fe80::1;v:2:TCP/IP:4_5_6:10.0.0.1;", {{"v", "2", "TCP/IP", "4_5_6", "10.0.0.1"}}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseSessionList(QString::fromLatin1(c.text)), c.rows) << c.text;
}

TEST(SysDlgSessionList, UnderscoreBecomesColonOnlyInTheLoginTime)
{
    EXPECT_EQ(sessionCellText(3, QStringLiteral("10_20_30")), QStringLiteral("10:20:30"));
    EXPECT_EQ(sessionCellText(0, QStringLiteral("my_user")), QStringLiteral("my_user"));
    EXPECT_EQ(sessionCellText(4, QStringLiteral("a_b")), QStringLiteral("a_b"));
}

TEST(SysDlgSysInfo, CpuAndMemoryFields)
{
    EXPECT_EQ(cpuLoadFields(QStringLiteral("0.5:0.7")), (QStringList{"0.5", "0.7"}));
    EXPECT_EQ(cpuLoadFields(QStringLiteral(" 1 :2:3:4")), (QStringList{" 1 ", "2", "3"}));
    EXPECT_TRUE(cpuLoadFields(QString()).isEmpty());
    EXPECT_EQ(memStatusFields(QStringLiteral(" 100 : 50:25 :5 :9")), (QStringList{"100", "50", "25", "5"}));
    EXPECT_EQ(memStatusFields(QStringLiteral("1::3")), (QStringList{"1", "", "3"}));
}

TEST(SysDlgSysInfo, LiveNamesAreCaseSensitiveSubstrings)
{
    EXPECT_EQ(sysInfoSetterFor(QStringLiteral("CPULoad")), SysInfoSetter::CpuLoad);
    EXPECT_EQ(sysInfoSetterFor(QStringLiteral("MyCPULoad2")), SysInfoSetter::CpuLoad);
    EXPECT_EQ(sysInfoSetterFor(QStringLiteral("cpuload")), SysInfoSetter::None);
    EXPECT_EQ(sysInfoSetterFor(QStringLiteral("MemoryStatus")), SysInfoSetter::MemStatus);
    EXPECT_EQ(sysInfoSetterFor(QStringLiteral("CmdQueueStatus")), SysInfoSetter::CmdQueue);
}

struct MapCase {
    int type;
    int index;
    CrateMapSlot slot;
    QStringList row;
};

TEST(SysDlgCrateMap, RowsByTable)
{
    CrateMapSlot board{true, "A1535", "12 Ch 3.5KV", 4000000000u, "10", "3", "0_1"};
    CrateMapSlot empty;
    CrateMapSlot vme{true, "V1", "d", 5, "0", "1", "link_node_EE000000"};
    CrateMapSlot vmeOther{true, "V1", "d", 5, "0", "1", "EE00"};
    const MapCase cases[] = {
        {2, 3, empty, {"3", "...", "...", "...", "..."}},
        {2, 0, board, {"0", "A1535", "12 Ch 3.5KV", "4000000000", "3.10"}},
        {16, 27, board, {"1", "2", "A1535", "12 Ch 3.5KV", "4000000000", "3.10"}},
        {5, 0, vme, {"0xEE000000", "V1", "d", "5", "1.0"}},
        {5, 1, vmeOther, {"0xEE00", "V1", "d", "5", "1.0"}},
        {5, 2, board, {"0x0_1", "A1535", "12 Ch 3.5KV", "4000000000", "3.10"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(crateMapRow(c.type, c.index, c.slot), c.row) << c.type << "/" << c.index;
    EXPECT_EQ(crateMapHeaders(16).size(), 6);
    EXPECT_EQ(crateMapHeaders(5).first(), QStringLiteral("Base Address"));
    EXPECT_EQ(crateMapHeaders(2).first(), QStringLiteral("Slot Nr"));
    EXPECT_EQ(crateMapTitle(16), QStringLiteral("Rack Map"));
    EXPECT_EQ(crateMapTitle(3), QStringLiteral("Crate Map"));
}

TEST(SysDlgTechInfo, PowerModuleParts)
{
    const struct {
        const char *part;
        const char *state;
        bool keep;
        const char *model;
    } cases[] = {{"-1", "Fail", true, ""},
                 {"0", "Not Present", false, ""},
                 {"1", "Good", true, ""},
                 {"J7740", "Good", false, "J7740"}};
    for (const auto &c : cases) {
        const PowerModuleText t = powerModuleText(QString::fromLatin1(c.part));
        EXPECT_EQ(t.state, QString::fromLatin1(c.state)) << c.part;
        EXPECT_EQ(t.keepModel, c.keep) << c.part;
        EXPECT_EQ(t.model, QString::fromLatin1(c.model)) << c.part;
    }
}

TEST(SysDlgTechInfo, CurrentColours)
{
    const struct {
        const char *current;
        const char *model; // null: primary supply
        CurrentColour colour;
    } cases[] = {
        {"12", nullptr, CurrentColour::Red},   {"11.99", nullptr, CurrentColour::Green},
        {"abc", nullptr, CurrentColour::Keep}, {"20.5", "J7740", CurrentColour::Green},
        {"20.5", "J7750", CurrentColour::Red}, {"24", "J7740", CurrentColour::Red},
        {"11", "J7750", CurrentColour::Green}, {"20.5", "", CurrentColour::Keep},
        {"x", "J7740", CurrentColour::Keep},
    };
    for (const auto &c : cases) {
        const QString cur = QString::fromLatin1(c.current);
        const CurrentColour got =
            c.model ? boostCurrentColour(cur, QString::fromLatin1(c.model)) : primaryCurrentColour(cur);
        EXPECT_EQ(got, c.colour) << c.current << " " << (c.model ? c.model : "primary");
    }
}

TEST(SysDlgTechInfo, ReleaseAndFrontPanelInput)
{
    ReleaseParts r = swReleaseParts(QStringLiteral("3.01.00"));
    EXPECT_TRUE(r.hasFirmware);
    EXPECT_FALSE(r.hasFpga);
    r = swReleaseParts(QStringLiteral("3.01-2.04-x"));
    EXPECT_EQ(r.firmware, QStringLiteral("3.01"));
    EXPECT_EQ(r.fpga, QStringLiteral("2.04"));
    EXPECT_FALSE(swReleaseParts(QString()).hasFirmware);

    const struct {
        unsigned short word;
        const char *enable;
        const char *vsel;
        const char *isel;
        bool kill, interlock;
    } cases[] = {{0x30, "Remote", "V<sub>0</sub>", "I<sub>0</sub>", false, false},
                 {0x20, "Local", "V<sub>0</sub>", "I<sub>0</sub>", false, false},
                 {0x00, "Off", "V<sub>0</sub>", "I<sub>0</sub>", false, false},
                 {0x0F, "Off", "V<sub>1</sub>", "I<sub>1</sub>", true, true}};
    for (const auto &c : cases) {
        const FrontPanInView v = frontPanInView(c.word);
        EXPECT_EQ(v.enable, QString::fromLatin1(c.enable)) << c.word;
        EXPECT_EQ(v.vsel, QString::fromLatin1(c.vsel)) << c.word;
        EXPECT_EQ(v.isel, QString::fromLatin1(c.isel)) << c.word;
        EXPECT_EQ(v.kill, c.kill) << c.word;
        EXPECT_EQ(v.interlock, c.interlock) << c.word;
    }
}

TEST(SysDlgLiveNames, WhichSetter)
{
    EXPECT_EQ(techSetterFor(QStringLiteral("HvPwSM")), TechSetter::HvPwSM);
    EXPECT_EQ(techSetterFor(QStringLiteral("OutputLevel")), TechSetter::OutputLevel);
    EXPECT_EQ(techSetterFor(QStringLiteral("FrontPanIn")), TechSetter::FrontPanIn);
    EXPECT_EQ(techSetterFor(QStringLiteral("SwRelease")), TechSetter::None);
    EXPECT_EQ(techSetterFor(QStringLiteral("hvpwsm")), TechSetter::None);
}

TEST(SysDlgValues, LowWordAndRackSerial)
{
    EXPECT_EQ(lowWord(QVariant(0x12345u)), 0x2345);
    EXPECT_EQ(lowWord(QVariant(QStringLiteral("24"))), 24);
    EXPECT_EQ(lowWord(QVariant(QStringLiteral("nope"))), 0);
    EXPECT_EQ(lowWord(QVariant()), 0);
    EXPECT_EQ(rackSerialText(QVariant(quint32(0x80000000u))), QStringLiteral("2147483648"));
    EXPECT_EQ(rackSerialText(QVariant(quint32(4294967295u))), QStringLiteral("4294967295"));
    EXPECT_EQ(rackSerialText(QVariant(int(-1))), QStringLiteral("4294967295"));
    EXPECT_EQ(rackSerialText(QVariant(12)), QStringLiteral("12"));
}

TEST(SysDlgValues, AcdcIlimChoice)
{
    EXPECT_EQ(acdcIlimIndex(1), 1);
    EXPECT_EQ(acdcIlimIndex(4), -1);
    EXPECT_EQ(acdcIlimIndex(-2), -1);
    EXPECT_TRUE(acdcIlimWrites(true, 1, 2));
    EXPECT_FALSE(acdcIlimWrites(true, 1, 1));
    EXPECT_FALSE(acdcIlimWrites(false, 1, 2));
    EXPECT_FALSE(acdcIlimWrites(true, 7, -1)); // out-of-range value, nothing chosen
}

TEST(SysDlgWebText, StartAddress)
{
    const struct {
        const char *init;
        const char *url; // null: invalid
    } cases[] = {{"127.0.0.2", "http://127.0.0.2"},
                 {"127.0.0.2:8080", "http://127.0.0.2:8080"},
                 {"crate.lab", "http://crate.lab"},
                 {"", nullptr},
                 {"a/b", nullptr},
                 {"x@evil.org", nullptr},
                 {"host?x=1", nullptr},
                 {"host#f", nullptr},
                 {"bad host", nullptr},
                 {"127.0.0.2:99999", nullptr}};
    for (const auto &c : cases) {
        const QUrl u = webStartUrl(QString::fromLatin1(c.init));
        if (c.url)
            EXPECT_EQ(u.toString(), QString::fromLatin1(c.url)) << c.init;
        else
            EXPECT_FALSE(u.isValid()) << c.init << " gave " << u.toString().toStdString();
    }
}

TEST(SysDlgWebText, LoginAddressEncodesEachValueOnce)
{
    const QUrl start = webStartUrl(QStringLiteral("127.0.0.2:81"));
    const struct {
        const char *user, *pass, *encoded;
    } cases[] = {
        {"admin", "admin", "http://127.0.0.2:81/session_login.cgi?user=admin&pass=admin"},
        {"u%2", "a&b c+#", "http://127.0.0.2:81/session_login.cgi?user=u%252&pass=a%26b%20c%2B%23"},
        {"", "", "http://127.0.0.2:81/session_login.cgi?user=&pass="},
    };
    for (const auto &c : cases)
        EXPECT_EQ(webLoginUrl(start, QString::fromLatin1(c.user), QString::fromLatin1(c.pass))
                      .toString(QUrl::FullyEncoded),
                  QString::fromLatin1(c.encoded))
            << c.user;
}

TEST(SysDlgWebText, SameOrigin)
{
    const QUrl o(QStringLiteral("http://127.0.0.2:81"));
    EXPECT_TRUE(sameOrigin(QUrl(QStringLiteral("http://127.0.0.2:81/x?y")), o));
    EXPECT_FALSE(sameOrigin(QUrl(QStringLiteral("http://127.0.0.3:81/")), o));
    EXPECT_FALSE(sameOrigin(QUrl(QStringLiteral("http://127.0.0.2:82/")), o));
    EXPECT_FALSE(sameOrigin(QUrl(QStringLiteral("https://127.0.0.2:81/")), o));
    EXPECT_FALSE(sameOrigin(QUrl(QStringLiteral("file:///etc/passwd")), o));
    EXPECT_TRUE(sameOrigin(QUrl(QStringLiteral("http://h/")), QUrl(QStringLiteral("http://h:80"))));
}

TEST(SysDlgParameters, WholeNameAnyCaseFirstOrLast)
{
    auto sys = sdtest::systemNode(2, {{"SESSIONS", "a"}, {"sessions", "b"}, {"SessionsX", "c"}});
    EXPECT_EQ(parameterText(sys.get(), QStringLiteral("Sessions"), false), QStringLiteral("a"));
    EXPECT_EQ(parameterText(sys.get(), QStringLiteral("Sessions"), true), QStringLiteral("b"));
    EXPECT_EQ(parameterText(sys.get(), QStringLiteral("Nope"), true), QString());
    EXPECT_EQ(findParameter(nullptr, QStringLiteral("x"), true), nullptr);
}

} // namespace
