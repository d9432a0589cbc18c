/* No clipped text: for every system type the connection dialog offers, the
 * main window with that system (its panel, its BOARDS page) and every dialog
 * of its panel, at 1280 x 1024 and 1600 x 1000 with the shipped style sheet.
 * The systems are fake-wrapper models with the names, models and serial
 * numbers of real ones. */
#include "QCustomBox.h"
#include "looks_support.h"
#include "shell_fixture.h"

using fakehv::Raw;

namespace {

fakehv::SysProp prop(unsigned type, unsigned mode, Raw value)
{
    fakehv::SysProp p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    return p;
}

fakehv::SysProp text(const char *value, unsigned mode = 0)
{
    return prop(fakehv::SYSPROP_TEXT, mode, Raw::text(value));
}

fakehv::SysProp word(uint16_t value, unsigned mode = 0)
{
    return prop(fakehv::SYSPROP_U16, mode, Raw::u16(value));
}

/* What a current crate mainframe reports, as the crate simulator has it. */
std::vector<fakehv::NamedSysProp> crateProps()
{
    return {
        {"Sessions", text("admin:1:TCP/IP:2026-12-10_16_20:127.0.0.1;")},
        {"ModelName", text("HX4400")},
        {"SwRelease", text("3.1.2")},
        {"GenSignCfg", word(0x25, 2)},
        {"FrontPanIn", word(0x0003)},
        {"FrontPanOut", word(0x0008)},
        {"ResFlagCfg", word(0x3F, 2)},
        {"ResFlag", word(0)},
        {"HvPwSM", text("5:7:1:2:0")},
        {"HVFanStat", text("1:2400:1:2450:1:2370")},
        {"ClkFreq", word(40)},
        {"HVClkConf", word(1, 2)},
        {"IPAddr", text("192.168.0.250", 2)},
        {"IPNetMsk", text("255.255.255.0", 2)},
        {"IPGw", text("192.168.0.1", 2)},
        {"PWCurrent", text("12.40:1.20:1.10:8.00:7.90:7.80:0")},
        {"PWVoltage", text("3.30:-12.00:12.00:12.10:48.10:1.20")},
        {"OutputLevel", word(0, 2)},
        {"SymbolicName", text("crate-sim", 2)},
        {"CmdQueueStatus", word(0)},
        {"CPULoad", text("7.5:6.0:5.5")},
        {"MemoryStatus", text("48236:1024:512:64")},
        {"HVFanSpeed", word(1, 2)},
        {"PWFanStat", text("1:2420:1:2400")},
        {"DHCPDStatus", text("disabled")},
    };
}

/* The rack's properties, as its technical-information preset has them. */
std::vector<fakehv::NamedSysProp> rackProps()
{
    return {
        {"ModelName", text("P8080")},
        {"SwRelease", text("2.0.7")},
        {"FwRelease", text("1.4")},
        {"HwRelease", text("2.1")},
        {"Sessions", text("admin:1:TCP/IP:2026-12-10_16_20:127.0.0.1;")},
        {"FrontPanOut", word(0x0008)},
        {"FrontPan", word(0)},
        {"ACDCStatus", word(5)},
        {"Logic", word(0, 2)},
        {"LowFreq", word(50)},
        {"HighFreq", word(60)},
        {"RecPeriod", word(100)},
        {"RstPeriod", word(200)},
        {"RstRecFlag", word(0, 2)},
        {"ACDCIlim", word(1, 2)},
        {"Temp", prop(fakehv::SYSPROP_FLOAT, 0, Raw::f32(31.2f))},
        {"Label", text("rack-sim", 2)},
    };
}

/* A board as the crate's presets make it: a long serial number and an
 * interlock switch with the device's own words. */
void addHvBoard(fakehv::System &s, unsigned short slot, unsigned short channels, const char *model,
                uint32_t serial, const char *description = " 24 Ch Pos. 3KV 300uA ")
{
    fakehv::Board &b = s.addBoard(slot, channels, model, serial);
    b.description = description;
    b.fwMajor = 2;
    b.fwMinor = 5;
    b.params.push_back({"BdStatus", {3, 0, Raw::u32(0)}});
    b.params.push_back({"HVMax", {0, 0, Raw::f32(3100.f)}});
    b.params.push_back({"Temp", {0, 0, Raw::f32(32.5f)}});
    b.params.push_back(
        {"IntlkMode",
         {1, 2, Raw::u32(0), {{"Onstate", Raw::text("Open")}, {"Offstate", Raw::text("Close")}}}});
    for (auto &ch : b.channels) {
        ch.params.push_back({"V0Set", {0, 2, Raw::f32(2500.f)}});
        ch.params.push_back({"I0Set", {0, 2, Raw::f32(200.f)}});
        ch.params.push_back({"VMon", {0, 0, Raw::f32(2500.f)}});
        ch.params.push_back({"IMon", {0, 0, Raw::f32(125.f)}});
        ch.params.push_back(
            {"Pw", {1, 2, Raw::u32(1), {{"Onstate", Raw::text("On")}, {"Offstate", Raw::text("Off")}}}});
        ch.params.push_back({"Status", {2, 0, Raw::u32(1)}});
    }
}

struct Offered {
    const char *what;
    int sysType; /* as the connection dialog requests it */
    int linkType;
    const char *init;
    const char *user; /* the board's name for VME HV boards */
    std::function<fakehv::System()> model;
};

fakehv::System crate(int slotCount)
{
    fakehv::System s;
    s.props = crateProps();
    s.crate.resize(static_cast<size_t>(slotCount));
    addHvBoard(s, 0, 24, "HB3024", 65637);
    addHvBoard(s, 1, 12, "HB3012", 65638);
    if (slotCount > 4)
        addHvBoard(s, 4, 48, "HB3048", 65639);
    s.commands = {"Kill", "ClearAlarm"};
    return s;
}

fakehv::System modules(const char *model, std::vector<fakehv::NamedSysProp> props = {})
{
    fakehv::System s;
    s.props = std::move(props);
    /* A desktop unit's description is its base firmware release. */
    addHvBoard(s, 0, 4, model, 4711, "1.05");
    return s;
}

const std::vector<Offered> &offered()
{
    static const std::vector<Offered> list = {
        {"HX4400 crate", 2, 0, "127.0.0.2", "admin", [] { return crate(16); }},
        {"HX5500 crate", 2, 0, "127.0.0.2", "admin", [] { return crate(4); }},
        {"P8080 rack", 16, 0, "127.0.0.2", "admin",
         [] {
             fakehv::System s;
             s.props = rackProps();
             addHvBoard(s, 0, 8, "PM808", 700021);
             addHvBoard(s, 1, 4, "PM804", 700022);
             return s;
         }},
        {"VME HV board", 5, 3, "0_0_32100000", "W3820Board", [] { return modules("W3820"); }},
        {"NIM desktop", 6, 0, "127.0.0.2_0", "admin", [] { return modules("L2290P"); }},
        {"BQ71XX", 9, 3, "0_0_0", "BQ71XX", [] { return modules("BQ7104"); }},
        {"BQ71XXE", 11, 0, "127.0.0.2", "admin", [] { return modules("BQ7104E"); }},
        {"TRIX HV", 13, 0, "127.0.0.2", "admin", [] { return modules("TRIXHV4"); }},
    };
    return list;
}

class Looks : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        looks::applyShippedLook();
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        qApp->setStyleSheet(QString());
    }

    void checkType(const Offered &o)
    {
        for (const QSize size : {QSize(1280, 1024), QSize(1600, 1000)}) {
            SCOPED_TRACE(QStringLiteral("%1 at %2x%3")
                             .arg(QLatin1String(o.what))
                             .arg(size.width())
                             .arg(size.height())
                             .toStdString());
            looks::showAt(window, size);
            fakehv::queueInit(o.model());
            {
                ModalAnswerer answer(clickButton());
                ASSERT_EQ(window->connectSystem(o.sysType, o.linkType, QLatin1String(o.init),
                                                QStringLiteral("DemoCrate"), QLatin1String(o.user),
                                                QStringLiteral("admin")),
                          0);
            }
            ASSERT_FALSE(window->getSysInterfaceVector().isEmpty());
            QSystemInterface *s = window->getSysInterfaceVector().last();
            looks::settle();
            const QVector<textfit::Clip> main = textfit::clippedTexts(window);
            EXPECT_TRUE(main.isEmpty()) << "main window:\n" << textfit::report(main).toStdString();
            /* Selected header boxes write their names in bold. */
            for (QCustomBox *box : window->findChildren<QCustomBox *>())
                box->setSelected(true);
            looks::settle();
            const QVector<textfit::Clip> bold = textfit::clippedTexts(window);
            EXPECT_TRUE(bold.isEmpty()) << "selected boxes:\n" << textfit::report(bold).toStdString();
            if (QSystemInformations *panel = s->getSystemInfoWidget()) {
                int walked = 0, clicked = 0;
                const QVector<textfit::Clip> dialogs = looks::walkPanelDialogs(panel, &walked, &clicked);
                /* Every button opens a dialog or asks first. */
                EXPECT_GE(walked, clicked);
                std::cerr << o.what << ": " << clicked << " buttons, " << walked << " windows\n";
                EXPECT_TRUE(dialogs.isEmpty()) << "dialogs:\n" << textfit::report(dialogs).toStdString();
            }
            ModalAnswerer leave(clickButton());
            window->disconnectFromSystem(0);
            ASSERT_TRUE(window->getSysInterfaceVector().isEmpty());
            fakehv::reset();
        }
    }
};

TEST_F(Looks, EveryOfferedSystemTypeShowsItsTextsWhole)
{
    for (const Offered &o : offered())
        checkType(o);
}

/* The check itself: a label narrower than its text is found, an elided one
 * with its whole text in the tool tip is not. */
TEST(TextFit, FindsACutLabelAndAcceptsAnElidedOne)
{
    QWidget top;
    auto *cut = new QLabel(QStringLiteral("Board00 - HB3024 - [65637]"), &top);
    cut->setGeometry(0, 0, 40, 30);
    auto *elided = new QLabel(QStringLiteral("Boa\u2026"), &top);
    elided->setToolTip(QStringLiteral("Board00 - HB3024 - [65637]"));
    elided->setGeometry(0, 40, 200, 30);
    auto *button = new QPushButton(QStringLiteral("Disconnect"), &top);
    button->setGeometry(0, 80, 20, 30);
    top.resize(300, 200);
    top.show();
    looks::settle();
    const QVector<textfit::Clip> clips = textfit::clippedTexts(&top);
    ASSERT_EQ(clips.size(), 2) << textfit::report(clips).toStdString();
    EXPECT_EQ(clips[0].text, cut->text());
    EXPECT_EQ(clips[1].text, button->text());
}

} // namespace
