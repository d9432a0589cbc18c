#include "QHVRecoveryDialog.h"

#include "FlagDialogForms.h"

QHVRecoveryDialog::QHVRecoveryDialog(KORUHVNode *system, QWidget *parent)
    : HVFlagDialog(std::make_shared<Ui_QHVRecoveryDialog>(), false, system, parent)
{
}

QHVRecoveryDialog::~QHVRecoveryDialog() = default;
