/* The event server over loopback: identification texts, binding by peer
 * address, unmatched and slow peers, the port search. */
#include "KORUHVEventServer.h"
#include "ShellGlobals.h"
#include "shell_fixture.h"
#include <QSignalSpy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/* A client connection to the event server from a loopback address. */
int connectFrom(const char *from, unsigned short port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(s);
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
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
