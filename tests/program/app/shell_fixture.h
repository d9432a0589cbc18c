/* Fixture of the shell's fake-wrapper tests: a fresh main window over the
 * fake wrapper, in a temporary working folder, with the event server on a
 * free loopback port. */
#ifndef SHELL_FIXTURE_H
#define SHELL_FIXTURE_H

#include "FakeWrapper.h"
#include "KORUHVEventServer.h"
#include "MainWindow.h"
#include "app_test_support.h"

#include <gtest/gtest.h>

#include <memory>

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehv::reset();
        env = std::make_unique<ShellTestEnvironment>();
        port = startTestEventServer();
        window = new MainWindow;
    }
    void TearDown() override
    {
        stopEventServer();
        delete window;
        window = nullptr;
        env.reset();
    }

public:
    /* A 16-slot crate: slot 0 a board of `channels` channels (VMon, Pw,
     * Status), the rest empty; two system properties. */
    static fakehv::System crate(int slotCount = 16, int channels = 2)
    {
        fakehv::System s;
        s.props.push_back({"ModelName", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("HX4400")}});
        s.props.push_back({"IPAddr", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("192.168.0.99")}});
        s.crate.resize(static_cast<size_t>(slotCount));
        fakehv::Board &b = s.addBoard(0, static_cast<unsigned short>(channels), "HB3002", 7);
        b.params.push_back({"BdStatus", {3, 0, fakehv::Raw::u32(0)}});
        b.params.push_back({"HVMax", {0, 2, fakehv::Raw::f32(3000.f)}});
        for (auto &ch : b.channels) {
            ch.params.push_back({"VMon", {0, 0, fakehv::Raw::f32(0.f)}});
            ch.params.push_back(
                {"Pw",
                 {1,
                  2,
                  fakehv::Raw::u32(0),
                  {{"Onstate", fakehv::Raw::text("On")}, {"Offstate", fakehv::Raw::text("Off")}}}});
            ch.params.push_back({"Status", {2, 0, fakehv::Raw::u32(0)}});
        }
        return s;
    }

protected:
    int connect(const QString &init = QStringLiteral("10.0.0.1"),
                const QString &name = QStringLiteral("Crate"), const fakehv::System &sys = crate(),
                int sysType = 2)
    {
        fakehv::queueInit(sys);
        return window->connectSystem(sysType, 0, init, name, QStringLiteral("admin"), QStringLiteral("pw"));
    }

    std::unique_ptr<ShellTestEnvironment> env;
    unsigned short port = 0;
    MainWindow *window = nullptr;
};

#endif
