/* The view area: one table window per system, tabbed, tiled or floating,
 * and the panel, board page and status bar that follow the current view. */
#include "MainWindow.h"

#include "KORUHVGuiPulse.h"
#include "MainWindowUi.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QFloatingWindow.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "QSystemStatusBar.h"

#include <QAction>
#include <QDockWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStackedWidget>

namespace {
QList<QFloatingWindow *> floatingWindows(QWidget *w)
{
    return w->findChildren<QFloatingWindow *>(QString(), Qt::FindDirectChildrenOnly);
}

void prepareSubWindow(QMdiSubWindow *sub)
{
    sub->setStyleSheet(QStringLiteral("background: transparent;"));
    sub->setWindowIcon(QIcon(QPixmap(1, 1)));
    if (sub->systemMenu())
        sub->systemMenu()->clear();
}
} // namespace

void MainWindow::openSystemWidget(QSystemInterface *sysIf)
{
    QSubWindow *view = sysIf->getSystemSubwinWidget();
    if (view) {
        QMdiSubWindow *sub = ui->viewsArea->addSubWindow(view);
        prepareSubWindow(sub);
        sub->setWindowFlags(Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
        sub->show();
        KORUHVGuiPulse::beat(); /* showing a full crate's table among others takes tens of ms */
    }
    if (ui->menuFloat->isChecked())
        floatMdiAreaViews();
    const int index = sysIf->getWidgetIndex();
    highlightSelectedInfoWidget(index);
    setCurrentBoardsInfoWidget(index);
    if (index < sysInterfaces.size())
        setCurrentStatusBar(index);
}

void MainWindow::tabMdiAreaViews()
{
    ui->viewsArea->setViewMode(QMdiArea::TabbedView);
    ui->menuTab->setChecked(true);
    ui->menuTile->setChecked(false);
    ui->menuFloat->setChecked(false);
    for (QFloatingWindow *f : floatingWindows(this)) {
        QWidget *view = f->takeCentralWidget();
        if (view) {
            QMdiSubWindow *sub = ui->viewsArea->addSubWindow(view);
            prepareSubWindow(sub);
            sub->showMaximized();
        }
        delete f;
    }
}

void MainWindow::tileMdiAreaViews()
{
    ui->viewsArea->setViewMode(QMdiArea::SubWindowView);
    for (QFloatingWindow *f : floatingWindows(this)) {
        QWidget *view = f->takeCentralWidget();
        if (view) {
            QMdiSubWindow *sub = ui->viewsArea->addSubWindow(view);
            prepareSubWindow(sub);
            sub->setWindowFlags(Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
            sub->show();
        }
        delete f;
    }
    ui->viewsArea->tileSubWindows();
    ui->menuTile->setChecked(true);
    ui->menuTab->setChecked(false);
    ui->menuFloat->setChecked(false);
}

void MainWindow::floatMdiAreaViews()
{
    ui->viewsArea->setViewMode(QMdiArea::SubWindowView);
    ui->menuFloat->setChecked(true);
    ui->menuTile->setChecked(false);
    ui->menuTab->setChecked(false);
    const QList<QMdiSubWindow *> subs = ui->viewsArea->subWindowList(QMdiArea::CreationOrder);
    for (int i = 0; i < subs.size(); ++i) {
        QMdiSubWindow *sub = subs[i];
        sub->showMaximized();
        auto *f = new QFloatingWindow(this, i, sub->windowTitle());
        f->setContentsMargins(0, 0, 0, 0);
        QWidget *view = sub->widget();
        sub->setWidget(nullptr);
        f->setCentralWidget(view);
        if (view)
            view->show();
        f->resize(ui->viewsArea->size());
        f->show();
        f->activateWindow();
        f->setFocus(Qt::ActiveWindowFocusReason);
        connect(f, &QFloatingWindow::closing, this, &MainWindow::disconnectFromSystem);
        ui->viewsArea->removeSubWindow(sub);
        delete sub;
    }
}

void MainWindow::deleteMdiSubWindow(int index)
{
    const QList<QMdiSubWindow *> subs = ui->viewsArea->subWindowList(QMdiArea::CreationOrder);
    if (subs.isEmpty()) {
        QList<QFloatingWindow *> floats = floatingWindows(this);
        if (index >= 0 && index < floats.size()) {
            delete floats[index];
            floats = floatingWindows(this);
            for (int i = 0; i < floats.size(); ++i)
                floats[i]->setWidgetIndex(i);
        }
        return;
    }
    /* A view whose system went is an empty frame: remove that one first. */
    for (QMdiSubWindow *sub : subs)
        if (!sub->widget()) {
            ui->viewsArea->removeSubWindow(sub);
            delete sub;
            return;
        }
    if (index >= 0 && index < subs.size()) {
        subs[index]->close();
        delete subs[index];
    }
}

void MainWindow::setCurrentWidgetIndex(QMdiSubWindow *subWindow)
{
    if (!subWindow)
        return;
    auto *view = qobject_cast<QSubWindow *>(subWindow->widget());
    if (!view)
        return;
    const int index = view->getWidgetIdx();
    highlightSelectedInfoWidget(index);
    setCurrentBoardsInfoWidget(index);
    if (index < sysInterfaces.size())
        setCurrentStatusBar(index);
    if (ui->viewsArea->viewMode() == QMdiArea::TabbedView)
        for (QMdiSubWindow *sub : ui->viewsArea->subWindowList())
            sub->setGeometry(sub == subWindow ? QRect(QPoint(0, 0), ui->viewsArea->size()) : QRect());
}

void MainWindow::setCurrentSubWindowIndex(int index)
{
    const QList<QMdiSubWindow *> subs = ui->viewsArea->subWindowList(QMdiArea::CreationOrder);
    if (!subs.isEmpty()) {
        if (index < 0 || index >= subs.size())
            return;
        ui->viewsArea->setActiveSubWindow(subs[index]);
    } else {
        const QList<QFloatingWindow *> floats = floatingWindows(this);
        if (index < 0 || index >= floats.size())
            return;
        floats[index]->setWindowState(floats[index]->windowState() | Qt::WindowActive);
        floats[index]->setFocus(Qt::OtherFocusReason);
        floats[index]->raise();
    }
    highlightSelectedInfoWidget(index);
    setCurrentBoardsInfoWidget(index);
}

void MainWindow::highlightSelectedInfoWidget(int index)
{
    if (index < 0)
        return;
    const QList<QSystemInformations *> panels = ui->dockLeft->findChildren<QSystemInformations *>();
    for (int i = 0; i < panels.size(); ++i)
        panels[i]->setSelected(i == index);
    const QList<QCustomBox *> boxes = ui->dockLeft->findChildren<QCustomBox *>();
    for (int i = 0; i < boxes.size(); ++i)
        boxes[i]->setSelected(i == index);
}

void MainWindow::setCurrentBoardsInfoWidget(int index)
{
    if (index >= 0 && index < ui->stackedWidgetRight->count())
        ui->stackedWidgetRight->setCurrentIndex(index);
}

void MainWindow::setCurrentStatusBar(int index)
{
    if (index < 0 || index >= sysInterfaces.size())
        return;
    QSystemInterface *target = nullptr;
    for (QSystemInterface *s : sysInterfaces)
        if ((s->getIsMainInterface() || s->getIsCustomView()) && s->getWidgetIndex() == index)
            target = s;
    if (!target)
        target = sysInterfaces[index];
    QSystemStatusBar *wanted = target->getSystemStatusBarWidget();
    if (auto *current = findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (current == wanted)
            return;
        if (qobject_cast<QSystemStatusBar *>(current))
            current->setParent(nullptr); /* stays with its system */
        else
            delete current;
    }
    if (wanted)
        setStatusBar(wanted);
}
