// The web interface never ends the program. A probe program starts the way
// LUMO2020 starts, with none of the web engine's variables that the other
// web test sets, and clicks "SETTINGS": the view comes up (as root too, said
// in the log), and with the engine's helper missing, not runnable or failing,
// or its resources missing, the mainframe's address is shown instead. In this
// process (which never prepares the engine) the helper is taken away through
// the internal hook, and as root the unprepared sandbox alone is reason
// enough to show the address rather than start the engine.
#include "QSystemInformations.h"
#include "QSystemInterface.h"
#include "QWebBrowserDialog.h"
#include "WebEngineSupport.h"
#include "qt_gtest_print.h"
#include "sysdialog_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace {

const char *const kEngineVariables[] = {"QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS",
                                        "QTWEBENGINEPROCESS_PATH", "QTWEBENGINE_RESOURCES_PATH"};

struct ProbeRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

/* The probe with the machine's environment less the engine's variables,
 * plus `extra`. */
ProbeRun runProbe(const QProcessEnvironment &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *v : kEngineVariables)
        env.remove(QString::fromLatin1(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &k : extra.keys())
        env.insert(k, extra.value(k));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromLatin1(WEB_START_PROBE), {});
    ProbeRun r;
    if (!p.waitForStarted(30000))
        return r;
    /* A guard against a hang; the probe bounds its own wait. */
    p.waitForFinished(110000);
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

std::string describe(const ProbeRun &r)
{
    return QStringLiteral("exit %0%1\nout: %2\nerr (end): %3")
        .arg(r.exitCode)
        .arg(r.crashed ? QStringLiteral(" (crashed)") : QString())
        .arg(r.out, r.err.right(1500))
        .toStdString();
}

TEST(WebStartAsTheProgram, TheViewComesUpWithoutTheTestsVariables)
{
    const ProbeRun r = runProbe(QProcessEnvironment());
    ASSERT_FALSE(r.crashed) << describe(r);
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(r.out.contains(QLatin1String("web view shown"))) << describe(r);
    if (::geteuid() == 0) {
        EXPECT_TRUE(r.err.contains(
            QLatin1String("running as root: the web interface's engine runs without its sandbox")))
            << describe(r);
    }
}

/* What the engine lacks, one probe run each (each its own time bound). */
enum class Lack { Helper, RunnableHelper, WorkingHelper, Resources };

class WebStartLacking : public ::testing::TestWithParam<Lack> {};

TEST_P(WebStartLacking, TheAddressIsShown)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString helper = dir.filePath(QStringLiteral("QtWebEngineProcess"));
    auto writeHelper = [&helper](const QByteArray &content, QFile::Permissions permissions) {
        QFile f(helper);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        f.setPermissions(permissions);
    };
    QProcessEnvironment extra;
    switch (GetParam()) {
    case Lack::Helper:
        extra.insert(QStringLiteral("QTWEBENGINEPROCESS_PATH"),
                     dir.filePath(QStringLiteral("missing/QtWebEngineProcess")));
        break;
    case Lack::RunnableHelper:
        writeHelper("not a program\n", QFile::ReadOwner | QFile::WriteOwner);
        extra.insert(QStringLiteral("QTWEBENGINEPROCESS_PATH"), helper);
        break;
    case Lack::WorkingHelper:
        // Starts and ends at once: the page process never runs.
        writeHelper("#!/bin/sh\nexit 1\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        extra.insert(QStringLiteral("QTWEBENGINEPROCESS_PATH"), helper);
        break;
    case Lack::Resources:
        extra.insert(QStringLiteral("QTWEBENGINE_RESOURCES_PATH"), dir.filePath(QStringLiteral("missing")));
        break;
    }
    const ProbeRun r = runProbe(extra);
    ASSERT_FALSE(r.crashed) << describe(r);
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(r.out.contains(QRegularExpression(
        QStringLiteral("^address shown: http://127\\.0\\.0\\.2:\\d+$"), QRegularExpression::MultilineOption)))
        << describe(r);
    EXPECT_TRUE(r.err.contains(QLatin1String("LUMO2020: web interface of http://127.0.0.2:"))) << describe(r);
}

