// The fixture of the HX4400 tests against the crate simulator over
// loopback TCP: a small crate whose values change only when a test sets
// them, the library's transport hooks pointed at it, the login, and the
// test's own event server the crate connects back to.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "wait_progress.h"

namespace cratetest {

// Event server of the test on 127.0.0.1 (the crate connects back to it).
struct EventServer {
    int listenFd = -1;
    uint16_t port = 0;
    std::vector<int> accepted;
    EventServer()
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listenFd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(listenFd, 8), 0);
        socklen_t l = sizeof a;
        ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&a), &l);
        port = ntohs(a.sin_port);
    }
    ~EventServer()
    {
        for (int f : accepted)
            ::close(f);
        ::close(listenFd);
    }
    int accept(int ms = koru_test::kHangGuardMs)
    {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return -1;
        int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd >= 0)
            accepted.push_back(fd);
        return fd;
    }
};

// Reads batches until one holds a record named `name` (bounded).
inline bool waitRecord(int sock, const char *name, EventRecord *out, float value = NAN, int maxBatches = 40)
{
    for (int i = 0; i < maxBatches; ++i) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = 0;
        int rc = KORUHV_GetEventData(sock, &st, &ev, &n);
        if (rc != 0)
            return false;
        for (int k = 0; k < n; ++k)
            if (std::strcmp(ev[k].name, name) == 0 &&
                (std::isnan(value) || ev[k].value.FloatValue == value)) {
                *out = ev[k];
                KORUHV_FreeEventData(&ev);
                return true;
            }
        KORUHV_FreeEventData(&ev);
    }
    return false;
}

class CrateSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        koruhv::CrateTransport_SetTimeoutsForTest(0, 0);
        ASSERT_TRUE(sim.start()) << sim.errorText();
        koruhv::CrateTransport_SetPortForTest(sim.port());
    }
    void TearDown() override
    {
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        koruhv::CrateTransport_SetTimeoutsForTest(0, 0);
        koruhv::CrateTransport_SetPortForTest(0);
        EXPECT_TRUE(sim.protocolErrors().empty()) << sim.protocolErrors().front();
        sim.stop();
    }
    int open(const char *user = "admin", const char *password = "admin")
    {
        return KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.2"), user, password, &handle);
    }
    // The program's order before it subscribes: crate map, then parameter lists.
    void buildTree()
    {
        unsigned short n = 0, *counts = nullptr;
        char *models = nullptr, *descs = nullptr;
        unsigned *serials = nullptr;
        unsigned char *mi = nullptr, *ma = nullptr;
        ASSERT_EQ(KORUHV_GetCrateMap(handle, &n, &counts, &models, &descs, &serials, &mi, &ma), 0);
        for (unsigned short s = 0; s < n; ++s)
            for (unsigned short c = 0; c < counts[s]; ++c) {
                char *names = nullptr;
                int count = 0;
                ASSERT_EQ(KORUHV_GetChParamInfo(handle, s, c, &names, &count), 0);
                KORUHV_Free(names);
            }
        for (void *p :
             {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
            KORUHV_Free(p);
    }
    std::vector<std::string> keywords() const
    {
        std::vector<std::string> k;
        for (const korusim::CrateRequest &r : sim.requests())
            k.push_back(r.keyword);
        return k;
    }

    static korusim::CrateSimOptions quiet()
    {
        korusim::CrateSimOptions o;
        o.ramp = false; // values change only when a test sets them
        return o;
    }
    korusim::CrateSim sim{korusim::CrateModel::smallCrate(), "127.0.0.2", 0, quiet()};
    int handle = -1;
};

} // namespace cratetest
