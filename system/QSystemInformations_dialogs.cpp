/* Launchers of the panel's dialogs and of the system dialogs, and the
 * callbacks of the flag dialogs. A launcher gives its button the pressed look
 * while its dialog runs and restores every look afterwards. */
#include "KORUHVWrapper.h"
#include "QSystemInformations.h"

#include "KORUHVNode.h"
#include "KORUHVNodeValue.h"
#include "KORUHVUtils.h"
#include "QGenSignCfgDialog.h"
#include "QHVRecoveryDialog.h"
#include "QHVResetDialog.h"
#include "QResetFlagsDialog.h"
#include "SysDialogLaunchers.h"
#include "SystemPanelStyles.h"

#include <QDateTime>
#include <QPushButton>

using namespace syspanel;

template <typename Run> void QSystemInformations::launchDialog(Cmd button, Run run)
{
    if (!systemNode)
        return;
    pressLook(button);
    run();
    restoreLooks();
}

void QSystemInformations::sessionClicked()
{
    launchDialog(Cmd::Sessions, [this] { sysdlg::runSessionDialog(systemNode); });
}

void QSystemInformations::crateMapClicked()
{
    launchDialog(Cmd::CrateMap, [this] { sysdlg::runCrateMapDialog(systemNode, dialogStyleSheet); });
}

void QSystemInformations::techInfoClicked()
{
    launchDialog(Cmd::TechInfo, [this] { techInfoDialogs.open(systemNode, dialogStyleSheet); });
}

void QSystemInformations::techInfoP8080Clicked()
{
    launchDialog(Cmd::TechInfo, [this] { sysdlg::runTechInfoP8080Dialog(systemNode, dialogStyleSheet); });
}

void QSystemInformations::sysInfoClicked()
{
    launchDialog(systemType == KORUHV_SYSTYPE_P8080 ? Cmd::CpuInfo : Cmd::SysInfo,
                 [this] { sysInfoDialogs.open(systemNode, systemType, dialogStyleSheet); });
}

void QSystemInformations::sysInfoP8080Clicked()
{
    launchDialog(Cmd::SysInfo, [this] { sysdlg::runSysInfoP8080Dialog(systemNode, dialogStyleSheet); });
}

void QSystemInformations::webminClicked()
{
    if (!systemNode)
        return;
    /* Not modal, no look change; a window per click. An address that is not
     * a plain host[:port] opens nothing. */
    sysdlg::openWebBrowserDialog(systemNode);
}

void QSystemInformations::genSignCfgClicked()
{
    if (!systemNode)
        return;
    if (KORUHVNode *node = findParameter(QStringLiteral("GenSignCfg"))) {
        pressLook(Cmd::GenSignCfg);
        bool ok = false;
        int mask = node->getNodeValue().KORUHVGetValue().toInt(&ok);
        if (!ok)
            mask = 0;
        /* Deletes itself when it closes, before exec() returns. */
        auto *dialog = new QGenSignCfgDialog(this, mask, nullptr);
        dialog->setStyleSheet(dialogStyleSheet);
        dialog->exec();
    }
    restoreLooks();
}

void QSystemInformations::resetFlagsClicked()
{
    if (!systemNode)
        return;
    if (KORUHVNode *node = findParameter(QStringLiteral("ResFlagCfg"))) {
        pressLook(Cmd::ResetFlagCfg);
        bool ok = false;
        int mask = node->getNodeValue().KORUHVGetValue().toInt(&ok);
        if (!ok)
            mask = 0;
        auto *dialog = new QResetFlagsDialog(this, mask, nullptr);
        dialog->setStyleSheet(dialogStyleSheet);
        dialog->exec();
    }
    restoreLooks();
}

void QSystemInformations::writeFlagMask(const QString &name, int mask)
{
    restoreLooks();
    KORUHVNode *node = findParameter(name);
    if (!node)
        return;
    const KORUHVNodeValue previous = node->getNodeValue();
    node->setNodeValue(KORUHVNodeValue(QVariant(mask), QUALITY_GOOD, QDateTime::currentDateTime()));
    const int code = KORUHVUtils::KORUHVSetSystemPropertyChanged(
        node->getSysHandle(), name, node->getParWrapperType(), QVariant(flagWriteValue(mask)));
    /* A refused mask is not shown as set: the old value comes back, marked
     * as a failed write like every other refused write. */
    if (code != 0)
        node->setNodeValue(
            KORUHVNodeValue(previous.KORUHVGetValue(), QUALITY_WRITE_FAILED, previous.KORUHVGetTimestamp()));
}

void QSystemInformations::genSignCfgCallback(int mask)
{
    writeFlagMask(QStringLiteral("GenSignCfg"), mask);
}

void QSystemInformations::resetFlagsCallback(int mask)
{
    writeFlagMask(QStringLiteral("ResFlagCfg"), mask);
}

void QSystemInformations::recoveryHVClicked()
{
    if (!systemNode)
        return;
    pressLook(Cmd::RecoveryFlag);
    {
        QHVRecoveryDialog dialog(systemNode, nullptr);
        dialog.setStyleSheet(dialogStyleSheet);
        dialog.setModal(true);
        dialog.exec();
    }
    restoreLooks();
}

void QSystemInformations::resetHVClicked()
{
    if (!systemNode)
        return;
    pressLook(Cmd::ResetFlagCfg);
    {
        QHVResetDialog dialog(systemNode, nullptr);
        dialog.setStyleSheet(dialogStyleSheet);
        dialog.setModal(true);
        dialog.exec();
    }
    restoreLooks();
}
