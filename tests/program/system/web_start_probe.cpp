/* A program that starts as LUMO2020 starts (the same steps before and at the
 * application object, nothing from the test's environment) and clicks a
 * crate panel's "SETTINGS" button, for the web start-up test. It serves the
 * crate's pages itself on 127.0.0.2 and says on its standard output what the
 * operator got:
 *   "web view shown"           the login page loaded and drawn in the view
 *   "address shown: <address>" the window with the mainframe's address
 * and exits 0; 3 when neither came within its bound. */
#include "KORUHVNode.h"
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "QWebBrowserDialog.h"
#include "WebEngineSupport.h"
#include "sysdialog_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineView>

#include <cstdio>
#include <memory>

extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0:new_delete_type_mismatch=0";
}

namespace {

/* Answers every request with a small page and remembers the login. */
class CratePages : public QObject {
public:
    CratePages()
    {
        connect(&server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s]() {
                    request += s->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    if (request.contains("GET /session_login.cgi"))
                        loginAsked = true;
                    request.clear();
                    const QByteArray body("<html><body>crate</body></html>");
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: "
                             "close\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        server.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0);
    }
    QTcpServer server;
    QByteArray request;
    bool loginAsked = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    /* What the program's main() does before its application object. */
    webengine::prepareProcess();
    QApplication app(argc, argv);

    CratePages pages;
    if (!pages.server.isListening()) {
        std::printf("no server\n");
        return 2;
    }
    const QString address = QStringLiteral("127.0.0.2:%1").arg(pages.server.serverPort());
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
    if (!settings) {
        std::printf("no SETTINGS button\n");
        return 2;
    }
    QTest::mouseClick(settings, Qt::LeftButton);

    bool textAsked = false;
    QString pageText;
    QElapsedTimer t;
    t.start();
    /* A guard against a hang only. */
    while (t.elapsed() < 90000) {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *web = qobject_cast<QWebBrowserDialog *>(w)) {
                /* Shown means drawn by the engine's page process: the text
                 * of the page comes back from it. */
                if (pages.loginAsked && web->view()->isVisible() && !textAsked) {
                    textAsked = true;
                    web->view()->page()->toPlainText([&pageText](const QString &t) { pageText = t; });
                }
                if (pageText == QLatin1String("crate")) {
                    std::printf("web view shown\n");
                    web->close();
                    QTest::qWait(100);
                    return 0;
                }
            } else if (w->objectName() == QLatin1String("webAddressDialog") && w->isVisible()) {
                auto *label = w->findChild<QLabel *>(QStringLiteral("addressLabel"));
                std::printf("address shown: %s\n", label ? qPrintable(label->text()) : "");
                w->close();
                return 0;
            }
        }
        QTest::qWait(20);
    }
    std::printf("nothing shown\n");
    return 3;
}
