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

namespace {
QMainWindow *mainWindowWidget() {
    MainWindowServices *mw = getMainWindow();
    return mw ? mw->mainWindowWidget() : nullptr;
}
} // namespace

QWidget *QScriptDialog::createProgressDockWidget() {
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
    bar->setStyleSheet(QStringLiteral("#scriptButtonBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
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

void QScriptDialog::appendToTextBrowser(QString html) {
    if (!runLog)
        return;
    QTextCursor cursor = runLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertHtml(html);
    cursor.movePosition(QTextCursor::End);
    runLog->setTextCursor(cursor);
    runLog->ensureCursorVisible();
}

void QScriptDialog::enableWidgets(bool enable) {
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
        savedCellFlags.clear();
        for (QTableWidget *table : mw->findChildren<QTableWidget *>()) {
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c)
                    if (QTableWidgetItem *item = table->item(r, c)) {
                        const bool editable = item->flags() & Qt::ItemIsEditable;
                        savedCellFlags.append({table, r, c, item, editable});
                        if (editable)
                            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                    }
        }
        return;
    }
    for (const CellFlag &f : savedCellFlags) {
        if (!f.table || !f.editable)
            continue;
        // A cell replaced during the run (board removed) keeps the new item's flags.
        QTableWidgetItem *item = f.table->item(f.row, f.column);
        if (item && item == f.item)
            item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    savedCellFlags.clear();
}

void QScriptDialog::handleExecActions() {
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

void QScriptDialog::runFinished(int) {
    scriptButtonSelection(1);
    enableWidgets(true);
    showNormal();
    if (startPending) {
        startPending = false;
        QMetaObject::invokeMethod(this, &QScriptDialog::handleExecActions, Qt::QueuedConnection);
    }
}

void QScriptDialog::startButtonClicked() {
    scriptButtonSelection(0);
    const int old = runState;
    runState = 0;
    if (old == 2 && executor->state() == KORUHVScriptExecutor::Paused) {
        executor->resume();
        return;
    }
    handleExecActions();
}

void QScriptDialog::pauseButtonClicked() {
    if (executor->state() != KORUHVScriptExecutor::Running)
        return;
    scriptButtonSelection(2);
    runState = 2;
    executor->pause();
}

void QScriptDialog::stopButtonClicked() {
    scriptButtonSelection(1);
    runState = 1;
    executor->stop();
}
