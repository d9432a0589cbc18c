#include "QGenSignCfgDialog.h"

#include "FlagDialogForms.h"
#include "QSystemInformations.h"

QGenSignCfgDialog::QGenSignCfgDialog(QWidget *panel, int mask, QWidget *parent)
    : FlagMaskDialog(
          std::make_shared<Ui_QGenSignCfgDialog>(),
          Kind{false, {true, true, true, true, true, true}, &QSystemInformations::genSignCfgCallback}, panel,
          mask, parent)
{
}

QGenSignCfgDialog::~QGenSignCfgDialog() = default;
