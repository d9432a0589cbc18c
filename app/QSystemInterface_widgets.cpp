/* The widgets that show one system: its panel and box in the SYSTEM dock,
 * its page in the BOARDS dock, its table window and its status bar. */
#include "KORUHVWrapper.h"
#include "QSystemInterface.h"

#include "KORUHVGuiPulse.h"
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "QBoardInformations.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "QSystemStatusBar.h"

#include <QStackedWidget>

namespace {

struct PanelKind {
    const char *picture;
    bool tree;
    bool parameters;
    bool buttons;
};

/* Which picture and contents a system's panel gets, by system type. */
bool panelKindOf(int sysType, bool customView, PanelKind *kind)
{
    if (customView) {
        *kind = {":/Resources/Elementi/cs-verde.png", false, false, false};
        return true;
    }
    switch (sysType) {
    case KORUHV_SYSTYPE_HX4400:
    case KORUHV_SYSTYPE_HX5500:
        *kind = {":/Resources/Elementi/sistema-dock.png", true, true, false};
        return true;
    case KORUHV_SYSTYPE_P8080:
        *kind = {":/Resources/Elementi/p8080-dock.png", true, true, false};
        return true;
    case KORUHV_SYSTYPE_W38XX:
        *kind = {":/Resources/Elementi/sistema-vme.png", true, false, true};
        return true;
    case KORUHV_SYSTYPE_L2290:
    case KORUHV_SYSTYPE_BQ71XXE:
    case KORUHV_SYSTYPE_TRIXHV:
        *kind = {":/Resources/Elementi/sistema-dock.png", true, false, true};
        return true;
    case KORUHV_SYSTYPE_L317E:
    case KORUHV_SYSTYPE_BQ71XX:
        *kind = {":/Resources/Elementi/sistema-dock.png", true, false, false};
        return true;
    default:
        return false;
    }
}

} // namespace

void QSystemInterface::createSystemInformations(QCollapsibleWidget *parent)
{
    PanelKind kind{};
    QSystemInformations *panel = nullptr;
    if (panelKindOf(systemType, isCustomView, &kind)) {
        panel =
            new QSystemInformations(QPixmap(QLatin1String(kind.picture)), widgetIndex, this, panelFacts());
        if (kind.tree)
            panel->setSystemTree(systemNode);
        if (kind.parameters)
            panel->createSystemParameterWidgets();
        if (kind.buttons)
            panel->createSystemButtonWidgets();
    }
    auto *box = new QCustomBox(systemName, widgetIndex, this, isCustomView, true,
                               isCustomView ? QStringLiteral("Delete") : QStringLiteral("Disconnect"),
                               QStringLiteral("Configure"));
    if (parent)
        parent->addChildWidget(panel, box);
    if (panel && (systemType == KORUHV_SYSTYPE_HX4400 || systemType == KORUHV_SYSTYPE_HX5500))
        panel->showAdvancedFeatWidget(false);
    /* These wire the panel's click and log switch and the box's buttons. */
    setSystemInfoWidget(panel);
    setSystemBoxWidget(box);
}

void QSystemInterface::addSystemInterfaceWidgetToParents(QCollapsibleWidget *systems, QWidget *views,
                                                         QWidget *boards)
{
    if (!systemNode)
        return;
    /* The connection's pulse scope may let events run between and within
     * these: each widget becomes reachable from this interface only once
     * built. */
    createSystemInformations(systems);
    KORUHVGuiPulse::beat();
    createSubWindow(views);
    KORUHVGuiPulse::beat();
    createBoardInformations(boards, -1);
}

void QSystemInterface::addBoardToSystemInterfaceWidget(QWidget *boards)
{
    updateBoardInformations(boards);
    updateSubWindowLive();
}

void QSystemInterface::createBoardInformations(QWidget *boards, int position)
{
    auto *stack = qobject_cast<QStackedWidget *>(boards);
    auto *panel = new QBoardInformations(boards, widgetIndex);
    panel->setObjectName(QStringLiteral("sysBoardInfo"));
    panel->setSystemTree(systemNode);
    panel->setIsCustomView(isCustomView);
    panel->createInternalWidget(); /* pulses */
    boardPanel = panel;
    if (!stack)
        return;
    stack->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QWidget *page = boardPanel->getInternalWidget();
    if (!page)
        return;
    if (position < 0)
        stack->addWidget(page);
    else
        stack->insertWidget(position, page);
}

void QSystemInterface::updateBoardInformations(QWidget *boards)
{
    if (!boards)
        return;
    int position = -1;
    bool wasCurrent = false;
    auto *stack = qobject_cast<QStackedWidget *>(boards);
    if (boardPanel) {
        QWidget *page = boardPanel->getInternalWidget();
        if (stack && page) {
            position = stack->indexOf(page);
            wasCurrent = position >= 0 && stack->currentWidget() == page;
            stack->removeWidget(page);
        }
        delete boardPanel;
        boardPanel = nullptr;
    }
    createBoardInformations(boards, position);
    /* Removing the page made the stack show a neighbour, whose editors
     * write to another system: the rebuilt page takes its place again. */
    if (wasCurrent && stack && boardPanel && boardPanel->getInternalWidget())
        stack->setCurrentWidget(boardPanel->getInternalWidget());
}

QSystemStatusBar *QSystemInterface::createStatusBarInformations()
{
    delete statusBar;
    statusBar = new QSystemStatusBar(nullptr);
    if (!systemNode)
        return statusBar;
    statusBar->setSysNameLabel(systemType == KORUHV_SYSTYPE_W38XX ? QStringLiteral("VME HV Crate")
                                                                  : systemNode->getNodeName());
    statusBar->setInitParamLabel(KORUHVStatusBarConnectionText(linkType, initParam));
    statusBar->setConnStatLabel(systemNode->getConnectionStatus());
    statusBar->setEvStatusSync(false);
    statusBar->setEvStatusAsync(false);
    statusBar->setEvStatusUnsync(false);
    return statusBar;
}

void QSystemInterface::createSubWindow(QWidget *parent)
{
    setSystemSubwinWidget(KORUHVCreateSubWindow(parent, this, widgetIndex, isCustomView, systemNode,
                                                systemName, alarmStatusNodes));
}

int QSystemInterface::updateSubWindowLive()
{
    if (!subWindow)
        return -1;
    return KORUHVUpdateSubWindowLive(subWindow, isCustomView, systemNode, alarmStatusNodes);
}
