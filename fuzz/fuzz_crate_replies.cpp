// Crate replies: the system description of both generations, and the
// system property and parameter reads of a first-generation crate whose
// answers are the input (a hostile crate on loopback).
//
// The connection is made once. A peer thread answers the login and learns
// which requests each read sends; from then on this thread plays the crate
// itself: it puts the answers into the socket before the read and drains
// what is left after it, so an input costs no thread hand-over and no new
// connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/crate_protocol.h"
#include "crate/crate_sysinfo.h"
#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "hvwrapper/crate/crate_test_util.h"
#include "hvwrapper/crate/framed_server.h"

using namespace koruhv;

namespace {

constexpr uint32_t kSession = 0x01020304;
constexpr const char *kAddress = "127.0.0.91";

std::string answer(const std::string &kw, const std::string &data)
{
    if (kw == "LOGIN")
        return kw + ":" + testdev::be16(0) + ":ok:" + testdev::be32(kSession);
    return kw + ":" + testdev::be32(kSession) + ":" + testdev::be16(0) + ":ok" +
           (data.empty() ? "" : ":" + data);
}

std::string frame(const std::string &payload)
{
    return testdev::be32(uint32_t(payload.size())) + payload;
}

bool sendAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Reads and drops what is waiting on fd without blocking.
void drain(int fd)
{
    char buf[65536];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

using Read = std::function<void(int handle)>;

std::vector<Read> reads()
{
    std::vector<Read> out;
    for (const PropertyRow *r = Crate_PropertyTable(0); r && std::strcmp(r->name, "Nothing") != 0; ++r) {
        const char *name = r->name;
        out.push_back([name](int h) {
            alignas(8) char buf[4096];
            KORUHV_GetSysProp(h, name, buf);
        });
    }
    out.push_back([](int h) {
        alignas(8) char buf[4096];
        unsigned short slots[] = {3};
        KORUHV_GetBdParam(h, 1, slots, "Temp", buf);
    });
    for (const char *param : {"V0Set", "Status"})
        out.push_back([param](int h) {
            alignas(8) char buf[4096];
            unsigned short channels[] = {0, 1, 2};
            KORUHV_GetChParam(h, 3, param, 3, channels, buf);
        });
    out.push_back([](int h) {
        unsigned short channels[] = {0, 1, 2};
        char names[3][KORUHV_CHANNEL_NAME_SIZE];
        KORUHV_GetChName(h, 3, 3, channels, names);
    });
    return out;
}

struct HostileCrate {
    int handle = -1;
    int conn = -1; // the crate's end of the connection
    int lib = -1;  // the library's end (same process)
    std::vector<Read> calls = reads();
    std::vector<std::vector<std::string>> keywords; // requests each read sends

    HostileCrate()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, kAddress, &a.sin_addr);
        socklen_t len = sizeof a;
        if (::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            ::close(listener);
            return;
        }
        CrateTransport_SetPortForTest(ntohs(a.sin_port));

        // The peer thread: every request gets an answer with no data (the
        // system description for its request); the keywords are noted.
        std::mutex m;
        std::vector<std::string> seen;
        std::atomic<bool> stop{false};
        std::thread peer([&] {
            pollfd p{listener, POLLIN, 0};
            while (!stop && ::poll(&p, 1, 20) <= 0) {
            }
            if (stop)
                return;
            conn = ::accept(listener, nullptr, nullptr);
            std::string pending;
            while (!stop && conn >= 0) {
                pollfd q{conn, POLLIN, 0};
                if (::poll(&q, 1, 20) <= 0)
                    continue;
                char buf[4096];
                const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                pending.append(buf, size_t(n));
                while (pending.size() >= 4) {
                    const auto *u = reinterpret_cast<const uint8_t *>(pending.data());
                    const uint32_t l = uint32_t(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3];
                    if (pending.size() < 4 + size_t(l))
                        break;
                    const std::string req = pending.substr(4, l);
                    pending.erase(0, 4 + size_t(l));
                    const std::string kw = req.substr(0, req.find(':'));
                    {
                        std::lock_guard<std::mutex> g(m);
                        seen.push_back(kw);
                    }
                    sendAll(conn, frame(answer(kw, kw == "GETSYSINFO" ? cratetest::sampleSysInfo() : "")));
                }
            }
        });
        KORUHV_InitSystem(1, 0, const_cast<char *>(kAddress), "u", "p", &handle);
        for (const Read &call : calls) {
            {
                std::lock_guard<std::mutex> g(m);
                seen.clear();
            }
            if (handle >= 0)
                call(handle); // returns once its last answer came
            std::lock_guard<std::mutex> g(m);
            keywords.push_back(seen);
        }
        stop = true;
        peer.join();
        // Reads answered from what the library already holds are left out.
        for (size_t i = calls.size(); i-- > 0;)
            if (keywords[i].empty()) {
                calls.erase(calls.begin() + long(i));
                keywords.erase(keywords.begin() + long(i));
            }
        ::close(listener);
        if (handle < 0 || conn < 0)
            return;
        // The library's end is the socket whose local address is the
        // crate's peer address.
        sockaddr_in want{}, have{};
        len = sizeof want;
        ::getpeername(conn, reinterpret_cast<sockaddr *>(&want), &len);
        for (int fd = 3; fd < 1024 && lib < 0; ++fd) {
            len = sizeof have;
            if (fd != conn && ::getsockname(fd, reinterpret_cast<sockaddr *>(&have), &len) == 0 &&
                have.sin_family == AF_INET && have.sin_port == want.sin_port &&
                have.sin_addr.s_addr == want.sin_addr.s_addr)
                lib = fd;
        }
        // A read that sends a request no answer was put in for waits this
        // long instead of the 20 s of a real crate.
        CrateTransport_SetTimeoutsForTest(0, 100);
    }
};

void parseDescriptions(const uint8_t *d, size_t n)
{
    CrateSystemInfo *info = nullptr;
    ByteCursor big(d, n);
    if (Crate_ParseSystemInfo(big, &info) == 0)
        delete info;
    info = nullptr;
    ByteCursor little(d, n, ByteOrder::Little);
    if (P8080_ParseSystemInfo(little, &info) == 0)
        delete info;
}

} // namespace

// The first byte chooses: odd, the rest is a system description; even, its
// upper bits pick the read and the rest is the data of every answer it gets.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n)
{
    if (n == 0)
        return 0;
    if (d[0] & 1) {
        parseDescriptions(d + 1, n - 1);
        return 0;
    }
    if (n > 16384)
        return -1; // the answers stay within the socket buffers: sending never blocks
    static HostileCrate *crate = new HostileCrate; // lives for the whole run
    if (crate->lib < 0 || crate->calls.empty())
        return 0;
    const size_t which = size_t(d[0] >> 1) % crate->calls.size();
    const std::string data(reinterpret_cast<const char *>(d + 1), n - 1);
    std::string answers;
    for (const std::string &kw : crate->keywords[which])
        answers += frame(answer(kw, data));
    if (!sendAll(crate->conn, answers))
        return 0;
    crate->calls[which](crate->handle);
    drain(crate->conn); // the requests
    drain(crate->lib);  // answers a read left unread
    return 0;
}
