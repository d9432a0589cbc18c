// The system dialogs over trees built through the real wrapper from the
// crate and rack simulators: sessions, system and technical information show
// what the simulators hold; NIM/TTL, "Logic" and "ACDCIlim" writes reach
// them (request logs), refused ones put the switch back.
#include "system_sim_fixture.h"

#include "crate/p8080_presets.h"

#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "SysDialogLaunchers.h"
#include "SysDialogTexts.h"
#include "modal_answer.h"
#include "qt_gtest_print.h"
#include "sysdialog_support.h"

#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using sdtest::labelText;
using sdtest::lamp;

namespace {

/* A raw login on the crate's command port from `source`: the connection
 * (keep it open while the session should last), or -1. */
int loginFrom(const char *source, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &a.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.2", &to.sin_addr);
    const std::string body = "LOGINSYSTEM:admin:admin";
    const uint32_t len = htonl(uint32_t(body.size()));
    std::string frame(reinterpret_cast<const char *>(&len), 4);
    frame += body;
    char reply[256];
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 ||
        ::send(fd, frame.data(), frame.size(), 0) != ssize_t(frame.size()) ||
        ::recv(fd, reply, sizeof reply, 0) <= 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v & 0xFF)};
}

KORUHVNode *systemTree(int handle, int type, const QString &address)
{
    auto *sys = new KORUHVNode();
    sys->KORUHVPrepareNode(QStringLiteral("HV"), NODE_SYSTEM, type, 0, address, QStringLiteral("admin"),
                           QStringLiteral("admin"));
    for (KORUHVNode *p : KORUHVConfig::KORUHVConfigCreateSystemProps(handle))
        sys->addParameter(p);
    for (KORUHVNode *slot : KORUHVConfig::KORUHVConfigCreateBoards(handle))
        sys->addChildNode(slot);
    return sys;
}

// The tree of a system opened over a simulator, as the dialogs read it.
class SysDlgSim : public systest::SimSystemTest {
protected:
    void openTree(int systemType, const char *address)
    {
        ASSERT_NO_FATAL_FAILURE(open(systemType, address));
        root.reset(systemTree(handle, systemType, QString::fromLatin1(address)));
    }
    void TearDown() override
    {
        root.reset();
        SimSystemTest::TearDown();
    }

    std::unique_ptr<KORUHVNode> root;
};

class SysDlgCrateSim : public SysDlgSim {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startCrate("127.0.0.2"));
        crate->setSysProp("SwRelease", "4.2-1.7");
        crate->setSysProp("CPULoad", "0.5:0.7:0.9");
        crate->setSysProp("MemoryStatus", " 100: 50:25:5");
        crate->setSysProp("PWCurrent", "1:2:3:4:5:6:7");
        crate->setSysProp("PWVoltage", "11:12:13:14:15:16");
        crate->setSysProp("FrontPanIn", be16(0x0030));
        crate->setSysProp("FrontPanOut", be16(0x0301));
        openTree(2, "127.0.0.2");
    }
};

TEST_F(SysDlgCrateSim, SessionsListTheClientsLoggedIn)
{
    // A second client logs in from another address; the list read
    // afterwards holds both logins.
    const int other = loginFrom("127.0.0.9", crate->port());
    ASSERT_GE(other, 0);
    std::unique_ptr<KORUHVNode> fresh(systemTree(handle, 2, QStringLiteral("127.0.0.2")));
    QList<QStringList> rows;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            auto *tree = d->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
            for (int i = 0; i < tree->topLevelItemCount(); ++i) {
                QStringList r;
                for (int c = 0; c < 5; ++c)
                    r << tree->topLevelItem(i)->text(c);
                rows << r;
            }
        },
        5000, koru_test::AfterAnswer::Close);
    sysdlg::runSessionDialog(fresh.get());
    ASSERT_TRUE(*reached);
    fresh.reset();
    ::close(other);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(1).at(4), QStringLiteral("127.0.0.9"));
    const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
    for (const QStringList &r : rows) {
        EXPECT_EQ(r.at(0), QStringLiteral("admin"));
        EXPECT_EQ(r.at(2), QStringLiteral("TCP/IP"));
        EXPECT_TRUE(time.match(r.at(3)).hasMatch()) << r.at(3).toStdString();
        EXPECT_TRUE(r.at(4).startsWith(QStringLiteral("127."))) << r.at(4).toStdString();
    }
}

