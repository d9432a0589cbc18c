/* The rack supply's HV recovery dialog: each of its six buttons writes bit N of
 * "RstRecFlag" at once; OK closes. The design is HVFlagDialog's. */
#ifndef QHVRECOVERYDIALOG_H
#define QHVRECOVERYDIALOG_H

#include "HVFlagDialog.h"

class QHVRecoveryDialog : public HVFlagDialog {
    Q_OBJECT
public:
    QHVRecoveryDialog(KORUHVNode *system, QWidget *parent);
    ~QHVRecoveryDialog() override;
};

#endif
