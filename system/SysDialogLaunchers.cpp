#include "SysDialogLaunchers.h"
#include "KORUHVWrapper.h"

#include "KORUHVNode.h"
#include "QCrateMapDialog.h"
#include "QSessionDialog.h"
#include "QSysInfoDialog.h"
#include "QSysInfoP8080Dialog.h"
#include "QTechInfoDialog.h"
#include "QTechInfoP8080Dialog.h"
#include "QWebBrowserDialog.h"
#include "SysDialogTexts.h"
#include "WebEngineSupport.h"

namespace sysdlg {

namespace {
QVariant valueOf(KORUHVNode *node)
{
    return node ? node->getNodeValue().KORUHVGetValue() : QVariant();
}
} // namespace

int runSessionDialog(KORUHVNode *system)
{
    if (!system)
        return -1;
    auto *dialog = new QSessionDialog(parameterText(system, QStringLiteral("Sessions"), false));
    return dialog->exec();
}

int runCrateMapDialog(KORUHVNode *system, const QString &styleSheet)
{
    if (!system)
        return -1;
    auto *dialog = new QCrateMapDialog(system);
    dialog->setStyleSheet(styleSheet);
    dialog->setModal(true);
    return dialog->exec();
}

int runTechInfoP8080Dialog(KORUHVNode *system, const QString &styleSheet)
{
    if (!system)
        return -1;
    const auto text = [system](const char *name) {
        return parameterText(system, QString::fromLatin1(name), true);
    };
    bool ok = false;
    const quint32 serial = static_cast<quint32>(
        valueOf(findParameter(system, QStringLiteral("SerialNumber"), true)).toULongLong(&ok));
    auto *dialog =
        new QTechInfoP8080Dialog(text("SwRelease"), text("FwRelease"), text("HwRelease"), ok ? serial : 0u,
                                 lowWord(valueOf(findParameter(system, QStringLiteral("FrontPanOut"), true))),
                                 findParameter(system, QStringLiteral("Logic"), true),
                                 lowWord(valueOf(findParameter(system, QStringLiteral("ACDCStatus"), true))));
    dialog->setStyleSheet(styleSheet);
    return dialog->exec();
}

int runSysInfoP8080Dialog(KORUHVNode *system, const QString &styleSheet)
{
    if (!system)
        return -1;
    QSysInfoP8080Dialog dialog(system);
    dialog.setStyleSheet(styleSheet);
    dialog.setModal(true);
    return dialog.exec();
}

QWebBrowserDialog *openWebBrowserDialog(KORUHVNode *system)
{
    if (!system)
        return nullptr;
    const QUrl start = webStartUrl(system->getInitParam());
    if (!start.isValid())
        return nullptr;
    /* The engine ends the process where it cannot start: look first, and
     * show the address instead of building the view. */
    const QString why = webengine::whyEngineCannotStart();
    if (!why.isEmpty()) {
        qWarning("LUMO2020: web interface of %s not opened: %s", qPrintable(start.toString()),
                 qPrintable(why));
        webengine::showAddressInstead(start, why);
        return nullptr;
    }
    auto *dialog = new QWebBrowserDialog(start.toString(), system->getUsername(), system->getPassword());
    dialog->show();
    dialog->loadUrl();
    return dialog;
}

QSysInfoDialog *SysInfoDialogSlot::dialog() const
{
    return current;
}

int SysInfoDialogSlot::open(KORUHVNode *system, int systemType, const QString &styleSheet)
{
    if (!system)
        return -1;
    QString cpu, mem, queue;
    for (KORUHVNode *p : system->getParameters()) {
        const QString name = p->getNodeName();
        if (name.compare(QLatin1String("CPULoad"), Qt::CaseInsensitive) == 0)
            cpu = valueOf(p).toString();
        else if (name.compare(QLatin1String("MemoryStatus"), Qt::CaseInsensitive) == 0)
            mem = valueOf(p).toString();
        else if (name.compare(QLatin1String("CmdQueueStatus"), Qt::CaseInsensitive) == 0)
            queue = valueOf(p).toString();
    }
    if (systemType == KORUHV_SYSTYPE_P8080)
        queue.clear();
    current = new QSysInfoDialog(cpu, mem, queue);
    current->setStyleSheet(styleSheet);
    const int result = current->exec();
    current = nullptr;
    return result;
}

void SysInfoDialogSlot::update(KORUHVNode *node)
{
    if (!node || !current)
        return;
    const QString text = valueOf(node).toString();
    switch (sysInfoSetterFor(node->getNodeName())) {
    case SysInfoSetter::CpuLoad:
        current->setCpuLoad(text);
        break;
    case SysInfoSetter::MemStatus:
        current->setMemStatus(text);
        break;
    case SysInfoSetter::CmdQueue:
        current->setCommQueue(text);
        break;
    case SysInfoSetter::None:
        break;
    }
}

QTechInfoDialog *TechInfoDialogSlot::dialog() const
{
    return current;
}

int TechInfoDialogSlot::open(KORUHVNode *system, const QString &styleSheet)
{
    if (!system)
        return -1;
    QString swRelease, hvPwSM, pwCurrent, pwVoltage;
    ushort frontPanOut = 0, frontPanIn = 0;
    KORUHVNode *levelNode = nullptr;
    for (KORUHVNode *p : system->getParameters()) {
        const QString name = p->getNodeName();
        auto is = [&name](const char *n) { return name.compare(QLatin1String(n), Qt::CaseInsensitive) == 0; };
        if (is("HvPwSM"))
            hvPwSM = valueOf(p).toString();
        else if (is("PWCurrent"))
            pwCurrent = valueOf(p).toString();
        else if (is("PWVoltage"))
            pwVoltage = valueOf(p).toString();
        else if (is("SwRelease"))
            swRelease = valueOf(p).toString();
        else if (is("FrontPanIn"))
            frontPanIn = lowWord(valueOf(p));
        else if (is("FrontPanOut"))
            frontPanOut = lowWord(valueOf(p));
        else if (is("OutputLevel"))
            levelNode = p;
    }
    current =
        new QTechInfoDialog(swRelease, hvPwSM, pwCurrent, pwVoltage, frontPanOut, frontPanIn, levelNode);
    current->setStyleSheet(styleSheet);
    const int result = current->exec();
    current = nullptr;
    return result;
}

void TechInfoDialogSlot::update(KORUHVNode *node)
{
    if (!node || !current)
        return;
    const QVariant v = valueOf(node);
    switch (techSetterFor(node->getNodeName())) {
    case TechSetter::HvPwSM:
        current->setHvPwSMWidgets(v.toString());
        break;
    case TechSetter::PWCurrent:
        current->setPowerModulesWidgets(v.toString());
        break;
    case TechSetter::PWVoltage:
        current->setVoltagesWidgets(v.toString());
        break;
    case TechSetter::FrontPanOut:
        current->setFrontPanOut(lowWord(v));
        break;
    case TechSetter::FrontPanIn:
        current->setFrontPanIn(lowWord(v));
        break;
    case TechSetter::OutputLevel:
        current->setFrontPanOutLevel(lowWord(v));
        break;
    case TechSetter::None:
        break;
    }
}

} // namespace sysdlg
