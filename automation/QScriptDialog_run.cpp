// The run side of the script dialog: the dock in the main window, the
// controls disabled during a run, and the executor's buttons.
#include "QScriptDialog.h"

#include "AppGlobals.h"
#include "KORUHVScriptExecutor.h"
#include "Ui_QScriptDialog.h"

#include <QDockWidget>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QMainWindow *mainWindowWidget()
{
    MainWindowServices *mw = getMainWindow();
    return mw ? mw->mainWindowWidget() : nullptr;
}
} // namespace

QWidget *QScriptDialog::createProgressDockWidget()
{
    QMainWindow *mw = mainWindowWidget();
    if (!mw)
        return nullptr;
    if (progressDock && runLog) {
        runLog->clear();
        scriptButtonSelection(0);
        return runLog;
    }
    auto *dock = new QDockWidget(QStringLiteral("Script Execution"), mw);
    dock->setObjectName(QStringLiteral("scriptExecutionDock"));
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock->setContentsMargins(0, 0, 0, 0);
    auto *content = new QWidget(dock);
    content->setStyleSheet(QStringLiteral("background: #d5d5d5;"));
    auto *layout = new QVBoxLayout(content);

    auto *bar = new QWidget(content);
    bar->setObjectName(QStringLiteral("scriptButtonBar"));
    bar->setStyleSheet(
        QStringLiteral("#scriptButtonBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                       "stop:0 #788387, stop:0.4 #788387, stop:0.5 #4e5357, stop:1 #4e5357); "
                       "border: 1px solid #4e5357; } "
                       "#scriptButtonBar QPushButton { color: white; } "
                       "#scriptButtonBar QPushButton:disabled { color: #9aa0a3; }"));
    auto *barLayout = new QHBoxLayout(bar);
    barLayout->addSpacing(10);
    auto makeButton = [bar, barLayout](const char *icon, const char *name, const char *tip) {
        auto *b = new QPushButton(bar);
        b->setObjectName(QString::fromLatin1(name));
        const QString iconPath = QString::fromLatin1(icon);
        b->setIcon(QIcon(iconPath));
        b->setToolTip(QString::fromLatin1(tip));
        // Without the picture the button would be invisible: show its name.
        if (!QFile::exists(iconPath))
            b->setText(QString::fromLatin1(tip));
        b->setStyleSheet(QStringLiteral("border:none; background:transparent;"));
        barLayout->addWidget(b);
        return b;
    };
    dockStopButton = makeButton(":/Resources/buttons/stop.png", "dockStopButton", "Stop");
    dockPauseButton = makeButton(":/Resources/buttons/pause.png", "dockPauseButton", "Pause");
    dockStartButton = makeButton(":/Resources/buttons/start.png", "dockStartButton", "Start");
    barLayout->addStretch();
    connect(dockStopButton, &QPushButton::clicked, this, &QScriptDialog::stopButtonClicked);
    connect(dockPauseButton, &QPushButton::clicked, this, &QScriptDialog::pauseButtonClicked);
    connect(dockStartButton, &QPushButton::clicked, this, &QScriptDialog::startButtonClicked);
    layout->addWidget(bar);

    auto *browser = new QTextBrowser(content);
    browser->setObjectName(QStringLiteral("scriptRunLog"));
    browser->setStyleSheet(QStringLiteral("background: white;"));
    layout->addWidget(browser);
    dock->setWidget(content);
    mw->addDockWidget(Qt::BottomDockWidgetArea, dock);
    progressDock = dock;
    runLog = browser;
    scriptButtonSelection(0);
    return browser;
}

void QScriptDialog::appendToTextBrowser(QString html)
{
    if (!runLog)
        return;
    QTextCursor cursor = runLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertHtml(html);
    cursor.movePosition(QTextCursor::End);
    runLog->setTextCursor(cursor);
    runLog->ensureCursorVisible();
}

