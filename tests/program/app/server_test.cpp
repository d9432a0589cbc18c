/* The event server over loopback: identification texts, binding by peer
 * address, unmatched and slow peers, the port search, its bounds against
 * floods of connections and its pause while descriptors run out. */
#include "KORUHVEventServer.h"
#include "ShellGlobals.h"
#include "shell_fixture.h"
#include <QSignalSpy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <vector>

namespace {

/* A client socket bound to a loopback address, not yet connected. */
int boundSocket(const char *from)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

/* Connects the socket to the event server; opens no descriptor. */
bool connectToServer(int s, unsigned short port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    return ::connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
}

/* A client connection to the event server from a loopback address. */
int connectFrom(const char *from, unsigned short port)
{
    const int s = boundSocket(from);
    if (s >= 0 && !connectToServer(s, port)) {
        ::close(s);
        return -1;
    }
    return s;
}

/* True when the server closed the connection within the time. */
bool closedByServer(int s, int timeoutMs = koru_test::kHangGuardMs)
{
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    char c;
    return ::recv(s, &c, 1, MSG_DONTWAIT) == 0;
}

/* Client connections from one address; each is closed by the test once
 * the server has closed it, or at the end. */
class Clients {
public:
    Clients(const char *from, unsigned short port, int count)
    {
        for (int i = 0; i < count; ++i)
            fds.push_back(connectFrom(from, port));
    }
    ~Clients() { closeAll(); }
    bool allConnected() const { return std::find(fds.begin(), fds.end(), -1) == fds.end(); }
    /* Connections the server has closed so far (the test closes its ends). */
    int closedByServerCount()
    {
        for (int &fd : fds)
            if (fd >= 0 && closedByServer(fd, 0)) {
                ::close(fd);
                fd = -1;
                ++closed;
            }
        return closed;
    }
    /* One the server keeps open. */
    int anyOpen() const
    {
        for (int fd : fds)
            if (fd >= 0)
                return fd;
        return -1;
    }
    void closeAll()
    {
        for (int &fd : fds)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
    }

private:
    std::vector<int> fds;
    int closed = 0;
};

/* The soft descriptor limit lowered to the lowest free descriptor, so that
 * nothing new can be opened in the process, while it lives. */
class NoFreeDescriptor {
public:
    NoFreeDescriptor()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowest);
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(lowest);
        ok = lowest >= 0 && ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~NoFreeDescriptor() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    bool ok = false;

private:
    rlimit saved{};
};

} // namespace

struct IdentCase {
    QByteArray received;
    int result;
    QByteArray text;
    int used;
};

TEST(Identification, TakesTheTextUpToItsNulAndNothingBehind)
{
    const QByteArray batch("KORUHV\0\0\0\x10", 10);
    const IdentCase cases[] = {
        {QByteArray("10.0.0.1\0", 9) + batch, 1, "10.0.0.1", 9},
        {QByteArray("\0", 1), 1, "", 1},
        {QByteArray("ttyUSB0_9600", 12), 0, "", 0},
        {QByteArray(79, 'a') + QByteArray("\0", 1), 1, QByteArray(79, 'a'), 80},
        {QByteArray(80, 'a'), -1, "", 0},
    };
    for (const IdentCase &c : cases) {
        QByteArray text;
        int used = 0;
        EXPECT_EQ(KORUHVParseIdentification(c.received, &text, &used), c.result) << c.received.constData();
        if (c.result == 1) {
            EXPECT_EQ(text, c.text);
            EXPECT_EQ(used, c.used);
        }
    }
}

class ServerTest : public ShellTest {
protected:
    QSystemInterface *connectAt(const char *address, const char *name)
    {
        if (connect(QLatin1String(address), QLatin1String(name)) != 0)
            return nullptr;
        return window->getSysInterfaceVector().last();
    }
};

TEST_F(ServerTest, ACrateBindsByItsPeerAddress)
{
    QSystemInterface *a = connectAt("127.0.0.5", "A");
    QSystemInterface *b = connectAt("127.0.0.6", "B");
    ASSERT_TRUE(a && b);
    const int s = connectFrom("127.0.0.6", port);
    ASSERT_GE(s, 0);
    EXPECT_TRUE(waitUntil([&] { return b->eventReaderCount() == 1; }));
    EXPECT_EQ(a->eventReaderCount(), 0);
    ::close(s);
}

