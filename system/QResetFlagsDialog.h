/* Dialog of the reset-flag configuration ("ResFlagCfg"): three of the six
 * causes are offered, the hidden bits go back as they were read; OK hands
 * the mask to the panel's resetFlagsCallback. The design is FlagMaskDialog's. */
#ifndef QRESETFLAGSDIALOG_H
#define QRESETFLAGSDIALOG_H

#include "FlagMaskDialog.h"

class QResetFlagsDialog : public FlagMaskDialog {
    Q_OBJECT
public:
    QResetFlagsDialog(QWidget *panel, int mask, QWidget *parent);
    ~QResetFlagsDialog() override;
};

#endif
