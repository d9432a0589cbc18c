/* The main window's side of set groups, saved customizations, table
 * configuration and the custom view: every operation hands over to the
 * controller (KORUHVCustomizations), and the host methods below let the
 * controller see and change the vector of system interfaces. GUI thread. */
#include "MainWindow.h"

#include "KORUHVNode.h"
#include "MainWindowUi.h"
#include "QSubWindow.h"

#include <QMdiArea>
#include <QStackedWidget>

namespace {
/* The custom view's BOARDS page holds editors of its members' boards: it is
 * built again whenever a member or a member's board goes, before the nodes
 * are freed. */
void rebuildCustomViewBoards(QSystemInterface *customView, QWidget *stack)
{
    if (customView && customView->getBoardInfoWidget())
        customView->updateBoardInformations(stack);
}
} // namespace

/* ---------------------------------------------------------- delegations */

void MainWindow::createDialogForGroupSettings()
{
    customizations->createDialogForGroupSettings();
}
/* Group actions are wired to the controller itself (it reads the sender);
 * this slot only serves a caller that names the window. */
void MainWindow::createDialogToEditGroup()
{
    customizations->createDialogToEditGroup();
}
void MainWindow::createDialogForCustomView()
{
    customizations->createDialogForCustomView();
}
void MainWindow::createConfigureTableDialog(int index)
{
    customizations->createConfigureTableDialog(index);
}
void MainWindow::loadCustomizedViews()
{
    customizations->loadCustomizedViews();
}
void MainWindow::saveCustomizedViews()
{
    customizations->saveCustomizedViews();
}

void MainWindow::removeBoardFromGroups(int sysHandle, unsigned short slot)
{
    customizations->removeBoardFromGroups(sysHandle, slot);
}
void MainWindow::removeNodesFromGroups(int sysHandle)
{
    customizations->removeNodesFromGroups(sysHandle);
}
void MainWindow::removeSystemFromCustomView(int sysIndex)
{
    customizations->removeSystemFromCustomView(sysIndex);
    const int cv = hasCustomView();
    if (cv >= 0 && cv != sysIndex)
        rebuildCustomViewBoards(sysInterfaces.value(cv), ui->stackedWidgetRight);
}
int MainWindow::hasCustomView()
{
    return customizations->hasCustomView();
}
QVector<KORUHVCustomizations::Group> MainWindow::getGroups() const
{
    return customizations->getGroups();
}

void MainWindow::groupCreatedCallback(QVector<KORUHVNode *> nodes, QString name)
{
    customizations->groupCreatedCallback(nodes, name);
}

void MainWindow::groupEditedCallback(QVector<KORUHVNode *> nodes, QString name, int index)
{
    customizations->groupEditedCallback(nodes, name, index);
}

void MainWindow::deleteGroupCallback(int index)
{
    customizations->deleteGroupCallback(index);
}

void MainWindow::saveCustomizedViewCallback(QVector<bool> selected, bool withCustomView)
{
    customizations->saveCustomizedViewCallback(selected, withCustomView);
}

void MainWindow::loadCustomizedViewCallback(QVector<QMultiHash<QString, QVariant> *> systems,
                                            QVector<QString> users, QVector<QString> passwords,
                                            bool withCustomView)
{
    customizations->loadCustomizedViewCallback(systems, users, passwords, withCustomView);
}

int MainWindow::checkLoadingSystemIfConnected(QString initParam)
{
    return customizations->checkLoadingSystemIfConnected(initParam);
}

void MainWindow::setNewConfigurationToSystem(int index, QMultiHash<QString, QVariant> *hash)
{
    customizations->setNewConfigurationToSystem(index, hash);
}

QString MainWindow::createSubdirAtPath(QString path)
{
    return customizations->createSubdirAtPath(path);
}
void MainWindow::setHeadersVisibleCallback(int index)
{
    customizations->setHeadersVisibleCallback(index);
}
void MainWindow::customViewDialogCallback()
{
    customizations->customViewDialogCallback();
}
void MainWindow::customViewCreationDialogCallback()
{
    customizations->customViewCreationDialogCallback();
}

/* ---------------------------------------------------------- host methods */

QVector<KORUHVCustomizationHost::System> MainWindow::systemsForCustomizations() const
{
    QVector<System> out;
    out.reserve(sysInterfaces.size());
    for (QSystemInterface *s : sysInterfaces)
        out.append({s->getSystemNode(), s->getWidgetIndex(), s->getIsMainInterface(), s->getIsCustomView()});
    return out;
}

void MainWindow::connectForCustomizations(int psType, int connType, QString initParam, QString name,
                                          QString user, QString password)
{
    connectDialogCallback(psType, connType, initParam, name, user, password);
}

bool MainWindow::isTableInCustomMode(int position)
{
    QSystemInterface *s = sysInterfaces.value(position);
    QSubWindow *w = s ? s->getSystemSubwinWidget() : nullptr;
    if (!w)
        return false;
    return s->getIsCustomView() || w->isCustomMode();
}

void MainWindow::reapplyCustomTableMode(int position)
{
    /* Custom again only where it is shown: a table the operator set to Full
     * or Minimal keeps that mode (its choices apply when Custom is chosen). */
    if (!isTableInCustomMode(position))
        return;
    if (QSystemInterface *s = sysInterfaces.value(position))
        if (QSubWindow *w = s->getSystemSubwinWidget())
            w->setCustomViewTableMode();
}

void MainWindow::rebuildTable(int position)
{
    if (QSystemInterface *s = sysInterfaces.value(position))
        if (QSubWindow *w = s->getSystemSubwinWidget())
            w->rebuildTableWidget();
}

void MainWindow::addCustomViewInterface(KORUHVNode *root, int widgetIndex)
{
    auto *sysIf = new QSystemInterface(-1, -1, QString(), QStringLiteral("CustomView"), widgetIndex);
    sysIf->setIsCustomView(true);
    sysIf->setSystemNode(root);
    sysIf->addSystemInterfaceWidgetToParents(systemsWidget, ui->viewsArea, ui->stackedWidgetRight);
    ui->stackedWidgetRight->setCurrentIndex(widgetIndex);
    appendInterface(sysIf);
    connect(sysIf, &QSystemInterface::clickedExtraButton, this, &MainWindow::createDialogForCustomView);
    connect(sysIf, &QSystemInterface::clickedDisconnectButton, this, &MainWindow::disconnectFromSystem);
    openSystemWidget(sysIf);
    if (QSubWindow *w = sysIf->getSystemSubwinWidget())
        w->adjustTable();
    connect(sysIf, &QSystemInterface::clicked, this, &MainWindow::setCurrentSubWindowIndex);
}

void MainWindow::refreshCustomViewTable()
{
    const int cv = hasCustomView();
    if (cv < 0)
        return;
    rebuildTable(cv);
    reapplyCustomTableMode(cv);
    rebuildCustomViewBoards(sysInterfaces.value(cv), ui->stackedWidgetRight);
}
