// Byte builders for crafted crate replies and batches (big-endian), and
// reads in turn through the API for the tests of a shifted reply stream.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/crate_transport.h"
#include "fault_proxy.h"
#include "wait_progress.h"

namespace cratetest {

inline std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v)};
}
inline std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
inline std::string bytes(const uint8_t *p, size_t n)
{
    return std::string(reinterpret_cast<const char *>(p), n);
}

// One 32-byte descriptor record of a system description.
inline std::string descriptor(const std::string &name, uint16_t type, bool writable, bool isSigned,
                              int32_t min, int32_t max, uint16_t decimals, uint16_t factor, int16_t unit = 0,
                              int16_t exp = 0)
{
    std::string r = name.substr(0, 10);
    r.resize(10, '\0');
    r += be32(uint32_t(type) << 16 | (writable ? 0x8000u : 0) | (isSigned ? 0x4000u : 0));
    if (type == 1) {
        std::string on = "On", off = "Off";
        on.resize(8, '\0');
        off.resize(8, '\0');
        r += on + off + std::string(2, '\0');
    } else {
        r += be32(uint32_t(min)) + be32(uint32_t(max)) + be16(decimals) + be16(factor) +
             be16(uint16_t(unit)) + be16(uint16_t(exp)) + be16(0);
    }
    return r;
}

// System description: descriptors 0 V0Set (signed, f10 d1), 1 Pw (on/off),
// 2 Status (channel word), 3 BdStatus (board word), 4 Temp (numeric, f1 d0),
// 5 V0Set (f100 d2); one board in slot 3 with board params {3, 4} and
// three channels {0,1,2}, {5,1,2}, {0,1,2}.
inline std::string sampleSysInfo()
{
    std::string d;
    d += be16(6) + ":";
    d += descriptor("V0Set", 0, true, true, -10000, 10000, 1, 10);
    d += descriptor("Pw", 1, true, false, 0, 0, 0, 0);
    d += descriptor("Status", 2, false, false, 0, 0, 0, 0);
    d += descriptor("BdStatus", 3, false, false, 0, 0, 0, 0);
    d += descriptor("Temp", 0, false, false, 0, 100, 0, 1, 7, 0);
    d += descriptor("V0Set", 0, true, false, 0, 300000, 2, 100);
    d += ":" + be16(1) + ":";
    d += be16(3) + ":";
    d += be16(3) + ":";
    d += be16(2) + ":" + be16(3) + be16(4) + ":";
    for (int ch = 0; ch < 3; ++ch)
        d += be16(3) + ":" + be16(ch == 1 ? 5 : 0) + be16(1) + be16(2) + ":";
    return d;
}

// A datagram socket of the test on 127.0.0.1 and a port of its own, for
// the events of a first-generation crate; closed at the end.
struct DatagramReceiver {
    int fd = -1;
    sockaddr_in address{};
    bool bound = false;
    DatagramReceiver()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        socklen_t l = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &l);
    }
    ~DatagramReceiver() { ::close(fd); }
    DatagramReceiver(const DatagramReceiver &) = delete;
    DatagramReceiver &operator=(const DatagramReceiver &) = delete;
    // The port as the subscription calls take it.
    short port() const { return short(ntohs(address.sin_port)); }
};

// Sets "V0Set" of channels 0..3 of slot 0, one request each.
inline void setVolts(int handle, const float (&volts)[4])
{
    for (unsigned short ch = 0; ch < 4; ++ch) {
        float v = volts[ch];
        ASSERT_EQ(KORUHV_SetChParam(handle, 0, "V0Set", 1, &ch, &v), 0) << "channel " << ch;
    }
}

// Reads "V0Set" of channels 0..3 of slot 0 in turn, back to back, count
// times; per read whether it gave 0 and its own channel's value (volts).
inline std::vector<bool> readsInTurn(int handle, const float (&volts)[4], int count)
{
    std::vector<bool> own;
    for (int i = 0; i < count; ++i) {
        unsigned short ch = static_cast<unsigned short>(i % 4);
        float v = -1;
        const int rc = KORUHV_GetChParam(handle, 0, "V0Set", 1, &ch, &v);
        own.push_back(rc == 0 && std::fabs(v - volts[ch]) < 0.05f);
    }
    return own;
}

// Index of the last read that did not give its own value; -1 when none.
inline int lastShifted(const std::vector<bool> &own)
{
    for (int i = int(own.size()) - 1; i >= 0; --i)
        if (!own[size_t(i)])
            return i;
    return -1;
}

// The reads as text for a failure message: '.' own value, 'x' not.
inline std::string shiftPattern(const std::vector<bool> &own)
{
    std::string s;
    for (bool b : own)
        s += b ? '.' : 'x';
    return s;
}

