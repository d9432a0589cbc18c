/* Dialog of the general-signal configuration ("GenSignCfg"): an enable bit
 * and five conditions, all six offered; OK hands the mask to the panel's
 * genSignCfgCallback. The design is FlagMaskDialog's. */
#ifndef QGENSIGNCFGDIALOG_H
#define QGENSIGNCFGDIALOG_H

#include "FlagMaskDialog.h"

class QGenSignCfgDialog : public FlagMaskDialog {
    Q_OBJECT
public:
    QGenSignCfgDialog(QWidget *panel, int mask, QWidget *parent);
    ~QGenSignCfgDialog() override;
};

#endif
