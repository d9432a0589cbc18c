// The command connection's carry-over, over loopback against a fake peer:
// replies that came before their request are never taken for it, a reply
// that comes in pieces is put together, a long reply is read past the
// buffer, a silent peer times out. For the crate (big-endian) and the rack supply
// (little-endian) framings.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crate/crate_transport.h"
#include "crate/p8080_backend.h"
#include "wait_progress.h"

using namespace koruhv;

namespace {

std::string frame(ByteOrder order, const std::string &body)
{
    uint8_t len[4];
    Crate_Store32(len, uint32_t(body.size()), order);
    return std::string(reinterpret_cast<const char *>(len), 4) + body;
}

bool readExact(int fd, size_t n, std::string *out)
{
    out->resize(n);
    size_t off = 0;
    while (off < n) {
        ssize_t k = ::recv(fd, out->data() + off, n - off, 0);
        if (k <= 0)
            return false;
        off += size_t(k);
    }
    return true;
}

void sendBytes(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        ssize_t k = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (k <= 0)
            return;
        off += size_t(k);
    }
}

// A peer on 127.0.0.2 that, for each request frame it reads, runs the next
// step of its script (which writes whatever the case needs).
class FakePeer {
public:
    using Step = std::function<void(int fd)>;
    FakePeer(ByteOrder order, std::vector<Step> steps) : order_(order), steps_(std::move(steps))
    {
        lis_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = inet_addr("127.0.0.2");
        socklen_t len = sizeof sa;
        if (::bind(lis_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(lis_, 1) != 0 ||
            ::getsockname(lis_, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
            return;
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~FakePeer()
    {
        ::shutdown(lis_, SHUT_RDWR);
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
        ::close(lis_);
    }
    uint16_t port() const { return port_; }
    std::vector<std::string> requests; // read once the peer is joined

private:
    void run()
    {
        const int fd = ::accept(lis_, nullptr, nullptr);
        if (fd < 0)
            return;
        fd_ = fd;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (const Step &step : steps_) {
            std::string len, body;
            if (!readExact(fd, 4, &len) ||
                !readExact(fd, Crate_Load32(reinterpret_cast<const uint8_t *>(len.data()), order_), &body))
                break;
            requests.push_back(body);
            step(fd);
        }
        // Holds the connection until the client closes it or the peer ends.
        std::string rest;
        readExact(fd, 1, &rest);
    }
    ByteOrder order_;
    std::vector<Step> steps_;
    int lis_ = -1;
    std::atomic<int> fd_{-1}; // closed by the destructor, after the join
    uint16_t port_ = 0;
    std::thread thread_;
};

// One framing under test: opens its connection to the peer and runs one
// request-reply on it.
struct Framing {
    const char *name;
    ByteOrder order;
    bool rack;
};

class Carry : public ::testing::TestWithParam<Framing> {
protected:
    static constexpr int kRack = 29;
    void TearDown() override
    {
        Crate_CloseContext(ctx());
        ctx().sessionId = 0;
        ctx().command = nullptr;
        CrateTransport_SetTimeoutsForTest(0, 0);
    }
    CrateContext &ctx() { return GetParam().rack ? P8080_Contexts()[kRack] : ctx_; }
    void open(uint16_t port)
    {
        ASSERT_EQ(Crate_OpenContext(ctx(), "TCP/IP", "127.0.0.2", port), CRATE_OK);
        ctx().order = GetParam().order;
    }
    // 0 and the reply's bytes, or the error code.
    int exchange(const std::string &req, std::string *reply)
    {
        uint8_t *r = nullptr;
        size_t n = 0;
        int rc;
        if (GetParam().rack) {
            RequestBuffer buf(ByteOrder::Little);
            buf.text(req.c_str());
            rc = P8080_Exchange(kRack, buf, &r, &n);
        } else {
            rc = Crate_Exchange(ctx(), reinterpret_cast<const uint8_t *>(req.data()), req.size(), &r, &n);
        }
        reply->assign(reinterpret_cast<const char *>(r ? r : reinterpret_cast<const uint8_t *>("")), n);
        std::free(r);
        return rc;
    }
    std::string f(const std::string &body) const { return frame(GetParam().order, body); }
    CrateContext ctx_;
};

TEST_P(Carry, RepliesThatCameBeforeTheirRequestAreNeverTakenForIt)
{
    // The answer to A comes twice in one segment, with a third copy behind
    // it: before B goes out, a request whose reply can be told apart goes
    // first and every frame up to its reply is dropped; B gets its own.
    const std::string sync = GetParam().rack ? "GETCRATEMAP" : "GETSWREL";
    FakePeer peer(GetParam().order,
                  {[&](int fd) { sendBytes(fd, f("A:first") + f("A:first") + f("A:first")); },
                   [&](int fd) { sendBytes(fd, f(sync + ":in step")); },
                   [&](int fd) { sendBytes(fd, f("B:second")); }});
    open(peer.port());
    std::string reply;
    ASSERT_EQ(exchange("A", &reply), 0);
    EXPECT_EQ(reply, "A:first");
    ASSERT_EQ(exchange("B", &reply), 0);
    EXPECT_EQ(reply, "B:second");
}

TEST_P(Carry, AFrameThatCameUnaskedAfterAQuietSpellIsFoundBeforeTheNextRequest)
{
    // A's reply, then a copy of it a few milliseconds later on its own:
    // once the connection was quiet that long, the look before B finds it.
    const std::string sync = GetParam().rack ? "GETCRATEMAP" : "GETSWREL";
    std::atomic<bool> copySent{false};
    FakePeer peer(GetParam().order, {[&](int fd) {
                                         sendBytes(fd, f("A:own"));
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                         sendBytes(fd, f("A:copy"));
                                         copySent = true;
                                     },
                                     [&](int fd) { sendBytes(fd, f(sync + ":in step")); },
                                     [&](int fd) { sendBytes(fd, f("B:own")); }});
    open(peer.port());
    std::string reply;
    ASSERT_EQ(exchange("A", &reply), 0);
    EXPECT_EQ(reply, "A:own");
    ASSERT_TRUE(koru_test::waitFor([&] { return copySent.load(); }));
    ASSERT_EQ(exchange("B", &reply), 0);
    EXPECT_EQ(reply, "B:own");
}

TEST_P(Carry, ACheckedRequestTakesTheFrameJustBeforeTheChecksReply)
{
    // A check request goes behind each request once the link is suspect:
    // an old check reply with nothing before it, and a stray frame before
    // the request's own, are dropped; the link stays suspect, so the next
    // request is checked too.
    const std::string check = GetParam().rack ? "GETCRATEMAP" : "GETSWREL";
    FakePeer peer(GetParam().order,
                  {[&](int fd) { sendBytes(fd, f(check + ":old") + f("A:stray") + f("A:own")); },
                   [&](int fd) { sendBytes(fd, f(check + ":now")); },
                   [&](int fd) { sendBytes(fd, f("B:next")); },
                   [&](int fd) { sendBytes(fd, f(check + ":now")); }});
    open(peer.port());
    ctx().sessionId = 7;
    ctx().command = Crate_FindCommand("GETCHPARAM");
    ctx().carry.check.strayFrame();
    std::string reply;
    ASSERT_EQ(exchange("A", &reply), 0);
    EXPECT_EQ(reply, "A:own");
    ASSERT_EQ(exchange("B", &reply), 0);
    EXPECT_EQ(reply, "B:next");
    EXPECT_EQ(ctx().carry.check.suspect, kReplyCheckSuspect - 1);
}

TEST_P(Carry, AReplySplitByteByByteIsPutTogether)
{
    const std::string r1 = f("A:split into single bytes"), r2 = f("B:next");
    FakePeer peer(GetParam().order, {[&](int fd) {
                                         for (char c : r1) {
                                             sendBytes(fd, std::string(1, c));
                                             std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                         }
                                     },
                                     [&](int fd) { sendBytes(fd, r2); }});
    open(peer.port());
    std::string reply;
    ASSERT_EQ(exchange("A", &reply), 0);
    EXPECT_EQ(reply, "A:split into single bytes");
    ASSERT_EQ(exchange("B", &reply), 0);
    EXPECT_EQ(reply, "B:next");
}

TEST_P(Carry, AReplyLongerThanTheBufferAndTheOneAfterIt)
{
    std::string big(3 * FrameCarry::kSize + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 26);
    big.replace(0, 2, "A:");
    FakePeer peer(GetParam().order,
                  {[&](int fd) { sendBytes(fd, f(big)); }, [&](int fd) { sendBytes(fd, f("B:after")); }});
    open(peer.port());
    std::string reply;
    ASSERT_EQ(exchange("A", &reply), 0);
    EXPECT_EQ(reply, big);
    ASSERT_EQ(exchange("B", &reply), 0);
    EXPECT_EQ(reply, "B:after");
}

TEST_P(Carry, ASilentPeerTimesOutAndAClosedOneIsReported)
{
    CrateTransport_SetTimeoutsForTest(0, 300);
    FakePeer peer(GetParam().order, {[](int) {}, [](int fd) { ::shutdown(fd, SHUT_WR); }});
    open(peer.port());
    std::string reply;
    const int timeout = GetParam().rack ? int(P8080_ERR_RECEIVE) : int(CRATE_ERR_TIMEOUT);
    const int closed = GetParam().rack ? int(P8080_ERR_RECEIVE) : int(CRATE_ERR_SERVER_DOWN);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange("A", &reply), timeout);
    // A guard against a hang only: the bound is 300 ms.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_EQ(exchange("B", &reply), closed);
}

INSTANTIATE_TEST_SUITE_P(Framings, Carry,
                         ::testing::Values(Framing{"crate", ByteOrder::Big, false},
                                           Framing{"rack", ByteOrder::Little, true}),
                         [](const ::testing::TestParamInfo<Framing> &i) {
                             return std::string(i.param.name);
                         });

} // namespace