const char *const kLackNames[] = {"Helper", "RunnableHelper", "WorkingHelper", "Resources"};

void PrintTo(Lack lack, std::ostream *os)
{
    *os << kLackNames[static_cast<int>(lack)];
}

std::string lackName(const ::testing::TestParamInfo<Lack> &info)
{
    return kLackNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Engine, WebStartLacking,
                         ::testing::Values(Lack::Helper, Lack::RunnableHelper, Lack::WorkingHelper,
                                           Lack::Resources),
                         lackName);

/* Receives what would go to the desktop's browser. */
class BrowserRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void openUrl(const QUrl &url) { urls << url; }
};

QList<QWidget *> visibleTopLevels(const QString &objectName)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<QWidget *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible())
            found << w;
    return found;
}

bool anyWebView()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QWebBrowserDialog *>(w))
            return true;
    return false;
}

/* A crate panel at a fixed address whose user and password must never leave
 * the program. */
struct CratePanel {
    CratePanel() : iface(2, 0, QStringLiteral("127.0.0.2:8080"), QStringLiteral("HVSYS"), 0)
    {
        auto sys = sdtest::systemNode(2, {}, QStringLiteral("127.0.0.2:8080"));
        sys->KORUHVPrepareNode(QStringLiteral("HV"), NODE_SYSTEM, 2, 0, QStringLiteral("127.0.0.2:8080"),
                               QStringLiteral("secretuser"), QStringLiteral("secretpass"));
        iface.setSystemNode(sys.release());
        QPixmap picture(40, 30);
        picture.fill(Qt::darkGray);
        panel = std::make_unique<QSystemInformations>(picture, 0, &iface, iface.panelFacts());
        panel->setSystemTree(iface.getSystemNode());
        for (QPushButton *b : panel->findChildren<QPushButton *>(QStringLiteral("settingsButton")))
            if (b->text() == QLatin1String("SETTINGS"))
                settings = b;
    }
    QSystemInterface iface;
    std::unique_ptr<QSystemInformations> panel;
    QPushButton *settings = nullptr;
};

class WebStartHere : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *v : kEngineVariables) {
            saved.append({v, qgetenv(v), qEnvironmentVariableIsSet(v)});
            qunsetenv(v);
        }
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "openUrl");
    }
    void TearDown() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        webengine::setHelperProgramPathForTest(QString());
        for (QWidget *w : visibleTopLevels(QStringLiteral("webAddressDialog")))
            w->close();
        for (const auto &s : saved)
            if (s.set)
                qputenv(s.name, s.value);
    }
    struct Saved {
        const char *name;
        QByteArray value;
        bool set;
    };
    QList<Saved> saved;
    BrowserRecorder browser;
};

