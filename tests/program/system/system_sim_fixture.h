// The fixture of the system folder's tests over the simulators: a crate or
// rack simulator on loopback with the library's hooks pointed at it, and
// the system opened through the real wrapper. A test closes what it built
// over the system before this fixture's TearDown closes the system, stops
// the simulator and restores the hooks.
#pragma once

// The simulators' headers first: they name members "slots", which Qt's
// keyword macro would swallow once a Qt header is in.
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "crate/p8080_sim.h"

#include "KORUHVWrapper.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace systest {

class SimSystemTest : public ::testing::Test {
protected:
    // A crate whose values change only when the test sets them.
    void startCrate(const char *address)
    {
        korusim::CrateSimOptions opts;
        opts.ramp = false;
        crate = std::make_unique<korusim::CrateSim>(korusim::CrateModel::smallCrate(), address, 0, opts);
        ASSERT_TRUE(crate->start()) << crate->errorText();
        koruhv::CrateTransport_SetPortForTest(crate->port());
    }
    void startRack(const char *address, korusim::P8080Model model, korusim::P8080SimOptions opts = {})
    {
        rack = std::make_unique<korusim::P8080Sim>(std::move(model), address, 0, opts);
        ASSERT_TRUE(rack->start()) << rack->errorText();
        key = rack->publicKeyPem();
        koruhv::P8080_SetPortForTest(rack->port());
        koruhv::P8080_SetPublicKeyForTest(key.c_str());
    }
    // Opens the system of that type on the address into handle.
    void open(int systemType, const char *address, const char *user = "admin", const char *password = "admin")
    {
        std::string a = address;
        ASSERT_EQ(KORUHV_InitSystem(systemType, 0, a.data(), user, password, &handle), 0) << a;
    }
    void TearDown() override
    {
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        handle = -1;
        if (crate) {
            koruhv::CrateTransport_SetPortForTest(0);
            crate->stop();
        }
        if (rack) {
            koruhv::P8080_SetPortForTest(0);
            koruhv::P8080_SetPublicKeyForTest(nullptr);
            rack->stop();
        }
    }

    std::unique_ptr<korusim::CrateSim> crate;
    std::unique_ptr<korusim::P8080Sim> rack;
    std::string key;
    int handle = -1;
};

} // namespace systest
