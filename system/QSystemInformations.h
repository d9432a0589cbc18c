/* The panel of one connected system in the left dock: picture, model text,
 * address, logging controls, the command buttons of its type, status lamps,
 * fan controls and the editable system parameters. Built and owned by the
 * system's QSystemInterface; GUI thread only. Live values arrive through the
 * interface's routing (updateFanSpeedSlider, updateReadFanStatValues,
 * updateTechInfo, updateSysInfo, and the value cells by object name).
 *
 * Sources: QSystemInformations.cpp (frame, selection, logging, scripts),
 * QSystemInformations_commands.cpp (buttons, commands, fan speed, 48 V),
 * QSystemInformations_params.cpp (lamps, parameter and fan rows, live
 * updates), QSystemInformations_dialogs.cpp (dialog launchers). */
#ifndef QSYSTEMINFORMATIONS_H
#define QSYSTEMINFORMATIONS_H

#include "SysDialogLaunchers.h"
#include "SystemPanelLayout.h"

#include <QDialog>
#include <QGroupBox>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QVector>

#include <array>

class KORUHVNode;
class QLabel;
class QMouseEvent;
class QPushButton;
class QVBoxLayout;

/* What the panel needs of its system, handed over by the system interface
 * that builds it; a panel built without them (the custom view's) shows
 * `name` as its address. */
struct SystemPanelFacts {
    int systemType = -1;
    QString initParam;
    int linkType = -1;
    KORUHVNode *systemNode = nullptr;
};

class QSystemInformations : public QGroupBox {
    Q_OBJECT
public:
    QSystemInformations(QPixmap image, QString name, int widgetIdx, QWidget *parent);
    /* The panel of a connected system: its type, address, link and tree. */
    QSystemInformations(QPixmap image, int widgetIdx, QWidget *parent, const SystemPanelFacts &facts);
    ~QSystemInformations() override;

    void setSystemTree(KORUHVNode *root) { systemNode = root; }
    KORUHVNode *getSystemTree() const { return systemNode; }
    int getWidgetIdx() const { return widgetIdx; }
    void setWidgetIdx(int idx) { widgetIdx = idx; }
    bool getIsCustomView() const { return isCustomView; }
    void setIsCustomView(bool custom) { isCustomView = custom; }
    bool getIsSelected() const { return isSelected; }
    QWidget *getParentWidget() const { return parentWidget; }
    /* The interface a W38XX group's panel was handed over to. */
    void setParentWidget(QWidget *parent) { parentWidget = parent; }
    int getSystemType() const { return systemType; }

    void setSelected(bool selected);
    QString createImgLabelAndConnParamWidget(int linkType);
    void createSystemMainWidgets();
    void createLogWidget();
    void showAdvancedFeatWidget(bool show);
    void createSystemButtonWidgets();
    void createSystemParameterWidgets();

    /* Commands and fan speed. */
    void turnOffAllChannels();
    void clearAlarmForNim();
    void checkFanSpeedButton(int value);
    void updateFanSpeedSlider(KORUHVNode *param);

    /* Fan rows and live values. */
    QVector<QWidget *> createFanStatValues(KORUHVNode *param);
    void updateReadFanStatValues(KORUHVNode *param);
    void updateTechInfo(KORUHVNode *param);
    void updateSysInfo(KORUHVNode *param);

    /* Called by the flag dialogs on OK. */
    void genSignCfgCallback(int mask);
    void resetFlagsCallback(int mask);

    /* Enables the log ON/OFF buttons ("OFF" lit) after the data-logging
     * set-up dialog was accepted (types 2 and 3). */
    void logSetupAccepted();

    /* The command button (built at construction, placed by
     * createSystemButtonWidgets). */
    QPushButton *commandButton(syspanel::Cmd button) const
    {
        return commandButtons[static_cast<int>(button)];
    }
    QString getDialogStyleSheet() const { return dialogStyleSheet; }