TEST_F(WebStartHere, AMissingHelperShowsTheAddressAndOpensItInTheBrowser)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    webengine::setHelperProgramPathForTest(dir.filePath(QStringLiteral("QtWebEngineProcess")));
    CratePanel crate;
    ASSERT_NE(crate.settings, nullptr);
    QTest::mouseClick(crate.settings, Qt::LeftButton);
    EXPECT_FALSE(anyWebView());
    QList<QWidget *> shown = visibleTopLevels(QStringLiteral("webAddressDialog"));
    ASSERT_EQ(shown.size(), 1);
    QPointer<QWidget> box = shown.first();
    EXPECT_FALSE(box->isModal());
    auto *address = box->findChild<QLabel *>(QStringLiteral("addressLabel"));
    auto *reason = box->findChild<QLabel *>(QStringLiteral("reasonLabel"));
    ASSERT_TRUE(address && reason);
    EXPECT_EQ(address->text(), QStringLiteral("http://127.0.0.2:8080"));
    EXPECT_EQ(reason->text(),
              QStringLiteral("The web interface cannot be shown in this program: the web engine's "
                             "helper program (QtWebEngineProcess) is not installed.\n\n"
                             "The mainframe's web pages are at:"));
    EXPECT_TRUE(address->textInteractionFlags() & Qt::TextSelectableByMouse);

    // A second click, a second window; the first goes to the browser.
    QTest::mouseClick(crate.settings, Qt::LeftButton);
    EXPECT_EQ(visibleTopLevels(QStringLiteral("webAddressDialog")).size(), 2);
    auto *open = box->findChild<QPushButton *>(QStringLiteral("openInBrowserButton"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), QStringLiteral("Open in Browser"));
    QTest::mouseClick(open, Qt::LeftButton);
    ASSERT_EQ(browser.urls.size(), 1);
    EXPECT_EQ(browser.urls.first(), QUrl(QStringLiteral("http://127.0.0.2:8080")));
    const QString handed = browser.urls.first().toString(QUrl::FullyEncoded);
    EXPECT_FALSE(handed.contains(QLatin1String("secret"))) << handed.toStdString();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(visibleTopLevels(QStringLiteral("webAddressDialog")).size(), 1);
}

TEST_F(WebStartHere, AHelperThatCannotRunIsNamed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString helper = dir.filePath(QStringLiteral("QtWebEngineProcess"));
    QFile f(helper);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    webengine::setHelperProgramPathForTest(helper);
    EXPECT_EQ(webengine::whyEngineCannotStart(),
              QStringLiteral("the web engine's helper program %0 cannot be run").arg(helper));
    // A folder of that name cannot run either.
    QDir(dir.path()).mkpath(QStringLiteral("sub/QtWebEngineProcess"));
    webengine::setHelperProgramPathForTest(dir.filePath(QStringLiteral("sub/QtWebEngineProcess")));
    EXPECT_TRUE(webengine::whyEngineCannotStart().contains(QLatin1String("cannot be run")));
    CratePanel crate;
    QTest::mouseClick(crate.settings, Qt::LeftButton);
    EXPECT_FALSE(anyWebView());
    EXPECT_EQ(visibleTopLevels(QStringLiteral("webAddressDialog")).size(), 1);
}

/* This process never switched the sandbox off: as root the engine would end
 * it; the address is shown instead. */
TEST_F(WebStartHere, AsRootWithTheSandboxOnTheProgramLives)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    CratePanel crate;
    QTest::mouseClick(crate.settings, Qt::LeftButton);
    EXPECT_FALSE(anyWebView());
    const QList<QWidget *> shown = visibleTopLevels(QStringLiteral("webAddressDialog"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.first()
                    ->findChild<QLabel *>(QStringLiteral("reasonLabel"))
                    ->text()
                    .contains(QLatin1String("the program runs as root and the web engine's sandbox is on")));
}

TEST(WebEngineSandbox, OffWhereItCannotWork)
{
    struct Case {
        bool root, namespaces, off;
    };
    for (const Case &c : {Case{true, true, true}, Case{true, false, true}, Case{false, false, true},
                          Case{false, true, false}})
        EXPECT_EQ(webengine::sandboxMustBeOff(c.root, c.namespaces), c.off) << c.root << c.namespaces;
}

TEST(WebEngineSandbox, TheEnginesOwnSwitches)
{
    struct Case {
        bool variableSet;
        const char *flags;
        bool off;
    };
    for (const Case &c : {Case{true, "", true}, Case{false, "", false}, Case{false, "--no-sandbox", true},
                          Case{false, "  --disable-gpu   --no-sandbox ", true},
                          Case{false, "--no-sandboxes", false}, Case{false, "--disable-gpu", false}})
        EXPECT_EQ(webengine::sandboxSwitchedOff(c.variableSet, QByteArray(c.flags)), c.off) << c.flags;
}

} // namespace

#include "web_start_test.moc"
