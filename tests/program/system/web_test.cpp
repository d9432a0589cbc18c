// The web interface against HTTP servers of the test on loopback: the start
// page, then the login page with user and password intact, the program's
// user agent on every request, the view shown only after the login page, and
// nothing reaching another host.
#include "KORUHVNode.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "QWebBrowserDialog.h"
#include "SysDialogLaunchers.h"
#include "qt_gtest_print.h"
#include "sysdialog_support.h"
#include "wait_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

/* A small HTTP server recording each request's target and User-Agent. */
class HttpRecorder : public QObject {
public:
    struct Request {
        QString target;
        QString userAgent;
    };

    explicit HttpRecorder(const QString &address)
    {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                s->setParent(this);
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s]() { onData(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        listening = server.listen(QHostAddress(address), 0);
    }

    quint16 port() const { return server.serverPort(); }
    bool ok() const { return listening; }
    std::function<QByteArray(const QString &target)> page = [](const QString &) {
        return QByteArray("<html><body>ok</body></html>");
    };
    QVector<Request> requests;

    /* Requests without the browser's own icon look-ups. */
    QStringList targets() const
    {
        QStringList t;
        for (const Request &r : requests)
            if (!r.target.startsWith(QLatin1String("/favicon")))
                t << r.target;
        return t;
    }

private:
    void onData(QTcpSocket *s)
    {
        QByteArray &buf = pending[s];
        buf += s->readAll();
        const int end = buf.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buf.left(end).split('\n');
        buf.clear();
        Request r;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        r.target = QString::fromLatin1(first.value(1));
        for (const QByteArray &l : lines)
            if (l.toLower().startsWith("user-agent:"))
                r.userAgent = QString::fromLatin1(l.mid(11).trimmed());
        requests << r;
        const QByteArray body = page(r.target);
        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
        s->disconnectFromHost();
    }

    QTcpServer server;
    bool listening = false;
    QHash<QTcpSocket *, QByteArray> pending;
};

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QTest::qWait(20);
    return done();
}

void closeAndWait(QPointer<QWebBrowserDialog> dialog)
{
    if (dialog)
        dialog->close();
    EXPECT_TRUE(waitFor([&]() { return dialog.isNull(); }, koru_test::kHangGuardMs))
        << "the dialog is still there";
}

struct LoginCase {
    const char *user;
    const char *password;
    const char *loginTarget;
};

void PrintTo(const LoginCase &c, std::ostream *os)
{
    *os << "user \"" << c.user << "\", password \"" << c.password << "\"";
}

std::string loginCaseName(const ::testing::TestParamInfo<LoginCase> &info)
{
    static const char *const names[] = {"Plain", "SpecialCharacters", "Empty"};
    return names[info.index];
}

class SysDlgWeb : public ::testing::TestWithParam<LoginCase> {};

