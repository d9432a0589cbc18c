/* The "Sessions" notice through the live event path: a change of the
 * crate's "Sessions" value pops up a small frame at the main window's lower
 * right naming the system's address, each change its own, and each closes
 * itself after five seconds; values of other names (other letter case
 * included) pop up nothing. */
#include "KORUHVConfig.h"
#include "KORUHVNode.h"
#include "shell_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPointer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

fakehv::System crateWithSessions()
{
    fakehv::System s = ShellTest::crate();
    s.props.push_back({"Sessions", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("")}});
    s.props.push_back({"sessions", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("")}});
    s.props.push_back({"SessionsX", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("")}});
    s.props.push_back({"MySessions", {fakehv::SYSPROP_TEXT, 0, fakehv::Raw::text("")}});
    return s;
}

const QString kNotice = QStringLiteral("Someone has connected to\n(disconnected from)\n 10.0.0.7");

} // namespace

class SessionsNoticeTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_EQ(connect(QStringLiteral("10.0.0.7"), QStringLiteral("Crate"), crateWithSessions()), 0);
        sys = window->getSysInterfaceVector()[0];
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        fd = sv[0];
        peer = sv[1];
        ASSERT_TRUE(sys->startEventReader(fd));
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        ::close(peer);
    }
    KORUHVNode *prop(const char *name) const
    {
        return KORUHVConfig::KORUHVConfigGetNodeFromItemId(sys->getSystemNode(), QLatin1String(name), -1, -1);
    }
    /* A live value through the event reader; returns once its node holds it. */
    bool live(const char *name, const char *value)
    {
        fakehv::queueEvents(fd, {fakehv::valueEvent(0, -1, -1, name, fakehv::Raw::text(value))});
        KORUHVNode *node = prop(name);
        return node &&
               waitUntil(
                   [&] { return node->getNodeValue().KORUHVGetValue().toString() == QLatin1String(value); },
                   60000);
    }
    QList<QLabel *> notices() const
    {
        QList<QLabel *> found;
        for (QLabel *l : window->findChildren<QLabel *>(QStringLiteral("sessionNotice")))
            if (l->isVisible())
                found << l;
        return found;
    }

    QSystemInterface *sys = nullptr;
    int fd = -1;
    int peer = -1;
};

TEST_F(SessionsNoticeTest, AChangeShowsTheNoticeForFiveSeconds)
{
    window->resize(900, 700);
    QElapsedTimer sinceEvent;
    sinceEvent.start();
    ASSERT_TRUE(live("Sessions", "admin:1:tcp:10_00_00:10.0.0.9;"));
    ASSERT_TRUE(waitUntil([&] { return notices().size() == 1; }, 60000));
    QLabel *label = notices().first();
    EXPECT_EQ(label->text(), kNotice);
    EXPECT_EQ(label->font().pointSize(), 7);
    EXPECT_EQ(label->styleSheet(), QStringLiteral("border: none"));
    QPointer<QFrame> frame = qobject_cast<QFrame *>(label->parentWidget());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->parentWidget(), window);
    EXPECT_EQ(frame->windowType(), Qt::Popup);
    EXPECT_TRUE(frame->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(frame->styleSheet(), QStringLiteral("border: 1px solid black"));
    EXPECT_EQ(frame->pos(), QPoint(window->width() - 200, window->height() - 50));
    EXPECT_GT(frame->width(), 0);
    EXPECT_GT(frame->height(), 0);
    // Gone by itself, and never before its five seconds (a timer may fire a
    // twentieth early, never more).
    ASSERT_TRUE(waitUntil([&] { return frame.isNull(); }, 60000));
    EXPECT_GE(sinceEvent.elapsed(), 4750);
    EXPECT_TRUE(notices().isEmpty());
}

TEST_F(SessionsNoticeTest, EachChangeHasItsOwnNotice)
{
    ASSERT_TRUE(live("Sessions", "a:1:tcp:1_2_3:10.0.0.9;"));
    ASSERT_TRUE(live("Sessions", "b:1:tcp:1_2_4:10.0.0.8;"));
    ASSERT_TRUE(waitUntil([&] { return notices().size() == 2; }, 60000));
    for (QLabel *l : notices())
        EXPECT_EQ(l->text(), kNotice);
    ASSERT_TRUE(waitUntil([&] { return notices().isEmpty(); }, 60000));
}

TEST_F(SessionsNoticeTest, OtherNamesShowNothing)
{
    for (const char *name : {"sessions", "SessionsX", "MySessions"}) {
        ASSERT_TRUE(live(name, "x:1:tcp:1_2_3:10.0.0.9;")) << name;
        QCoreApplication::processEvents();
        EXPECT_TRUE(notices().isEmpty()) << name;
        EXPECT_TRUE(window->findChildren<QLabel *>(QStringLiteral("sessionNotice")).isEmpty()) << name;
    }
    // The real name afterwards still does.
    ASSERT_TRUE(live("Sessions", "x:1:tcp:1_2_3:10.0.0.9;"));
    EXPECT_TRUE(waitUntil([&] { return notices().size() == 1; }, 60000));
}