TEST_F(ServerTest, ALocalPeerBindsByItsTextAndKeepsTheBatchBehindIt)
{
    QSystemInterface *a = connectAt("ttyUSB0_9600_8_0_0_0", "Module");
    ASSERT_TRUE(a);
    const int s = connectFrom("127.0.0.1", port);
    ASSERT_GE(s, 0);
    /* Identification and a batch in one segment. */
    const QByteArray segment = QByteArray("ttyUSB0_9600_8_0_0_0\0", 21) + QByteArray("KORUHVbatch", 11);
    ASSERT_EQ(::send(s, segment.constData(), static_cast<size_t>(segment.size()), 0), segment.size());
    ASSERT_TRUE(waitUntil([&] { return a->eventReaderCount() == 1; }));
    /* The reader's socket still holds every byte of the batch. */
    char buf[32] = {0};
    pollfd p{a->getSysSocket(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    ASSERT_EQ(::recv(a->getSysSocket(), buf, sizeof buf, MSG_PEEK), 11);
    EXPECT_EQ(QByteArray(buf, 11), QByteArray("KORUHVbatch"));
    ::close(s);
}

TEST_F(ServerTest, NoMatchIsClosedAndOnlyTheFirstMatchBinds)
{
    QSystemInterface *a = connectAt("127.0.0.7", "A");
    QSystemInterface *b = connectAt("127.0.0.7", "B");
    ASSERT_TRUE(a && b);
    const int unmatched = connectFrom("127.0.0.8", port);
    EXPECT_TRUE(closedByServer(unmatched));
    const int local = connectFrom("127.0.0.1", port);
    ASSERT_EQ(::send(local, "ttyUSB1\0", 8, 0), 8); /* one character off */
    EXPECT_TRUE(closedByServer(local));
    const int matched = connectFrom("127.0.0.7", port);
    ASSERT_TRUE(waitUntil([&] { return a->eventReaderCount() == 1; }));
    EXPECT_EQ(b->eventReaderCount(), 0);
    ::close(unmatched);
    ::close(local);
    ::close(matched);
}

TEST_F(ServerTest, ASlowLocalPeerHoldsUpNoOtherAccept)
{
    QSystemInterface *a = connectAt("127.0.0.9", "A");
    ASSERT_TRUE(a);
    const int slow = connectFrom("127.0.0.1", port);
    ASSERT_EQ(::send(slow, "ttyU", 4, 0), 4); /* and nothing more */
    const int crate = connectFrom("127.0.0.9", port);
    EXPECT_TRUE(waitUntil([&] { return a->eventReaderCount() == 1; })) << "the crate was never bound";
    /* Bound while the slow one still waits for its identification: an
     * accept held up by it would come only after its time is up. */
    EXPECT_FALSE(closedByServer(slow, 0)) << "the crate was bound only once the slow peer was dropped";
    /* The slow one is dropped once its time is up. */
    EXPECT_TRUE(closedByServer(slow));
    ::close(slow);
    ::close(crate);
}

TEST_F(ServerTest, AP8080ReadsItsOwnEventSocketAndTheAcceptedOneIsClosed)
{
    fakehv::System sys = crate();
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    sys.eventDataSocket = sv[0];
    fakehv::queueEvents(sv[0], {fakehv::valueEvent(0, 0, 0, "VMon", fakehv::Raw::f32(7.f))});
    fakehv::queueInit(sys);
    ASSERT_EQ(window->connectSystem(16, 0, QStringLiteral("127.0.0.10"), QStringLiteral("Rack"),
                                    QStringLiteral("u"), QStringLiteral("p")),
              0);
    QSystemInterface *rack = window->getSysInterfaceVector().last();
    EXPECT_EQ(rack->eventReaderCount(), 1); /* started by the connection */
    ASSERT_TRUE(waitUntil([&] {
        for (const auto &c : fakehv::callsOf("KORUHV_GetEventData"))
            if (c.port == sv[0])
                return true;
        return false;
    }));
    const int accepted = connectFrom("127.0.0.10", port);
    EXPECT_TRUE(closedByServer(accepted));
    EXPECT_EQ(rack->eventReaderCount(), 1);
    ::close(accepted);
    window->disconnectFromSystem(0);
    ::close(sv[0]);
    ::close(sv[1]);
}

TEST_F(ServerTest, ConnectionsWaitingForTheirIdentificationAreBounded)
{
    ProgramLog log;
    /* The waiting ones stay for the whole test: only a refusal closes one. */
    setIdentificationTimeoutForTest(4 * koru_test::kHangGuardMs);
    QSystemInterface *module = connectAt("ttyUSB2_9600_8_0_0_0", "Module");
    QSystemInterface *crateIf = connectAt("127.0.0.12", "Crate");
    ASSERT_TRUE(module && crateIf);
    const int threads = processThreadCount();
    const int fds = openDescriptorCount();
    constexpr int flood = 100;
    Clients local("127.0.0.1", port, flood);
    ASSERT_TRUE(local.allConnected());
    ASSERT_TRUE(waitUntil([&] { return local.closedByServerCount() >= flood - KORUHV_MAX_WAITING_PEERS; }))
        << "refused: " << local.closedByServerCount();
    EXPECT_EQ(local.closedByServerCount(), flood - KORUHV_MAX_WAITING_PEERS);
    /* The test's own ends of the waiting ones, and the server's. */
    EXPECT_LE(openDescriptorCount(), fds + 2 * KORUHV_MAX_WAITING_PEERS + 2);
    EXPECT_EQ(processThreadCount(), threads);
    EXPECT_TRUE(log.has(QStringLiteral("LUMO2020: event connection from 127.0.0.1:")));
    EXPECT_TRUE(log.has(QStringLiteral(" refused: 32 connections are waiting for their identification")));

    /* A crate does not wait: it binds at once. */
    const int crate = connectFrom("127.0.0.12", port);
    EXPECT_TRUE(waitUntil([&] { return crateIf->eventReaderCount() == 1; }));
    /* A waiting one that identifies itself is bound and makes room: the
     * next local peer waits instead of being refused, and binds. */
    ASSERT_EQ(::send(local.anyOpen(), "ttyUSB2_9600_8_0_0_0\0", 21, 0), 21);
    ASSERT_TRUE(waitUntil([&] { return module->eventReaderCount() == 1; }));
    const int next = connectFrom("127.0.0.1", port);
    ASSERT_EQ(::send(next, "ttyUSB2_9600_8_0_0_0\0", 21, 0), 21);
    EXPECT_TRUE(waitUntil([&] { return module->eventReaderCount() == 2; }))
        << "the next local peer was refused";
    ::close(crate);
    ::close(next);
}

TEST_F(ServerTest, FurtherStreamsOfOneSystemAreBoundedAndAnEndedOneMakesRoom)
{
    ProgramLog log;
    QSystemInterface *a = connectAt("127.0.0.13", "A");
    ASSERT_TRUE(a);
    const int threads = processThreadCount();
    const int fds = openDescriptorCount();
    constexpr int kept = 1 + KORUHV_MAX_FURTHER_STREAMS;
    constexpr int flood = 100;
    Clients streams("127.0.0.13", port, flood);
    ASSERT_TRUE(streams.allConnected());
    ASSERT_TRUE(waitUntil([&] { return streams.closedByServerCount() >= flood - kept; }))
        << "refused: " << streams.closedByServerCount();
    ASSERT_TRUE(waitUntil([&] { return a->eventReaderCount() == kept; }));
    EXPECT_EQ(streams.closedByServerCount(), flood - kept);
    /* One reader a stream and the system's change-log writer. */
    EXPECT_LE(processThreadCount(), threads + kept + 1);
    EXPECT_LE(openDescriptorCount(), fds + 2 * kept + 2);
    EXPECT_TRUE(log.has(QStringLiteral("LUMO2020: further event stream from 127.0.0.13:")));
    EXPECT_TRUE(log.has(QStringLiteral(" refused: A has 4 event streams already")));

    /* The latest stream fails: its reader ends, its connection is closed
     * and the next stream takes its place. */
    fakehv::queueEventFailure(a->getSysSocket(), KORUHV_ERR_PEER_ADDRESS);
    ASSERT_TRUE(waitUntil([&] { return log.has(QStringLiteral("its other event stream goes on")); }));
    Clients next("127.0.0.13", port, 1);
    EXPECT_TRUE(waitUntil([&] { return a->eventReaderCount() == kept + 1; }))
        << "the next stream was refused";
    EXPECT_TRUE(waitUntil([&] { return streams.closedByServerCount() == flood - kept + 1; }))
        << "the ended stream's connection stays open";
    EXPECT_EQ(next.closedByServerCount(), 0);
    EXPECT_LE(processThreadCount(), threads + kept + 1);
}

TEST_F(ServerTest, AcceptsPauseWhileDescriptorsRunOutAndGoOnOnceTheyAreBack)
{
    ProgramLog log;
    QSystemInterface *a = connectAt("127.0.0.14", "A");
    ASSERT_TRUE(a);
    /* The client's socket is made first: at the limit none can be. */
    const int s = boundSocket("127.0.0.14");
    ASSERT_GE(s, 0);
    int failed = 0;
    long long elapsedMs = 0;
    {
        /* No Qt event loop and no new descriptor in here. */
        NoFreeDescriptor limit;
        ASSERT_TRUE(limit.ok);
        const int before = eventServerAcceptFailures();
        ASSERT_TRUE(connectToServer(s, port));
        ASSERT_TRUE(koru_test::waitFor([&] { return eventServerAcceptFailures() > before; }));
        const int first = eventServerAcceptFailures();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * KORUHV_ACCEPT_PAUSE_MS));
        failed = eventServerAcceptFailures() - first;
        elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
    }
    /* A spinning loop fails thousands of times; a paused one once a pause
     * (fewer on a loaded machine, never more). */
    EXPECT_LE(failed, elapsedMs / KORUHV_ACCEPT_PAUSE_MS + 2) << "in " << elapsedMs << " ms";
    /* Descriptors back: the connection left waiting is taken and bound. */
    EXPECT_TRUE(waitUntil([&] { return a->eventReaderCount() == 1; }));
    EXPECT_TRUE(log.has(QStringLiteral("LUMO2020: event server cannot accept connections (")));
    EXPECT_TRUE(log.has(QStringLiteral("LUMO2020: event server accepts connections again")));
    ::close(s);
}