TEST_F(SysDlgCrateSim, SystemAndTechnicalInformationShowTheCrateValues)
{
    sysdlg::SysInfoDialogSlot info;
    QStringList sys;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            sys = {labelText(d, "oneMin"), labelText(d, "fiveMin"), labelText(d, "fifteenMin"),
                   labelText(d, "total"),  labelText(d, "free"),    labelText(d, "used"),
                   labelText(d, "buffers")};
        },
        5000, koru_test::AfterAnswer::Close);
    info.open(root.get(), 2, QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(sys, (QStringList{"0.5", "0.7", "0.9", "100", "50", "25", "5"}));

    sysdlg::TechInfoDialogSlot tech;
    QStringList texts, lamps;
    reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            texts = {labelText(d, "fwRel"),    labelText(d, "fpgaRel"), labelText(d, "primIdd"),
                     labelText(d, "thirdIpw"), labelText(d, "vdd"),     labelText(d, "vcpu"),
                     labelText(d, "enable")};
            for (const char *l : {"ovc", "unv", "ovv", "chOn", "fanFail", "out"})
                lamps << lamp(d, l);
        },
        5000, koru_test::AfterAnswer::Close);
    tech.open(root.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(texts, (QStringList{"4.2", "1.7", "1", "7", "11", "16", "Remote"}));
    EXPECT_EQ(lamps, (QStringList{"on", "off", "off", "off", "on", "on"}));
}

TEST_F(SysDlgCrateSim, NimTtlWritesReachTheCrateAndARefusalPutsTheSwitchBack)
{
    sysdlg::TechInfoDialogSlot tech;
    bool afterRefusal = true;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            auto *sw = d->findChild<KORUHVSwitch *>();
            QTest::mouseClick(sw, Qt::LeftButton); // NIM -> TTL
            korusim::CrateFault refuse;
            refuse.keyword = "SETOUTPUTLEVEL";
            crate->addFault(refuse);
            QTest::mouseClick(sw, Qt::LeftButton); // TTL -> NIM, refused
            afterRefusal = sw->isChecked();
        },
        5000, koru_test::AfterAnswer::Close);
    tech.open(root.get(), QString());
    ASSERT_TRUE(*reached);
    EXPECT_EQ(crate->requestsFor("SETOUTPUTLEVEL").size(), 2u);
    EXPECT_EQ(crate->sysProp("OutputLevel").value_or(""), be16(1));
    EXPECT_TRUE(afterRefusal); // the crate still says TTL
    KORUHVNode *level = sysdlg::findParameter(root.get(), QStringLiteral("OutputLevel"), true);
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->getNodeValue().KORUHVGetQuality(), QUALITY_WRITE_FAILED);
    EXPECT_TRUE(crate->protocolErrors().empty());
}

class SysDlgRackSim : public SysDlgSim {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(startRack("127.0.0.3", korusim::techInfoRack()));
        openTree(16, "127.0.0.3");
    }
};

TEST_F(SysDlgRackSim, TechInfoShowsTheRackAndWritesLogic)
{
    QStringList texts, lamps;
    auto reached = koru_test::answerNextModal<QDialog>(
        [&](QDialog *d) {
            texts = {labelText(d, "PIDValue"), labelText(d, "swRel"), labelText(d, "fwRel"),
                     labelText(d, "fpgaRel"), labelText(d, "mainStat")};
            for (const char *l : {"ovc", "unv", "ovv", "chOn", "fanFail", "out"})
                lamps << lamp(d, l);
            QTest::mouseClick(d->findChild<KORUHVSwitch *>(), Qt::LeftButton);
        },
        5000, koru_test::AfterAnswer::Close);
    sysdlg::runTechInfoP8080Dialog(root.get(), QString());
    ASSERT_TRUE(*reached);
    // The rack's wire names hold 11 characters, so "SerialNumber" cannot
    // travel from the simulator: the PID stays at its default here (the
    // unsigned display is covered over the fake wrapper).
    EXPECT_EQ(texts, (QStringList{"0", "2.0.7", "1.4", "2.1", "5"}));
    EXPECT_EQ(lamps, (QStringList{"on", "off", "off", "off", "on", "on"}));
    EXPECT_EQ(rack->systemRaw("Logic").value_or(99), 1u);
    EXPECT_TRUE(rack->protocolErrors().empty());
}

TEST_F(SysDlgRackSim, SettingsShowTheTimingsAndWriteAChangedLimitOnce)
{
    for (const int choice : {1, 2}) { // unchanged, then changed
        rack->clearRequests();
        QStringList labels;
        auto reached = koru_test::answerNextModal<QDialog>(
            [&](QDialog *d) {
                labels = {labelText(d, "ql_LowFreq"), labelText(d, "ql_HiFreq"), labelText(d, "ql_RecPeriod"),
                          labelText(d, "ql_RstPeriod")};
                auto *cb = d->findChild<QComboBox *>(QStringLiteral("cb_48VIl"));
                labels << cb->currentText();
                cb->setCurrentIndex(choice);
                QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
            },
            5000, koru_test::AfterAnswer::Close);
        sysdlg::runSysInfoP8080Dialog(root.get(), QString());
        ASSERT_TRUE(*reached);
        EXPECT_EQ(labels.mid(0, 4), (QStringList{"50", "60", "100", "200"}));
        size_t writes = 0;
        for (const auto &r : rack->requests())
            if (r.keyword != "GETSYSPROP" && r.body.find("ACDCIlim") != std::string::npos)
                ++writes;
        EXPECT_EQ(writes, choice == 1 ? 0u : 1u) << choice;
    }
    EXPECT_EQ(rack->systemRaw("ACDCIlim").value_or(99), 2u);
    EXPECT_TRUE(rack->protocolErrors().empty());
}

} // namespace
