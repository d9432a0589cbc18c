#include "QResetFlagsDialog.h"

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

QResetFlagsDialog::QResetFlagsDialog(QWidget *panel, int mask, QWidget *parent)
    : QDialog(parent), ui(new Ui_QResetFlagsDialog), systemPanel(qobject_cast<QSystemInformations *>(panel))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    for (QAbstractButton *b : ui->buttonBox->buttons())
        if (auto *pb = qobject_cast<QPushButton *>(b))
            pb->setFlat(false);
    flagValues = syspanel::flagsOfMask(mask);
    setCheckBoxValues();
    ui->checkBox1->hide();
    ui->checkBox4->hide();
    ui->checkBox5->hide();
    connect(ui->checkBox0, &QCheckBox::stateChanged, this, &QResetFlagsDialog::changeFlag0);
    connect(ui->checkBox2, &QCheckBox::stateChanged, this, &QResetFlagsDialog::changeFlag2);
    connect(ui->checkBox3, &QCheckBox::stateChanged, this, &QResetFlagsDialog::changeFlag3);
    connect(this, &QDialog::accepted, this, &QResetFlagsDialog::okButtonClicked);
}

QResetFlagsDialog::~QResetFlagsDialog()
{
    delete ui;
}

void QResetFlagsDialog::setCheckBoxValues()
{
    const auto boxes = ui->boxes();
    for (int i = 0; i < 6; ++i) {
        boxes[i]->setChecked(flagValues[i]);
        boxes[i]->setStyleSheet(flagValues[i] ? SetLook : ClearLook);
    }
}

void QResetFlagsDialog::changeFlag(int bit, int val)
{
    flagValues[bit] = (val != 0);
    ui->boxes()[bit]->setStyleSheet(flagValues[bit] ? SetLook : ClearLook);
}

void QResetFlagsDialog::changeFlag0(int val) { changeFlag(0, val); }
void QResetFlagsDialog::changeFlag1(int val) { changeFlag(1, val); }
void QResetFlagsDialog::changeFlag2(int val) { changeFlag(2, val); }
void QResetFlagsDialog::changeFlag3(int val) { changeFlag(3, val); }
void QResetFlagsDialog::changeFlag4(int val) { changeFlag(4, val); }
void QResetFlagsDialog::changeFlag5(int val) { changeFlag(5, val); }

void QResetFlagsDialog::okButtonClicked()
{
    if (!systemPanel)
        return;
    systemPanel->resetFlagsCallback(syspanel::maskOfFlags(flagValues));
}
