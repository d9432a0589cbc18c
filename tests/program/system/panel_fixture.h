// The fixture of the panel tests over scripted systems of the fake wrapper:
// scripted crate and rack systems, and a panel built over one of them.
#pragma once

#include "FakeWrapper.h"
#include "KORUHVNode.h"
#include "QSystemInterface.h"
#include "panel_support.h"

#include <QDateTime>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace paneltest {

using fakehv::Raw;

inline fakehv::SysProp prop(unsigned type, unsigned mode, Raw value, int setCode = 0)
{
    fakehv::SysProp p;
    p.type = type;
    p.mode = mode;
    p.value = std::move(value);
    p.setCode = setCode;
    return p;
}

// A system with the given properties and `boards` boards of two channels
// (each channel has "Pw" and a look-alike "pw"), "ClrAlarm" on the boards:
// write-only on the first, read-write on the others.
inline fakehv::System scripted(std::vector<fakehv::NamedSysProp> props, int boards = 2)
{
    fakehv::System sys;
    sys.props = std::move(props);
    for (int b = 0; b < boards; ++b) {
        fakehv::Board &board = sys.addBoard(static_cast<unsigned short>(b), 2);
        board.params.push_back({"ClrAlarm", {1, b == 0 ? 1u : 2u, Raw::u32(0)}});
        for (fakehv::Channel &ch : board.channels) {
            ch.params.push_back({"Pw", {1, 2, Raw::u32(1)}});
            ch.params.push_back({"pw", {1, 2, Raw::u32(1)}});
        }
    }
    sys.errorText = "Refused by the device";
    return sys;
}

inline std::vector<fakehv::NamedSysProp> crateProps(uint16_t frontPanOut = 0)
{
    return {
        {"Sessions", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("admin"))},
        {"FrontPanOut", prop(fakehv::SYSPROP_U16, 0, Raw::u16(frontPanOut))},
        {"GenSignCfg", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0x25))},
        {"ResFlagCfg", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0x3F))},
        {"ipaddr", prop(fakehv::SYSPROP_TEXT, 2, Raw::text("10.0.0.1"))},
        {"HVFanSpeed", prop(fakehv::SYSPROP_U16, 2, Raw::u16(1))},
        {"HVFanStat", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("1:1500:0:0"))},
        {"PWFanStat", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("1:1500:0"))},
        {"HVFanStatX", prop(fakehv::SYSPROP_TEXT, 0, Raw::text("x"))},
        {"Temp", prop(fakehv::SYSPROP_FLOAT, 0, Raw::f32(21.5f))},
    };
}

inline std::vector<fakehv::NamedSysProp> rackProps(bool withAcdcStatus, uint16_t acdc = 1,
                                                   int acdcPwrCode = 0)
{
    std::vector<fakehv::NamedSysProp> props = {
        {"FrontPanOut", prop(fakehv::SYSPROP_U16, 0, Raw::u16(0))},
        {"acdcpwr", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0), acdcPwrCode)},
        {"RstRecFlag", prop(fakehv::SYSPROP_U16, 2, Raw::u16(0))},
    };
    if (withAcdcStatus)
        props.push_back({"ACDCStatus", prop(fakehv::SYSPROP_U16, 0, Raw::u16(acdc))});
    return props;
}

inline void click(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton);
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override { fakehv::reset(); }

    // Opens the scripted system and builds its panel.
    QSystemInformations *make(int type, fakehv::System sys, QString address = QStringLiteral("127.0.0.2"),
                              int link = 0, unsigned short slotCount = 16)
    {
        handle = fakehv::addSystem(sys);
        KORUHVNode *root = buildTree(handle, type, link, address, slotCount);
        host = std::make_unique<PanelHost>(type, link, address, root);
        host->panel->show();
        fakehv::clearCalls();
        return host->panel;
    }
    QSystemInformations *panel() const { return host->panel; }
    KORUHVNode *root() const { return host->iface->getSystemNode(); }
    KORUHVNode *param(const QString &name) const
    {
        for (KORUHVNode *p : root()->getParameters())
            if (p->getNodeName() == name)
                return p;
        return nullptr;
    }
    void setLive(const QString &name, const QVariant &value)
    {
        param(name)->setNodeValue(KORUHVNodeValue(value, QUALITY_GOOD, QDateTime::currentDateTime()));
    }

    int handle = -1;
    std::unique_ptr<PanelHost> host;
};

} // namespace paneltest