TEST(EventServerPort, ATakenPortMovesTheServerUpAndSubscriptionsAnnounceIt)
{
    ShellTestEnvironment env;
    fakehv::reset();
    stopEventServer();
    setEventServerAddressForTest(QStringLiteral("127.0.0.1"));
    const unsigned short taken = freeLoopbackPort();
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(taken);
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    tcpPort.store(taken);
    ASSERT_TRUE(startEventServer());
    ASSERT_TRUE(waitUntil([&] { return tcpPort.load() != taken; }));
    EXPECT_GT(tcpPort.load(), taken);
    auto *w = new MainWindow;
    fakehv::queueInit(ShellTest::crate());
    ASSERT_EQ(w->connectSystem(2, 0, QStringLiteral("10.0.0.1"), QStringLiteral("C"), QString(), QString()),
              0);
    for (short p : fakehv::announcedPorts())
        EXPECT_EQ(static_cast<unsigned short>(p), tcpPort.load());
    delete w;
    stopEventServer();
    ::close(blocker);
}

TEST(EventServerPort, NoFreePortUpToTheTopEndsWithTheServerError)
{
    ShellTestEnvironment env;
    stopEventServer();
    setEventServerAddressForTest(QStringLiteral("127.0.0.1"));
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(65535);
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (::bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(blocker, 1) != 0) {
        ::close(blocker);
        GTEST_SKIP() << "port 65535 is in use here";
    }
    auto *w = new MainWindow;
    w->show();
    ModalAnswerer answer(clickButton());
    tcpPort.store(65535);
    ASSERT_TRUE(startEventServer());
    /* The operator is told once, and the window closes. */
    EXPECT_TRUE(waitUntil([&] { return answer.seen().size() == 1 && !w->isVisible(); }));
    ASSERT_EQ(answer.seen().size(), 1);
    EXPECT_EQ(
        answer.seen()[0].text,
        QStringLiteral(
            "Unable to start tcp server. Please check\nyour network connection, than restart application."));
    EXPECT_EQ(tcpPort.load(), 65535);
    stopEventServer();
    ::close(blocker);
    delete w;
}
