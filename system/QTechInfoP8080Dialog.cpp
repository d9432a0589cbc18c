#include "QTechInfoP8080Dialog.h"

#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "SysDialogForms.h"
#include "SysDialogLamps.h"
#include "SysDialogTexts.h"
#include "TechInfoForms.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace sysdlg;

namespace {
using Cell = FrontPanelCell;
const Cell kOutputs[] = {{"Over Current", "ovc", 0, 0},  {"Channel on", "chOn", 0, 2},
                         {"Under Voltage", "unv", 1, 0}, {"Over Temp", "fanFail", 1, 2},
                         {"Over Voltage", "ovv", 2, 0},  {"Trip", "out", 2, 2}};
// The lamp beside "VSel" is the one named "isel", and the other way round.
const Cell kInputs[] = {{"VSel", "isel", 1, 0},
                        {"ISel", "vsel", 1, 3},
                        {"Kill", "kill", 2, 0},
                        {"Interlock", "interlock", 2, 3},
                        {"50 Hz", "Hz50", 3, 0},
                        {"HV Clock", "hvclock", 3, 3},
                        {"NIM / TTL", nullptr, 5, 0, {}, "label_38"}};
const FrontPanelDesign kFrontPanel{kOutputs, kInputs, 4, false};
} // namespace

struct Ui_QTechInfoP8080Dialog {
    QTabWidget *tabWidget;
    QLabel *PIDValue, *swRel, *fwRel, *fpgaRel, *mainStat;
    QLabel *kill, *interlock; /* the other lamps are found by name */
    QHBoxLayout *horizontalLayout_4;
    QPushButton *closeButton;

    void setupUi(QDialog *d)
    {
        d->setObjectName(QStringLiteral("QTechInfoP8080Dialog"));
        d->resize(755, 395);
        auto *vl = new QVBoxLayout(d);
        tabWidget = addTabs(d, vl);

        QVBoxLayout *il = nullptr;
        QScrollArea *scrollArea = scrollTab(tabWidget, "tab", "scrollArea", QStringLiteral("Info"), &il);
        QWidget *inner = scrollArea->widget();
        QGroupBox *rel = namedGroup("groupBox", QStringLiteral("Serial Number & Release"), inner);
        auto *rg = new QGridLayout(rel);
        PIDValue = valueLabel("PIDValue", rel);
        swRel = valueLabel("swRel", rel);
        fwRel = valueLabel("fwRel", rel);
        fpgaRel = valueLabel("fpgaRel", rel);
        rg->addWidget(captionLabel("label_171", QStringLiteral("PID:"), rel), 1, 0);
        rg->addWidget(PIDValue, 1, 1);
        rg->addWidget(captionLabel("label_17", QStringLiteral("Software Release:"), rel), 3, 0);
        rg->addWidget(swRel, 3, 1);
        rg->addWidget(captionLabel("label_16", QStringLiteral("Firmware Release:"), rel), 5, 0);
        rg->addWidget(fwRel, 5, 1);
        rg->addWidget(captionLabel("label_20", QStringLiteral("FPGA Release:"), rel), 7, 0);
        rg->addWidget(fpgaRel, 7, 1);
        const char *spacers[] = {"space123", "swrel", "fwrel"};
        for (int i = 0; i < 3; ++i) {
            QLabel *s = valueLabel(spacers[i], rel);
            s->setStyleSheet(QStringLiteral("color: #3366FF;"));
            rg->addWidget(s, 2 + 2 * i, 0);
        }
        rg->setColumnStretch(1, 1);
        il->addWidget(rel);
        QGridLayout *pg = nullptr;
        il->addWidget(powerModulesGroup(inner, 1, &mainStat, &pg));
        il->addStretch(1);

        horizontalLayout_4 = addFrontPanelTab(tabWidget, kFrontPanel);
        auto lamp = [&](const char *name) {
            return tabWidget->findChild<QLabel *>(QString::fromLatin1(name));
        };
        kill = lamp("kill");
        interlock = lamp("interlock");
        closeButton = addCloseRow(d, vl);
        tabWidget->setCurrentIndex(1);
    }
};

QTechInfoP8080Dialog::QTechInfoP8080Dialog(QString swRelease, QString fwRelease, QString hwRelease,
                                           quint32 serialNumber, ushort frontPanOut, KORUHVNode *logicNode,
                                           int acdcStatus, QWidget *parent)
    : QDialog(parent), ui(new Ui_QTechInfoP8080Dialog)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Technical Information"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    for (QLabel *l : {ui->PIDValue, ui->fwRel, ui->fpgaRel, ui->swRel, ui->mainStat})
        l->setStyleSheet(QString::fromLatin1(sysdlg::kValueStyle));
    setSwFwHvRelease(serialNumber, swRelease, fwRelease, hwRelease);
    ui->mainStat->setText(QString::number(acdcStatus));
    setFrontPanOut(frontPanOut);
    levelNode = logicNode;
    levelSwitch = addLevelSwitch(ui->horizontalLayout_4, levelNode);
    connect(levelSwitch, &QAbstractButton::clicked, this, &QTechInfoP8080Dialog::changeWriteFrontPanOutLevel);
}

QTechInfoP8080Dialog::~QTechInfoP8080Dialog()
{
    delete ui;
}

void QTechInfoP8080Dialog::setSwFwHvRelease(quint32 serialNumber, QString sw, QString fw, QString hw)
{
    ui->PIDValue->setText(QString::number(serialNumber));
    ui->swRel->setText(sw);
    ui->fwRel->setText(fw);
    ui->fpgaRel->setText(hw);
}

void QTechInfoP8080Dialog::setFrontPanOut(ushort bits)
{
    showFrontPanOut(this, bits);
}

void QTechInfoP8080Dialog::setFrontPanIn(ushort bits)
{
    sysdlg::setDialogLamp(ui->kill, bits & 0x4);
    sysdlg::setDialogLamp(ui->interlock, bits & 0x8);
}

void QTechInfoP8080Dialog::setFrontPanOutLevel(ushort level)
{
    if (levelSwitch)
        levelSwitch->setChecked(level != 0);
}

void QTechInfoP8080Dialog::changeWriteFrontPanOutLevel()
{
    writeLevel(levelNode, levelSwitch);
}
