#include "FlagMaskDialog.h"

#include "FlagDialogForms.h"
#include "QSystemInformations.h"
#include "SystemPanelLayout.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>

namespace {
const QString SetLook = QStringLiteral("color: #35a912; font: bold;");
const QString ClearLook = QStringLiteral("color: #000000;");
} // namespace

FlagMaskDialog::FlagMaskDialog(std::shared_ptr<FlagBoxesForm> form, const Kind &kind, QWidget *panel,
                               int mask, QWidget *parent)
    : QDialog(parent), ui(std::move(form)), systemPanel(qobject_cast<QSystemInformations *>(panel)),
      callback(kind.callback)
{
    ui->setupUi(this, kind.reset);
    setAttribute(Qt::WA_DeleteOnClose);
    for (QAbstractButton *b : ui->buttonBox->buttons())
        if (auto *pb = qobject_cast<QPushButton *>(b))
            pb->setFlat(false);
    flagValues = syspanel::flagsOfMask(mask);
    setCheckBoxValues();
    void (FlagMaskDialog::*const flagSlots[6])(int) = {
        &FlagMaskDialog::changeFlag0, &FlagMaskDialog::changeFlag1, &FlagMaskDialog::changeFlag2,
        &FlagMaskDialog::changeFlag3, &FlagMaskDialog::changeFlag4, &FlagMaskDialog::changeFlag5};
    const auto boxes = ui->boxes();
    for (int i = 0; i < 6; ++i) {
        if (kind.offered[i])
            connect(boxes[i], &QCheckBox::stateChanged, this, flagSlots[i]);
        else
            boxes[i]->hide();
    }
    connect(this, &QDialog::accepted, this, &FlagMaskDialog::okButtonClicked);
}

FlagMaskDialog::~FlagMaskDialog() = default;

void FlagMaskDialog::setCheckBoxValues()
{
    const auto boxes = ui->boxes();
    for (int i = 0; i < 6; ++i) {
        boxes[i]->setChecked(flagValues[i]);
        boxes[i]->setStyleSheet(flagValues[i] ? SetLook : ClearLook);
    }
}

void FlagMaskDialog::changeFlag(int bit, int val)
{
    flagValues[bit] = (val != 0);
    ui->boxes()[bit]->setStyleSheet(flagValues[bit] ? SetLook : ClearLook);
}

void FlagMaskDialog::changeFlag0(int val)
{
    changeFlag(0, val);
}
void FlagMaskDialog::changeFlag1(int val)
{
    changeFlag(1, val);
}
void FlagMaskDialog::changeFlag2(int val)
{
    changeFlag(2, val);
}
void FlagMaskDialog::changeFlag3(int val)
{
    changeFlag(3, val);
}
void FlagMaskDialog::changeFlag4(int val)
{
    changeFlag(4, val);
}
void FlagMaskDialog::changeFlag5(int val)
{
    changeFlag(5, val);
}

void FlagMaskDialog::okButtonClicked()
{
    if (!systemPanel)
        return;
    (systemPanel->*callback)(syspanel::maskOfFlags(flagValues));
}