TEST_P(SysDlgWeb, LogsInWithTheUserAgentAndStaysOnTheMainframe)
{
    const LoginCase c = GetParam();
    HttpRecorder other(QStringLiteral("127.0.0.3"));
    ASSERT_TRUE(other.ok());
    HttpRecorder crate(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(crate.ok());
    const QString elsewhere = QStringLiteral("http://127.0.0.3:%1").arg(other.port());
    crate.page = [elsewhere](const QString &target) {
        if (!target.startsWith(QLatin1String("/session_login.cgi")))
            return QByteArray("<html><body>start</body></html>");
        // The logged-in page points elsewhere three ways; none may leave.
        return QStringLiteral("<html><body><img src='%1/img.png'>"
                              "<a id='l' href='%1/page'>away</a>"
                              "<script>window.onload = function() {"
                              " window.open('%1/win');"
                              " document.getElementById('l').click();"
                              " setTimeout(function() { new Image().src = '/done'; }, 300);"
                              "};</script></body></html>")
            .arg(elsewhere)
            .toLatin1();
    };

    auto sys = sdtest::systemNode(2, {}, QStringLiteral("127.0.0.2:%1").arg(crate.port()));
    // The user name and password of the connection live on the root node.
    sys->KORUHVPrepareNode(QStringLiteral("HV"), NODE_SYSTEM, 2, 0,
                           QStringLiteral("127.0.0.2:%1").arg(crate.port()), QString::fromLatin1(c.user),
                           QString::fromLatin1(c.password));

    QPointer<QWebBrowserDialog> dialog = sysdlg::openWebBrowserDialog(sys.get());
    ASSERT_TRUE(dialog);
    QVector<bool> viewShownAtFinish;
    QObject::connect(dialog->view(), &QWebEngineView::loadFinished, dialog,
                     [&viewShownAtFinish, dialog]() { viewShownAtFinish << dialog->view()->isVisible(); });
    EXPECT_FALSE(dialog->view()->isVisible());

    ASSERT_TRUE(
        waitFor([&]() { return crate.targets().contains(QStringLiteral("/done")); }, koru_test::kHangGuardMs))
        << crate.targets().join(QLatin1Char(' ')).toStdString();
    const QStringList targets = crate.targets();
    ASSERT_GE(targets.size(), 2);
    EXPECT_EQ(targets.at(0), QStringLiteral("/"));
    EXPECT_EQ(targets.at(1), QString::fromLatin1(c.loginTarget));
    for (const auto &r : crate.requests)
        EXPECT_EQ(r.userAgent, QStringLiteral("KORU Control Sw Desktop")) << r.target.toStdString();
    ASSERT_GE(viewShownAtFinish.size(), 2);
    EXPECT_FALSE(viewShownAtFinish.at(0));
    EXPECT_TRUE(viewShownAtFinish.at(1));
    EXPECT_TRUE(dialog->view()->isVisible());
    // Give a stray request from the page a moment more, then look.
    QTest::qWait(200);
    EXPECT_TRUE(other.requests.isEmpty()) << other.requests.value(0).target.toStdString();
    closeAndWait(dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Logins, SysDlgWeb,
    ::testing::Values(LoginCase{"admin", "admin", "/session_login.cgi?user=admin&pass=admin"},
                      LoginCase{"u%2", "a&b c+#", "/session_login.cgi?user=u%252&pass=a%26b%20c%2B%23"},
                      LoginCase{"", "", "/session_login.cgi?user=&pass="}),
    loginCaseName);

TEST(SysDlgWebOpen, AnAddressThatIsNoHostOpensNothing)
{
    for (const char *init : {"", "127.0.0.2/x", "user@127.0.0.2", "a b"}) {
        auto sys = sdtest::systemNode(2, {}, QString::fromLatin1(init));
        EXPECT_EQ(sysdlg::openWebBrowserDialog(sys.get()), nullptr) << init;
    }
    EXPECT_EQ(sysdlg::openWebBrowserDialog(nullptr), nullptr);
}

TEST(SysDlgWebOpen, EachCallOpensItsOwnWindow)
{
    HttpRecorder crate(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(crate.ok());
    auto sys = sdtest::systemNode(2, {}, QStringLiteral("127.0.0.2:%1").arg(crate.port()));
    QPointer<QWebBrowserDialog> a = sysdlg::openWebBrowserDialog(sys.get());
    QPointer<QWebBrowserDialog> b = sysdlg::openWebBrowserDialog(sys.get());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.data(), b.data());
    EXPECT_TRUE(
        waitFor([&]() { return crate.targets().count(QStringLiteral("/")) >= 2; }, koru_test::kHangGuardMs))
        << "the page was asked for " << crate.targets().count(QStringLiteral("/")) << " times, not twice";
    // Closing while a load may still run is clean.
    closeAndWait(a);
    closeAndWait(b);
}

/* The panel's "SETTINGS" button: a window of the system's address per click,
 * twenty times opened and closed, no look change; nothing for an address
 * that is no host. */
TEST(SysDlgWebOpen, PanelSettingsButtonOpensAWindowPerClick)
{
    HttpRecorder crate(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(crate.ok());
    auto webWindows = []() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QList<QPointer<QWebBrowserDialog>> found;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QWebBrowserDialog *>(w))
                found << d;
        return found;
    };
    for (const QString &address :
         {QStringLiteral("127.0.0.2:%1").arg(crate.port()), QStringLiteral("127.0.0.2/x")}) {
        const bool valid = !address.contains(QLatin1Char('/'));
        QSystemInterface iface(2, 0, address, QStringLiteral("HVSYS"), 0);
        iface.setSystemNode(sdtest::systemNode(2, {}, address).release());
        QPixmap picture(40, 30);
        picture.fill(Qt::darkGray);
        auto panel = std::make_unique<QSystemInformations>(picture, 0, &iface, iface.panelFacts());
        panel->setSystemTree(iface.getSystemNode());
        QPushButton *settings = nullptr;
        for (QPushButton *b : panel->findChildren<QPushButton *>(QStringLiteral("settingsButton")))
            if (b->text() == QLatin1String("SETTINGS"))
                settings = b;
        ASSERT_NE(settings, nullptr);
        const QString look = settings->styleSheet();
        if (!valid) {
            QTest::mouseClick(settings, Qt::LeftButton);
            EXPECT_TRUE(webWindows().isEmpty()) << address.toStdString();
            continue;
        }
        // Two clicks, two windows, each loading the system's start page.
        QTest::mouseClick(settings, Qt::LeftButton);
        QTest::mouseClick(settings, Qt::LeftButton);
        QList<QPointer<QWebBrowserDialog>> open = webWindows();
        ASSERT_EQ(open.size(), 2);
        EXPECT_FALSE(open.at(0)->isModal());
        EXPECT_TRUE(waitFor([&]() { return crate.targets().count(QStringLiteral("/")) >= 2; },
                            koru_test::kHangGuardMs))
            << "the page was asked for " << crate.targets().count(QStringLiteral("/")) << " times, not twice";
        for (const auto &d : open)
            closeAndWait(d);
        // Opened and closed twenty times, closing while the page may load.
        for (int i = 0; i < 20; ++i) {
            QTest::mouseClick(settings, Qt::LeftButton);
            open = webWindows();
            ASSERT_EQ(open.size(), 1) << "round " << i;
            closeAndWait(open.at(0));
        }
        EXPECT_EQ(settings->styleSheet(), look);
    }
}

} // namespace