// A reply stream shifted by the proxy in front of a crate or the rack, one
// case per login: a copy of a reply sent when the next request comes, over
// a link with a network's latency and over one without, or a timed-out
// reply released behind the resynchronisation's reply. Reads back to back
// may then be shifted for fewer than shiftedReads reads (the first ones
// cannot tell the copy apart). open() logs in through the proxy and gives
// the handle (-1 on failure); timedOut is the code of the read whose reply
// the proxy holds back past the bound.
template <typename Open, typename Close>
void expectShiftsToEnd(koru_test::FaultProxy &proxy, int timedOut, Open open, Close close)
{
    const float volts[4] = {100, 200, 300, 400};
    const struct {
        const char *what;
        bool late;
        int latencyMs;
        int shiftedReads;
    } cases[] = {{"a copy sent when the next request came", false, 20, int(koruhv::kReplyCheckEvery)},
                 {"the same on a link without latency", false, 0, int(koruhv::kReplyCheckLatest)},
                 {"a timed-out reply released behind the resynchronisation's", true, 20, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        proxy.setLatency(c.latencyMs);
        const int h = open();
        ASSERT_GE(h, 0);
        ASSERT_NO_FATAL_FAILURE(setVolts(h, volts));
        if (c.late) {
            unsigned short ch = 3;
            float v = -1;
            proxy.holdBehindNext(5);
            EXPECT_EQ(KORUHV_GetChParam(h, 0, "V0Set", 1, &ch, &v), timedOut) << c.what;
        } else {
            proxy.doubleAtNextRequest();
        }
        const std::vector<bool> own = readsInTurn(h, volts, c.shiftedReads + 20);
        EXPECT_LT(lastShifted(own), c.shiftedReads) << c.what << ": " << shiftPattern(own);
        close(h);
    }
}

// What a family answers on a link fault: the code of the read (0: any code
// but 0) and the system's error text after it (null: not checked).
struct FaultAnswer {
    int code;
    const char *text;
};

inline void expectAnswer(int handle, int rc, const FaultAnswer &a, const std::string &what)
{
    if (a.code)
        EXPECT_EQ(rc, a.code) << what;
    else
        EXPECT_NE(rc, 0) << what;
    if (a.text) {
        EXPECT_STREQ(KORUHV_GetError(handle), a.text) << what;
    }
}

// A reply held back past the reply bound (boundMs), one sent twice and one
// cut short, each by the proxy in front of the device the handle is open
// on: every read after it returns its own channel's value (within
// tolerance), or fails, and never another request's value. late: the
// answer to the read whose reply is held back; cut: to every read once the
// reply was cut inside its data (the device's session is gone with its
// connection, and those reads return nothing).
inline void expectNoReplyTakenForALaterRequest(koru_test::FaultProxy &proxy, int handle, int boundMs,
                                               const FaultAnswer &late, const FaultAnswer &cut,
                                               float tolerance)
{
    const float volts[4] = {100, 200, 300, 400};
    ASSERT_NO_FATAL_FAILURE(setVolts(handle, volts));
    auto read = [&](unsigned short ch, float *v) { return KORUHV_GetChParam(handle, 0, "V0Set", 1, &ch, v); };
    auto eachOwnValue = [&](const char *after) {
        for (unsigned short ch : {0, 1, 2, 3, 0}) {
            float v = -1;
            ASSERT_EQ(read(ch, &v), 0) << after << ", channel " << ch;
            EXPECT_NEAR(v, volts[ch], tolerance) << after << ", channel " << ch;
        }
    };
    float v = -1;

    proxy.delayNext(boundMs * 3 / 2);
    expectAnswer(handle, read(3, &v), late, "the read whose reply came late");
    eachOwnValue("a late reply");

    const int out = proxy.repliesOut();
    proxy.doubleNext();
    ASSERT_EQ(read(2, &v), 0);
    EXPECT_NEAR(v, 300, tolerance);
    ASSERT_TRUE(koru_test::waitFor([&] { return proxy.repliesOut() >= out + 2; }));
    eachOwnValue("a doubled reply");

    proxy.cutNext(20);
    expectAnswer(handle, read(1, &v), {cut.code, nullptr}, "the read whose reply was cut");
    for (unsigned short ch : {0, 1, 2, 3}) {
        v = -1;
        expectAnswer(handle, read(ch, &v), {cut.code, nullptr},
                     "a read after the cut, channel " + std::to_string(ch));
        EXPECT_EQ(v, -1) << ch;
    }
    if (cut.text) {
        EXPECT_STREQ(KORUHV_GetError(handle), cut.text);
    }
}

} // namespace cratetest
