// The start of the program's tests over a simulated crate (*_simtest.cpp):
// the crate simulator's small crate on 127.0.0.2, its ramp off so that
// values stay as set, and the real wrapper logged in to it as "admin";
// at the end the handle closed, the wrapper's crate port back to its
// default and the simulator stopped. A test that
// builds on it sets up after it and tears its own part down before it:
//   void SetUp() override { ASSERT_NO_FATAL_FAILURE(OverSimCrate::SetUp()); ... }
//   void TearDown() override { ...; OverSimCrate::TearDown(); }
#pragma once

#include "KORUHVWrapper.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "system_tree.h"

#include <gtest/gtest.h>

#include <memory>

namespace koru_test {

class OverSimCrate : public ::testing::Test {
protected:
    void SetUp() override
    {
        korusim::CrateSimOptions opts;
        opts.ramp = false;
        sim = std::make_unique<korusim::CrateSim>(korusim::CrateModel::smallCrate(), "127.0.0.2", 0, opts);
        ASSERT_TRUE(sim->start()) << sim->errorText();
        koruhv::CrateTransport_SetPortForTest(sim->port());
        beforeLogin();
        char address[] = "127.0.0.2";
        ASSERT_EQ(KORUHV_InitSystem(2, 0, address, "admin", "admin", &handle), 0);
    }
    void TearDown() override
    {
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        koruhv::CrateTransport_SetPortForTest(0);
        sim->stop();
    }
    // What the crate holds before the wrapper first sees it.
    virtual void beforeLogin() {}

    // The tree of the crate ("HV", type 2 over TCP/IP) with the parts asked for.
    KORUHVNode *crateTree(TreeParts parts) const
    {
        auto *sys = new KORUHVNode();
        sys->KORUHVPrepareNode("HV", NODE_SYSTEM, 2, 0, "127.0.0.2", "admin", "admin");
        fillTree(sys, handle, 2, parts);
        return sys;
    }

    std::unique_ptr<korusim::CrateSim> sim;
    int handle = -1;
};

} // namespace koru_test
