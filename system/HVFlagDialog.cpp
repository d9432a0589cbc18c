#include "HVFlagDialog.h"

#include "FlagDialogForms.h"
#include "KORUHVNode.h"
#include "SystemPanelLayout.h"

#include <QPushButton>

HVFlagDialog::HVFlagDialog(std::shared_ptr<HVFlagForm> form, bool reset, KORUHVNode *system, QWidget *parent)
    : QDialog(parent), ui(std::move(form)), reset(reset)
{
    ui->setupUi(this, reset);
    const QString look = QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e4e4e4, "
                                        "stop:0.4 #d6d6d6, stop:0.5 #c1c1c1, "
                                        "stop:1 #b3b3b3); color: black;");
    for (QPushButton *b : ui->buttons())
        b->setStyleSheet(look);
    setWindowTitle(reset ? QStringLiteral("HW Reset") : QStringLiteral("HW Recovery"));
    for (QPushButton *b : ui->buttons())
        connect(b, &QPushButton::clicked, this, &HVFlagDialog::buttonClick);
    if (system)
        for (KORUHVNode *p : system->getParameters())
            if (p->getNodeName().compare(QLatin1String("RstRecFlag"), Qt::CaseInsensitive) == 0) {
                rstRecFlagNode = p;
                break;
            }
}

HVFlagDialog::~HVFlagDialog() = default;

void HVFlagDialog::buttonClick()
{
    /* The bit is the button's position, whatever its (translated) text. */
    const auto buttons = ui->buttons();
    int index = -1;
    for (int i = 0; i < 6; ++i)
        if (sender() == buttons[i])
            index = i;
    if (index < 0 || !rstRecFlagNode)
        return;
    rstRecFlagNode->setNodeEditedValue(QVariant(syspanel::rstRecFlagValue(reset, index)));
}
