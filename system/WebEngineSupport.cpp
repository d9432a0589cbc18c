#include "WebEngineSupport.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace webengine {

namespace {

const char kHelperName[] = "QtWebEngineProcess";
const char kResourcesName[] = "qtwebengine_resources.pak";
const char kDisableSandboxVariable[] = "QTWEBENGINE_DISABLE_SANDBOX";
const char kChromiumFlagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";

QString &helperOverride()
{
    static QString path;
    return path;
}

/* A child that tries a user namespace of its own: what the engine's sandbox
 * needs when it does not run as root. */
bool userNamespacesWork()
{
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0)
        ::_exit(::unshare(CLONE_NEWUSER) == 0 ? 0 : 1);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runningAsRoot()
{
    return ::geteuid() == 0 || ::getuid() == 0;
}

bool sandboxIsOffNow()
{
    return sandboxSwitchedOff(qEnvironmentVariableIsSet(kDisableSandboxVariable),
                              qgetenv(kChromiumFlagsVariable));
}

} // namespace

bool sandboxMustBeOff(bool runningAsRoot, bool userNamespacesWork)
{
    return runningAsRoot || !userNamespacesWork;
}

bool sandboxSwitchedOff(bool disableVariableSet, const QByteArray &chromiumFlags)
{
    /* The engine looks only at whether its variable is there. */
    if (disableVariableSet)
        return true;
    for (const QByteArray &word : chromiumFlags.simplified().split(' '))
        if (word == "--no-sandbox")
            return true;
    return false;
}

void prepareProcess()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (sandboxIsOffNow())
        return;
    const bool root = runningAsRoot();
    /* The probe starts a process: only where the answer matters. */
    const bool namespaces = root || userNamespacesWork();
    if (!sandboxMustBeOff(root, namespaces))
        return;
    qputenv(kDisableSandboxVariable, QByteArray("1"));
    /* Without the sandbox the page processes need no zygote; a zygote that
     * dies at start (a broken helper) would take the program with it. */
    QByteArray flags = qgetenv(kChromiumFlagsVariable);
    if (!flags.contains("--no-zygote"))
        qputenv(kChromiumFlagsVariable, (flags + " --no-zygote").trimmed());
    if (root)
        qInfo("LUMO2020: running as root: the web interface's engine runs without its sandbox");
    else
        qInfo("LUMO2020: user namespaces are not available: the web interface's engine runs without its "
              "sandbox");
}

QString helperProgramPath()
{
    QStringList candidates;
    if (!helperOverride().isEmpty()) {
        candidates << helperOverride();
    } else {
        const QString fromEnv = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
        if (!fromEnv.isEmpty()) {
            candidates << fromEnv;
        } else {
            const QString name = QString::fromLatin1(kHelperName);
            candidates << QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QLatin1Char('/') + name;
            if (QCoreApplication::instance())
                candidates << QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        }
    }
    for (const QString &c : candidates)
        if (QFileInfo::exists(c))
            return c;
    return QString();
}

QString resourcesFolder()
{
    QStringList candidates;
    const QString fromEnv = qEnvironmentVariable("QTWEBENGINE_RESOURCES_PATH");
    if (!fromEnv.isEmpty()) {
        candidates << fromEnv;
    } else {
        const QString data = QLibraryInfo::path(QLibraryInfo::DataPath);
        candidates << data + QStringLiteral("/resources") << data;
        if (QCoreApplication::instance())
            candidates << QCoreApplication::applicationDirPath();
    }
    for (const QString &c : candidates)
        if (QFileInfo::exists(c + QLatin1Char('/') + QString::fromLatin1(kResourcesName)))
            return c;
    return QString();
}

QString whyEngineCannotStart()
{
    const QString helper = helperProgramPath();
    if (helper.isEmpty())
        return QStringLiteral("the web engine's helper program (%0) is not installed")
            .arg(QString::fromLatin1(kHelperName));
    const QFileInfo info(helper);
    if (!info.isFile() || !info.isExecutable())
        return QStringLiteral("the web engine's helper program %0 cannot be run").arg(helper);
    if (resourcesFolder().isEmpty())
        return QStringLiteral("the web engine's resources (%0) are not installed")
            .arg(QString::fromLatin1(kResourcesName));
    if (runningAsRoot() && !sandboxIsOffNow())
        return QStringLiteral("the program runs as root and the web engine's sandbox is on");
    return QString();
}

void setHelperProgramPathForTest(const QString &path)
{
    helperOverride() = path;
}

QDialog *showAddressInstead(const QUrl &start, const QString &reason)
{
    auto *dialog = new QDialog(nullptr);
    dialog->setObjectName(QStringLiteral("webAddressDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(dialog);
    const QString address = start.toString();
    auto *text = new QLabel(QStringLiteral("The web interface cannot be shown in this program: %0.\n\n"
                                           "The mainframe's web pages are at:")
                                .arg(reason),
                            dialog);
    text->setObjectName(QStringLiteral("reasonLabel"));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto *addressLabel = new QLabel(address, dialog);
    addressLabel->setObjectName(QStringLiteral("addressLabel"));
    addressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont bold = addressLabel->font();
    bold.setBold(true);
    addressLabel->setFont(bold);
    layout->addWidget(addressLabel);
    auto *status = new QLabel(dialog);
    status->setObjectName(QStringLiteral("statusLabel"));
    status->setWordWrap(true);
    status->hide();
    layout->addWidget(status);
    auto *buttons = new QDialogButtonBox(dialog);
    QPushButton *open = buttons->addButton(QStringLiteral("Open in Browser"), QDialogButtonBox::ActionRole);
    open->setObjectName(QStringLiteral("openInBrowserButton"));
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    close->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    /* Only the start address: the login stays in the program. */
    QObject::connect(open, &QPushButton::clicked, dialog, [dialog, status, start]() {
        if (QDesktopServices::openUrl(start)) {
            dialog->close();
            return;
        }
        status->setText(
            QStringLiteral("No browser could be started on this desktop; copy the address above."));
        status->show();
    });
    dialog->show();
    return dialog;
}

} // namespace webengine
