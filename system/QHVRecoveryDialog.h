/* The rack supply's HV recovery dialog: each of its six buttons writes bit N of
 * "RstRecFlag" at once (one bit per click, no confirmation); OK closes. */
#ifndef QHVRECOVERYDIALOG_H
#define QHVRECOVERYDIALOG_H

#include <QDialog>

class KORUHVNode;
class Ui_QHVRecoveryDialog;

class QHVRecoveryDialog : public QDialog {
    Q_OBJECT
public:
    QHVRecoveryDialog(KORUHVNode *system, QWidget *parent);
    ~QHVRecoveryDialog() override;

public slots:
    void buttonClick();

private:
    Ui_QHVRecoveryDialog *ui;
    KORUHVNode *rstRecFlagNode = nullptr;
};

#endif
