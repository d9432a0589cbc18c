/* The rack supply's HV reset dialog: each of its six buttons writes bit N + 8 of
 * "RstRecFlag" at once; OK closes. The design is HVFlagDialog's. */
#ifndef QHVRESETDIALOG_H
#define QHVRESETDIALOG_H

#include "HVFlagDialog.h"

class QHVResetDialog : public HVFlagDialog {
    Q_OBJECT
public:
    QHVResetDialog(KORUHVNode *system, QWidget *parent);
    ~QHVResetDialog() override;
};

#endif
