/* Timing settings of a rack supply and its one editable setting, the 48 V
 * current limit ("ACDCIlim", written on OK when changed). */
#ifndef QSYSINFOP8080DIALOG_H
#define QSYSINFOP8080DIALOG_H

#include <QDialog>

class KORUHVNode;
class QComboBox;
class QLabel;
class QPushButton;

class QSysInfoP8080Dialog : public QDialog {
    Q_OBJECT
public:
    QSysInfoP8080Dialog(KORUHVNode *system, QWidget *parent = nullptr);
    ~QSysInfoP8080Dialog() override;

public Q_SLOTS:
    void okButtonClicked();

private:
    QLabel *ql_LowFreq = nullptr;
    QLabel *ql_HiFreq = nullptr;
    QLabel *ql_RecPeriod = nullptr;
    QLabel *ql_RstPeriod = nullptr;
    QComboBox *cb_48VIl = nullptr;
    QPushButton *okButton = nullptr;
    int storedIlim = 0;
    KORUHVNode *ilimNode = nullptr; /* not owned */
};

#endif