    QLabel *chOnLed = nullptr;
    QLabel *ovvLed = nullptr;
    QLabel *unvLed = nullptr;
    QLabel *ovcLed = nullptr;
    QLabel *tripLed = nullptr;
    QLabel *pw48Led = nullptr;
    QVector<QWidget *> hvFanStatWidgets;
    QVector<QWidget *> pwFanStatWidgets;
    QPushButton *lowFanButton = nullptr;
    QPushButton *midFanButton = nullptr;
    QPushButton *hiFanButton = nullptr;

Q_SIGNALS:
    void clickedWidget();
    void startLog(bool start);
    /* The system's "tree is about to change" notice, passed on by the
     * system interface: the dialogs this panel opens connect to it. */
    void treeAboutToChange(int slot);

public Q_SLOTS:
    void changeFanButtonColor();
    void changeWriteFanSpeedValues();
    void sessionClicked();
    void killClicked();
    void Pw48Clicked();
    void turnOffAllClicked();
    void clearAlarmClicked();
    void globalOnClicked();
    void globalOffClicked();
    void resetHVClicked();
    void recoveryHVClicked();
    void resetFlagsClicked();
    void crateMapClicked();
    void genSignCfgClicked();
    void techInfoClicked();
    void sysInfoClicked();
    void sysInfoP8080Clicked();
    void techInfoP8080Clicked();
    void webminClicked();
    void scriptingClicked();
    /* Connected to the script dialog's closing(): the panel forgets it. */
    void scriptingClosed();
    void loggingClicked();
    void startLogClicked();
    void stopLogClicked();
    void resizeSplitter();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void runConfirmedCommand(syspanel::Action action, syspanel::Cmd button);
    void reportCommandFailure(const QString &command, int code);
    void placeButtonRow(const std::vector<syspanel::ButtonPlace> &row);
    void connectButton(QPushButton *button, syspanel::Action action);
    void restoreLooks() { setSelected(isSelected); }
    void pressLook(syspanel::Cmd button);
    /* A launcher of the system dialogs: nothing without a root node,
     * otherwise the button's pressed look while `run` runs the dialog, then
     * every look restored. */
    template <typename Run> void launchDialog(syspanel::Cmd button, Run run);
    void buildStatusLamps(bool withPw48);
    /* Lamp and "48V PW" button from the AC/DC status word, one reading. */
    void showPw48State(unsigned acdcStatus);
    void showPw48Button(bool on);
    void setLamp(QLabel *lamp, syspanel::Lamp picture);
    void setStatusLamps(const syspanel::StatusLamps &lamps);
    QWidget *buildParameterRow(KORUHVNode *param);
    void writeFlagMask(const QString &name, int mask);
    KORUHVNode *findParameter(const QString &name) const;

    int widgetIdx;
    QString addressText;
    int systemType = -1;
    QVBoxLayout *mainLayout = nullptr;
    QWidget *parentWidget;
    KORUHVNode *systemNode = nullptr;
    bool isSelected = false;
    /* The 48 V supply's state as last shown: status word or confirmed
     * switch. */
    bool pw48KnownOn = false;
    QLabel *imageLabel = nullptr;
    QLabel *connLabel = nullptr;
    QPushButton *settingsButton = nullptr;
    QWidget *advancedArea = nullptr;
    QPushButton *scriptButton = nullptr;
    QPushButton *logButton = nullptr;
    QPushButton *logOnButton = nullptr;
    QPushButton *logOffButton = nullptr;
    bool isCustomView = false;
    /* The open technical- and system-information dialogs, which take live
     * values while they run (the rack supply's dialogs take none). */
    sysdlg::TechInfoDialogSlot techInfoDialogs;
    sysdlg::SysInfoDialogSlot sysInfoDialogs;
    std::array<QPushButton *, syspanel::CommandButtonCount> commandButtons{};
    QString dialogStyleSheet;
    QPointer<QWidget> openScriptDialog;
};

#endif
