/* Further event streams from a connected crate's address, against the real
 * wrapper and the crate simulator on loopback: anyone on the machine can
 * connect from a 127.x address. Such a stream is named in the program's log;
 * when it fails it ends alone while the crate's own stream goes on, and the
 * crate is lost only when its last stream ends. */
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "QSystemStatusBar.h"
#include "shell_sim_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char *kCrate = "127.0.0.41";

/* A connection to the event server from the address given. */
int connectFrom(const char *from, unsigned short port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

class FurtherStream : public CrateShellTest {
protected:
    void SetUp() override { startCrate(kCrate); }
    /* True once the tree shows V0Set of channel 0 at the value. */
    bool showsV0Set(QSystemInterface *s, double value)
    {
        KORUHVNode *v0 =
            KORUHVConfig::KORUHVConfigGetNodeFromItemId(s->getSystemNode(), QStringLiteral("V0Set"), 0, 0);
        return v0 && qAbs(v0->getNodeValue().KORUHVGetValue().toDouble() - value) < 0.01;
    }
};

} // namespace

TEST_F(FurtherStream, AStrangersStreamEndsAloneAndTheLastStreamStillLosesTheCrate)
{
    ProgramLog log;
    ModalAnswerer answer(clickButton());
    QSystemInterface *s = connectCrate(kCrate, false);
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 1; }))
        << "the crate's stream was never bound";
    sim->setChannelValue(0, 0, "V0Set", 111.0);
    ASSERT_TRUE(waitUntil([&] { return showsV0Set(s, 111.0); })) << "the crate's changes are not shown";

    /* A stranger connects from the crate's address and hangs up. */
    const int stranger = connectFrom(kCrate, port);
    ASSERT_GE(stranger, 0);
    ASSERT_TRUE(waitUntil([&] { return s->eventReaderCount() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return log.has(QStringLiteral("further event stream from 127.0.0.41:")); }));
    EXPECT_TRUE(log.has(QStringLiteral(" bound to SimCrate")));
    ::close(stranger);
    ASSERT_TRUE(waitUntil([&] {
        return !answer.seen().isEmpty() || log.has(QStringLiteral("its other event stream goes on"));
    }));
    EXPECT_TRUE(answer.seen().isEmpty())
        << "lost on a stranger's stream: " << qPrintable(answer.seen()[0].text);
    EXPECT_EQ(s->getSystemStatusBarWidget()->connStatText(), QStringLiteral("CONNECTED"));
    sim->setChannelValue(0, 0, "V0Set", 222.0);
    EXPECT_TRUE(waitUntil([&] { return showsV0Set(s, 222.0); })) << "the crate's changes are no longer shown";

    /* The crate's own stream is the last one: its end loses the crate. */
    sim->closeEventConnections();
    ASSERT_TRUE(waitUntil([&] { return !answer.seen().isEmpty(); })) << "the crate's end was not reported";
    EXPECT_EQ(
        answer.seen()[0].text,
        QStringLiteral("SimCrate is no longer connected.\nPlease check your network and try to reconnect."));
    EXPECT_EQ(s->getSystemStatusBarWidget()->connStatText(), QStringLiteral("DISCONNECTED"));
}
