/* The rack supply's HV reset dialog: each of its six buttons writes bit N + 8 of
 * "RstRecFlag" at once (one bit per click, no confirmation); OK closes. */
#ifndef QHVRESETDIALOG_H
#define QHVRESETDIALOG_H

#include <QDialog>

class KORUHVNode;
class Ui_QHVResetDialog;

class QHVResetDialog : public QDialog {
    Q_OBJECT
public:
    QHVResetDialog(KORUHVNode *system, QWidget *parent);
    ~QHVResetDialog() override;

public slots:
    void buttonClick();

private:
    Ui_QHVResetDialog *ui;
    KORUHVNode *rstRecFlagNode = nullptr;
};

#endif
