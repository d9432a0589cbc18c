#include "QGenSignCfgDialog.h"

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

QGenSignCfgDialog::QGenSignCfgDialog(QWidget *panel, int mask, QWidget *parent)
    : QDialog(parent), ui(new Ui_QGenSignCfgDialog), systemPanel(qobject_cast<QSystemInformations *>(panel))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    for (QAbstractButton *b : ui->buttonBox->buttons())
        if (auto *pb = qobject_cast<QPushButton *>(b))
            pb->setFlat(false);
    flagValues = syspanel::flagsOfMask(mask);
    setCheckBoxValues();
    connect(ui->checkBox0, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag0);
    connect(ui->checkBox1, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag1);
    connect(ui->checkBox2, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag2);
    connect(ui->checkBox3, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag3);
    connect(ui->checkBox4, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag4);
    connect(ui->checkBox5, &QCheckBox::stateChanged, this, &QGenSignCfgDialog::changeFlag5);
    connect(this, &QDialog::accepted, this, &QGenSignCfgDialog::okButtonClicked);
}

QGenSignCfgDialog::~QGenSignCfgDialog()
{
    delete ui;
}

void QGenSignCfgDialog::setCheckBoxValues()
{
    const auto boxes = ui->boxes();
    for (int i = 0; i < 6; ++i) {
        boxes[i]->setChecked(flagValues[i]);
        boxes[i]->setStyleSheet(flagValues[i] ? SetLook : ClearLook);
    }
}

void QGenSignCfgDialog::changeFlag(int bit, int val)
{
    flagValues[bit] = (val != 0);
    ui->boxes()[bit]->setStyleSheet(flagValues[bit] ? SetLook : ClearLook);
}

void QGenSignCfgDialog::changeFlag0(int val) { changeFlag(0, val); }
void QGenSignCfgDialog::changeFlag1(int val) { changeFlag(1, val); }
void QGenSignCfgDialog::changeFlag2(int val) { changeFlag(2, val); }
void QGenSignCfgDialog::changeFlag3(int val) { changeFlag(3, val); }
void QGenSignCfgDialog::changeFlag4(int val) { changeFlag(4, val); }
void QGenSignCfgDialog::changeFlag5(int val) { changeFlag(5, val); }

void QGenSignCfgDialog::okButtonClicked()
{
    if (!systemPanel)
        return;
    systemPanel->genSignCfgCallback(syspanel::maskOfFlags(flagValues));
}
