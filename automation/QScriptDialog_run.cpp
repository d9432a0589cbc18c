// The run side of the script dialog: the dock in the main window, the
// controls disabled during a run, and the executor's buttons.
#include "QScriptDialog.h"

#include "AppGlobals.h"
#include "KORUHVNode.h"
#include "KORUHVRunLogView.h"
#include "KORUHVScriptExecutor.h"
#include "Ui_QScriptDialog.h"

#include <QDockWidget>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QMainWindow *mainWindowWidget()
{
    MainWindowServices *mw = getMainWindow();
    return mw ? mw->mainWindowWidget() : nullptr;
}

const char *const dockName = "scriptExecutionDock";
const char *const guardName = "scriptRunGuard";

/* The controls a running script takes away, shared by every script dialog of
 * the main window (a child of it): while any script runs the menus and
 * collapsible panels are disabled and no table cell is editable; when the
 * last run ends, they come back and every cell gets its own flag back. */
class ScriptRunGuard : public QObject {
public:
    explicit ScriptRunGuard(QMainWindow *mw) : QObject(mw), window(mw)
    {
        setObjectName(QString::fromLatin1(guardName));
    }
    ~ScriptRunGuard() override { disconnectAll(); }

    static ScriptRunGuard *of(QMainWindow *mw)
    {
        auto *g = mw->findChild<ScriptRunGuard *>(QString::fromLatin1(guardName), Qt::FindDirectChildrenOnly);
        return g ? g : new ScriptRunGuard(mw);
    }

    void acquire()
    {
        ++running;
        // Each start takes what has appeared since (a system connected, a
        // table window opened) as well.
        setControlsEnabled(false);
        for (QTableWidget *table : window->findChildren<QTableWidget *>())
            lockTable(table);
    }

    void release()
    {
        if (running == 0 || --running > 0)
            return;
        setControlsEnabled(true);
        unlockTables();
    }

private:
    // A cell whose editable flag a run took carries the flags it was left
    // with under this role: the mark lives and dies with its item, so a
    // cell deleted during a run (a board pulled) and a new one built at its
    // address (a board inserted) are never taken for one another. Cells set
    // while a script runs are locked as they come.
    static constexpr int lockedFlagsRole = Qt::UserRole + 0x5c21;

    struct TableLock {
        QPointer<QTableWidget> table;
        QMetaObject::Connection changed;
        QMetaObject::Connection relaid;
    };

    void setControlsEnabled(bool enable)
    {
        for (QWidget *w : window->findChildren<QWidget *>())
            if (w->inherits("QCollapsibleWidget") || qobject_cast<QMenu *>(w))
                w->setEnabled(enable);
    }

    bool watches(QTableWidget *table) const
    {
        for (const TableLock &l : locks)
            if (l.table == table)
                return true;
        return false;
    }

    void lockTable(QTableWidget *table)
    {
        lockCells(table, 0, 0, table->rowCount() - 1, table->columnCount() - 1);
        if (watches(table))
            return;
        TableLock lock{table, {}, {}};
        const QPointer<QTableWidget> alive(table);
        lock.changed = connect(table->model(), &QAbstractItemModel::dataChanged, this,
                               [this, alive](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                                   if (alive)
                                       lockCells(alive, topLeft.row(), topLeft.column(), bottomRight.row(),
                                                 bottomRight.column());
                               });
        // A sorted table places a new cell by a layout change instead.
        lock.relaid = connect(table->model(), &QAbstractItemModel::layoutChanged, this, [this, alive] {
            if (alive)
                lockCells(alive, 0, 0, alive->rowCount() - 1, alive->columnCount() - 1);
        });
        locks.append(lock);
    }

    void lockCells(QTableWidget *table, int top, int left, int bottom, int right)
    {
        if (marking)
            return; // our own change of a cell
        const QScopedValueRollback<bool> quiet(marking, true);
        for (int r = std::max(0, top); r <= bottom && r < table->rowCount(); ++r)
            for (int c = std::max(0, left); c <= right && c < table->columnCount(); ++c) {
                QTableWidgetItem *item = table->item(r, c);
                if (!item)
                    continue;
                const QVariant mark = item->data(lockedFlagsRole);
                const bool editable = item->flags() & Qt::ItemIsEditable;
                if (mark.isValid() && item->flags().toInt() != mark.toUInt()) {
                    // Its owner gave it flags since: those are its own now.
                    if (!editable) {
                        item->setData(lockedFlagsRole, QVariant());
                        continue;
                    }
                } else if (mark.isValid() || !editable) {
                    continue; // locked already, or not editable of its own
                }
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                item->setData(lockedFlagsRole, uint(item->flags().toInt()));
            }
    }

