#include "ProgramStartup.h"

#include "MainWindow.h"
#include "QCustomSplashScreen.h"
#include "ShellGlobals.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QLocale>
#include <QPointer>
#include <QThread>

namespace {
/* Null again once the window is deleted (tests make it more than once). */
QPointer<MainWindow> mainWin;
QString fontFamily;
} // namespace

KORUHVLookResources KORUHVLookFor(int country)
{
    if (country == QLocale::India)
        return {QStringLiteral(":/Resources/Elementi/iconI.ico"),
                QStringLiteral(":/Resources/Elementi/splashscrI-WIDE_LUMO.jpg"),
                QStringLiteral(":/Resources/stylesheet-I.qss")};
    return {QStringLiteral(":/Resources/Elementi/icon.ico"),
            QStringLiteral(":/Resources/Elementi/splashscr-WIDE_LUMO.jpg"),
            QStringLiteral(":/Resources/stylesheet-3.qss")};
}

MainWindow *createMainWindow()
{
    if (!mainWin)
        mainWin = new MainWindow(nullptr);
    return mainWin;
}

QString KORUHVRegisterFont()
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/Resources/Fonts/Antonio-Regular.ttf"));
    const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
    /* The condensed face registers under its plain family and its
     * condensed one; the condensed name selects the narrow glyphs. */
    fontFamily = families.isEmpty() ? QString() : families.first();
    for (const QString &f : families)
        if (f.contains(QLatin1String("Condensed")))
            fontFamily = f;
    return fontFamily;
}

QString KORUHVFontFamily()
{
    return fontFamily;
}

QString KORUHVReadStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromLatin1(bytes);
}

void KORUHVAddPluginPaths()
{
    /* Never the working folder: whoever can write where the program is
     * started would have their plug-ins run as the operator. */
    QCoreApplication::addLibraryPath(QStringLiteral("/usr/share/KORUControlSofware/plugins/"));
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + QStringLiteral("/plugins/"));
}

MainWindow *KORUHVStartProgram()
{
    KORUHVRegisterFont();
    const KORUHVLookResources look = KORUHVLookFor(QLocale().territory());
    KORUHVAddPluginPaths();
    MainWindow *w = createMainWindow();
    w->setWindowIcon(QIcon(look.icon));
    /* A click during the wait ends the splash, which deletes itself on
     * closing: only a splash still there is finished, and only once. */
    const QPointer<QCustomSplashScreen> splash = new QCustomSplashScreen(w, QPixmap(look.splash));
    splash->showMessage(QStringLiteral("Please wait..."), Qt::AlignLeft | Qt::AlignBottom, Qt::white);
    splash->show();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < splashWaitMs()) {
        QThread::msleep(1);
        QCoreApplication::processEvents();
    }
    qApp->setStyleSheet(KORUHVReadStyleSheet(look.styleSheet));
    w->show();
    w->createTcpServer();
    if (splash)
        splash->finishOnce(w);
    w->createDialogForConnection();
    return w;
}
