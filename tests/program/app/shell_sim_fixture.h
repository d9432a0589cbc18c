/* Fixture of the shell's simulator tests: a main window over the real
 * wrapper and a crate simulator on loopback (a small crate whose model
 * ticks every 50 ms), in a temporary working folder, with the event server
 * on a free loopback port. */
#ifndef SHELL_SIM_FIXTURE_H
#define SHELL_SIM_FIXTURE_H

/* First: the simulator's headers use words that Qt defines as macros. */
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"

#include "KORUHVEventServer.h"
#include "MainWindow.h"
#include "QSystemInterface.h"
#include "app_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

class CrateShellTest : public ::testing::Test {
protected:
    /* The event server, the simulator on the address and the window. */
    void startCrate(const char *address)
    {
        env = std::make_unique<ShellTestEnvironment>();
        port = startTestEventServer();
        korusim::CrateSimOptions opt;
        opt.tickPeriod = std::chrono::milliseconds(50);
        sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::smallCrate(), address, 0, opt);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        koruhv::CrateTransport_SetPortForTest(sim->port());
        threadsBefore = processThreadCount();
        window = new MainWindow;
    }
    void TearDown() override
    {
        stopEventServer();
        delete window;
        window = nullptr;
        if (sim)
            sim->stop();
        koruhv::CrateTransport_SetPortForTest(0);
        env.reset();
    }
    /* Connects the crate on the address as "SimCrate": its interface, or
     * null. Boxes during the call get clickButton() unless the test answers
     * them itself (answerBoxes false). */
    QSystemInterface *connectCrate(const char *address, bool answerBoxes = true)
    {
        std::optional<ModalAnswerer> answer;
        if (answerBoxes)
            answer.emplace(clickButton());
        const int rc = window->connectSystem(2, 0, QLatin1String(address), QStringLiteral("SimCrate"),
                                             QStringLiteral("admin"), QStringLiteral("admin"));
        EXPECT_EQ(rc, 0) << "connecting " << address;
        return rc == 0 ? window->getSysInterfaceVector().last() : nullptr;
    }

    std::unique_ptr<ShellTestEnvironment> env;
    std::unique_ptr<korusim::CrateSim> sim;
    unsigned short port = 0;
    int threadsBefore = 0; // of this process, before the window
    MainWindow *window = nullptr;
};

#endif