    void disconnectAll()
    {
        for (TableLock &lock : locks) {
            QObject::disconnect(lock.changed);
            QObject::disconnect(lock.relaid);
        }
    }

    void unlockTables()
    {
        // The watches go first: giving a flag back is a change of its own.
        // A marked cell its owner has not changed since gets its flag back.
        disconnectAll();
        QVector<TableLock> old;
        old.swap(locks);
        for (TableLock &lock : old) {
            QTableWidget *table = lock.table;
            if (!table)
                continue;
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c) {
                    QTableWidgetItem *item = table->item(r, c);
                    const QVariant mark = item ? item->data(lockedFlagsRole) : QVariant();
                    if (!mark.isValid())
                        continue;
                    item->setData(lockedFlagsRole, QVariant());
                    if (item->flags().toInt() == mark.toUInt())
                        item->setFlags(item->flags() | Qt::ItemIsEditable);
                }
        }
    }

    QMainWindow *window;
    int running = 0;
    QVector<TableLock> locks;
    bool marking = false;
};
} // namespace

QWidget *QScriptDialog::createProgressDockWidget()
{
    QMainWindow *mw = mainWindowWidget();
    if (!mw)
        return nullptr;
    if (progressDock && progressPage && runLog) {
        if (runLogView)
            runLogView->clear();
        else
            runLog->clear();
        scriptButtonSelection(0);
        if (auto *pages = qobject_cast<QTabWidget *>(progressDock->widget()))
            pages->setCurrentWidget(progressPage);
        return runLog;
    }
    // One dock for every script dialog; each has its own page in it.
    auto *dock = mw->findChild<QDockWidget *>(QString::fromLatin1(dockName), Qt::FindDirectChildrenOnly);
    auto *pages = dock ? qobject_cast<QTabWidget *>(dock->widget()) : nullptr;
    if (!pages) {
        delete dock;
        dock = new QDockWidget(QStringLiteral("Script Execution"), mw);
        dock->setObjectName(QString::fromLatin1(dockName));
        dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
        dock->setContentsMargins(0, 0, 0, 0);
        pages = new QTabWidget(dock);
        pages->setObjectName(QStringLiteral("scriptRunPages"));
        pages->setTabBarAutoHide(true); // one run looks as it always did
        pages->setDocumentMode(true);
        dock->setWidget(pages);
        mw->addDockWidget(Qt::BottomDockWidgetArea, dock);
    }
    auto *content = new QWidget(pages);
    content->setObjectName(QStringLiteral("scriptRunPage"));
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
    runLogView = new KORUHVRunLogView(browser);
    pages->addTab(content, systemNode ? systemNode->getNodeName() : QStringLiteral("Script"));
    pages->setCurrentWidget(content);
    progressDock = dock;
    progressPage = content;
    runLog = browser;
    scriptButtonSelection(0);
    return browser;
}

void QScriptDialog::releaseProgressPage()
{
    // The page goes with its dialog; the dock with the last page.
    delete progressPage.data();
    if (progressDock) {
        auto *pages = qobject_cast<QTabWidget *>(progressDock->widget());
        if (!pages || pages->count() == 0) {
            progressDock->close();
            delete progressDock.data();
        }
    }
}

void QScriptDialog::appendToTextBrowser(QString html)
{
    if (!runLog)
        return;
    // Appended at a cost that stays flat however long the log grows.
    if (!runLogView)
        runLogView = new KORUHVRunLogView(runLog);
    runLogView->append(html);
}

void QScriptDialog::enableWidgets(bool enable)
{
    setEnabled(enable);
    if (!enable) {
        QMainWindow *mw = mainWindowWidget();
        if (!mw || runGuard)
            return;
        ScriptRunGuard *guard = ScriptRunGuard::of(mw);
        guard->acquire();
        runGuard = guard;
        return;
    }
    // Only the last running script gives the controls back.
    if (auto *guard = static_cast<ScriptRunGuard *>(runGuard.data()))
        guard->release();
    runGuard = nullptr;
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
    if (runLogView)
        runLogView->flush(); // the whole log shows when the run has ended
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
