/* The window in which the operator writes, checks, saves, loads, builds (with
 * the wizard) and runs an action script for one connected system. Opened by
 * the system panel without modality; deletes itself when closed.
 *
 * One .cpp per purpose: QScriptDialog.cpp (form, editor rule, checking and
 * files, closing), QScriptDialog_run.cpp (the run dock and the executor),
 * QScriptDialog_wizard.cpp (the action wizard). */
#ifndef QSCRIPTDIALOG_H
#define QSCRIPTDIALOG_H

#include "KORUHVScriptLanguage.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>

class KORUHVNode;
class KORUHVRunLogView;
class KORUHVScriptExecutor;
class QCloseEvent;
class QDockWidget;
class QHBoxLayout;
class QProgressDialog;
class QPushButton;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class Ui_QScriptDialog;

class QScriptDialog : public QDialog {
    Q_OBJECT

public:
    QScriptDialog(KORUHVNode *system, QWidget *infoPanel, QWidget *parent = nullptr);
    ~QScriptDialog() override;

    /* Run-dock buttons: 0 running, 1 stopped, 2 paused; others change nothing. */
    void scriptButtonSelection(int state);

    /* The language (see KORUHVScriptLanguage.h) over this dialog's system. */
    QVector<QVector<int>> parseChannelListString(QString list, int *code);
    int checkSingleActionStringFormat(QString action);
    int checkActionStringListFormat(QVector<QString> actions, QProgressDialog *progress);

    /* The run dock in the main window (built once); its log, or null without
     * a main window. */
    QWidget *createProgressDockWidget();
    void appendToTextBrowser(QString html);
    void enableWidgets(bool enable);

    /* The system's tree is about to be deleted (disconnect, teardown): a run
     * stops at once and the dialog forgets the tree. Call before deleting. */
    void systemRemoved();
    /* Connected by the opener to its system's "tree is about to change"
     * notice: the dialog lets go when the whole tree goes. */
    void treeAboutToChange(int slot);

    bool isRunning() const;
    QString scriptText() const;

    /* Tests choose script files here instead of the file dialog (save is
     * true for saving); unset, the file dialog asks. */
    static std::function<QString(QWidget *parent, bool save)> chooseScriptFileForTest;

Q_SIGNALS:
    /* The dialog is closing (it deletes itself afterwards): its opener
     * forgets it. */
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;

public Q_SLOTS:
    void actionsEditChanged();
    void checkScriptEdited();
    void addNewLine();
    void removeLine();
    void removeAllLines();
    void lineOk();
    void addOtherItemsIntoAction(int index);
    void addAvailableChannelsChoice();
    void selectChannels();
    void storeMiscChannels();
    void selectValueToSet();
    void lineCompleted();
    void changeItemVisibility(QTreeWidgetItem *currentItem);
    void createWizardDialog();
    bool clearOldScriptWarning();
    void saveScript();
    void loadScript();
    void handleExecActions();
    void startButtonClicked();
    void pauseButtonClicked();
    void stopButtonClicked();

private Q_SLOTS:
    void runFinished(int result);

private:
    // Wizard steps that are no slots.
    int addWaitTimeChoice();
    int addParametersChoice();
    void selectAllChannels();
    void selectMiscChannels();
    bool lockWizardButtons();
    void dropChannelChooser();
    void removeLineItemsDownTo(int from, int to);
    QString chooseScriptFile(bool save);
    void releaseProgressPage();

    Ui_QScriptDialog *ui;
    QHBoxLayout *actionLineLayout = nullptr;
    QPushButton *completeButton = nullptr;
    QPushButton *cancelButton = nullptr;
    KORUHVNode *systemNode;
    QString actionText;
    QVector<QString> actionList;
    QVector<QString> wizardActions;
    QString paramName;
    KORUHVNode *parameterNode = nullptr;
    QTreeWidget *channelTree = nullptr;
    int runState = 0;
    QPointer<QDockWidget> progressDock;
    QPointer<QTextBrowser> runLog;
    QPointer<KORUHVRunLogView> runLogView; // puts fragments into runLog
    QPointer<QPushButton> dockStartButton;
    QPointer<QPushButton> dockStopButton;
    QPointer<QPushButton> dockPauseButton;
    QDialog *wizardDialog = nullptr;

    // Our additions: the run's state machine, and a start held back until a
    // stopped run has ended.
    KORUHVScriptExecutor *executor = nullptr;
    bool startPending = false;
    // This dialog's page (buttons and log) in the main window's one run dock.
    QPointer<QWidget> progressPage;
    // The main window's guard of controls, held from a run's start to its
    // end: shared by every dialog, so controls come back only when the last
    // running script has ended.
    QPointer<QObject> runGuard;
};

#endif
