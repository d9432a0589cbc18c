#include "QHVResetDialog.h"

#include "FlagDialogForms.h"

QHVResetDialog::QHVResetDialog(KORUHVNode *system, QWidget *parent)
    : HVFlagDialog(std::make_shared<Ui_QHVResetDialog>(), true, system, parent)
{
}

QHVResetDialog::~QHVResetDialog() = default;
