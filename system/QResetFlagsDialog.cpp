#include "QResetFlagsDialog.h"

#include "FlagDialogForms.h"
#include "QSystemInformations.h"

QResetFlagsDialog::QResetFlagsDialog(QWidget *panel, int mask, QWidget *parent)
    : FlagMaskDialog(
          std::make_shared<Ui_QResetFlagsDialog>(),
          Kind{true, {true, false, true, true, false, false}, &QSystemInformations::resetFlagsCallback},
          panel, mask, parent)
{
}

QResetFlagsDialog::~QResetFlagsDialog() = default;