void QScriptDialog::enableWidgets(bool enable)
{
    setEnabled(enable);
    QMainWindow *mw = mainWindowWidget();
    if (!mw)
        return;
    for (QWidget *w : mw->findChildren<QWidget *>()) {
        if (w->inherits("QCollapsibleWidget") || qobject_cast<QMenu *>(w))
            w->setEnabled(enable);
    }
    if (!enable) {
        // Each cell's own flag is kept, so that read-only cells stay so.
        unlockTables();
        for (QTableWidget *table : mw->findChildren<QTableWidget *>()) {
            lockedTables.append({table, {}, {}, {}});
            TableLock &lock = lockedTables.last();
            lockCells(lock, 0, 0, table->rowCount() - 1, table->columnCount() - 1);
            // Cells set while the script writes (rows of a board inserted
            // meanwhile) are locked as they arrive.
            lockedTables.last().changed =
                connect(table->model(), &QAbstractItemModel::dataChanged, this,
                        [this, table](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                            for (TableLock &l : lockedTables)
                                if (l.table == table)
                                    lockCells(l, topLeft.row(), topLeft.column(), bottomRight.row(),
                                              bottomRight.column());
                        });
            // A sorted table places a new cell by a layout change instead.
            lockedTables.last().relaid =
                connect(table->model(), &QAbstractItemModel::layoutChanged, this, [this, table] {
                    for (TableLock &l : lockedTables)
                        if (l.table == table)
                            lockCells(l, 0, 0, table->rowCount() - 1, table->columnCount() - 1);
                });
        }
        return;
    }
    unlockTables();
}

void QScriptDialog::lockCells(TableLock &lock, int top, int left, int bottom, int right)
{
    QTableWidget *table = lock.table;
    if (!table)
        return;
    for (int r = std::max(0, top); r <= bottom && r < table->rowCount(); ++r)
        for (int c = std::max(0, left); c <= right && c < table->columnCount(); ++c) {
            QTableWidgetItem *item = table->item(r, c);
            if (!item)
                continue;
            const bool editable = item->flags() & Qt::ItemIsEditable;
            if (!lock.cells.contains(item))
                lock.cells.insert(item, editable);
            if (editable)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        }
}

void QScriptDialog::unlockTables()
{
    // Cells are found by their item where they are now (rows may have moved);
    // an item that was replaced during the run is not one of them.
    QVector<TableLock> locks;
    locks.swap(lockedTables);
    for (TableLock &lock : locks) {
        QObject::disconnect(lock.changed);
        QObject::disconnect(lock.relaid);
        QTableWidget *table = lock.table;
        if (!table)
            continue;
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c) {
                QTableWidgetItem *item = table->item(r, c);
                if (item && lock.cells.value(item, false))
                    item->setFlags(item->flags() | Qt::ItemIsEditable);
            }
    }
}

void QScriptDialog::handleExecActions()
{
    if (executor->isActive()) {
        // A stopped run is still ending: start again once it has.
        if (executor->state() == KORUHVScriptExecutor::Stopping)
            startPending = true;
        return;
    }
    runState = 0;
    showMinimized();
    QWidget *log = createProgressDockWidget();
    runLog = qobject_cast<QTextBrowser *>(log);
    if (!runLog)
        return;
    scriptButtonSelection(0);
    enableWidgets(false);
    actionList = koruscript::splitActions(ui->actionsEdit->toPlainText());
    executor->start(ui->actionsEdit->toPlainText());
}

void QScriptDialog::runFinished(int)
{
    scriptButtonSelection(1);
    enableWidgets(true);
    showNormal();
    if (startPending) {
        startPending = false;
        QMetaObject::invokeMethod(this, &QScriptDialog::handleExecActions, Qt::QueuedConnection);
    }
}

void QScriptDialog::startButtonClicked()
{
    scriptButtonSelection(0);
    const int old = runState;
    runState = 0;
    if (old == 2 && executor->state() == KORUHVScriptExecutor::Paused) {
        executor->resume();
        return;
    }
    handleExecActions();
}

void QScriptDialog::pauseButtonClicked()
{
    if (executor->state() != KORUHVScriptExecutor::Running)
        return;
    scriptButtonSelection(2);
    runState = 2;
    executor->pause();
}

void QScriptDialog::stopButtonClicked()
{
    scriptButtonSelection(1);
    runState = 1;
    executor->stop();
}
