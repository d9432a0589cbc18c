#include "QTechInfoDialog.h"

#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "SysDialogForms.h"
#include "SysDialogLamps.h"
#include "SysDialogTexts.h"
#include "TechInfoForms.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSizeGrip>
#include <QSpacerItem>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace sysdlg;

namespace {
using Cell = FrontPanelCell;
const Cell kOutputs[] = {{"Over Current", "ovc", 0, 0},  {"Channel on", "chOn", 0, 2},
                         {"Under Voltage", "unv", 1, 0}, {"Fan Failure", "fanFail", 1, 2},
                         {"Over Voltage", "ovv", 2, 0},  {"Out", "out", 2, 2}};
const Cell kInputs[] = {{"V<sub>SEL</sub>", "vsel", 0, 0},
                        {"I<sub>SEL</sub>", "isel", 0, 3},
                        {"Kill", "kill", 2, 0},
                        {"Interlock", "interlock", 2, 3},
                        {"Enable", "enable", 5, 0, Qt::AlignCenter},
                        {"NIM / TTL", nullptr, 6, 0}};
const FrontPanelDesign kFrontPanel{kOutputs, kInputs, 6, true};
} // namespace

struct Ui_QTechInfoDialog {
    QTabWidget *tabWidget;
    QLabel *fwRel, *fpgaRel, *mainStat, *primStat, *primIdd, *primIpw, *primIVcc1, *primIVcc2;
    QLabel *firstStat, *firstIpw, *firstMod, *secStat, *secIpw, *secMod, *thirdStat, *thirdIpw, *thirdMod;
    QLabel *vdd, *vfan, *vcc1, *vcc2, *vcpu, *vpw;
    QLabel *vsel, *isel, *kill, *interlock, *enable; /* the output lamps are found by name */
    QHBoxLayout *horizontalLayout_3;
    QPushButton *closeButton;

    /* A boost supply group: status, model and I_PWR rows. */
    static QGroupBox *boostGroup(const char *name, const QString &title, QWidget *parent, const char *stat,
                                 const char *mod, const char *ipw, QLabel **s, QLabel **m, QLabel **i)
    {
        QGroupBox *g = namedGroup(name, title, parent);
        auto *grid = new QGridLayout(g);
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(15);
        grid->setContentsMargins(-1, 15, -1, -1);
        *s = valueLabel(stat, g);
        *m = valueLabel(mod, g);
        *i = valueLabel(ipw, g);
        grid->addWidget(captionLabel("", QStringLiteral("Status:"), g), 0, 0);
        grid->addWidget(*s, 0, 1);
        grid->addWidget(captionLabel("", QStringLiteral("Model:"), g), 1, 0);
        grid->addWidget(*m, 1, 1);
        grid->addWidget(captionLabel("", QStringLiteral("I<sub>PWR</sub>:"), g), 2, 0);
        grid->addWidget(*i, 2, 1);
        return g;
    }

    void setupUi(QDialog *d)
    {
        d->setObjectName(QStringLiteral("QTechInfoDialog"));
        d->resize(575, 740);
        d->setSizeGripEnabled(true);
        d->setWindowTitle(QStringLiteral("Technical Informations"));
        auto *vl = new QVBoxLayout(d);
        vl->setSpacing(6);
        tabWidget = addTabs(d, vl);

        QVBoxLayout *info = nullptr;
        QScrollArea *area = scrollTab(tabWidget, "tab", "scrollArea", QStringLiteral("Info"), &info);
        QWidget *inner = area->widget();

        QGroupBox *rel = namedGroup("groupBox", QStringLiteral("Release"), inner);
        auto *rg = new QGridLayout(rel);
        rg->setHorizontalSpacing(15);
        rg->setVerticalSpacing(10);
        rg->setContentsMargins(-1, 20, -1, 20);
        fwRel = valueLabel("fwRel", rel);
        fpgaRel = valueLabel("fpgaRel", rel);
        rg->addWidget(captionLabel("label_16", QStringLiteral("Firmware Release:"), rel), 0, 0);
        rg->addWidget(fwRel, 0, 1);
        QLabel *spacing = valueLabel("fwrel", rel);
        spacing->setStyleSheet(QStringLiteral("color: #3366FF;"));
        rg->addWidget(spacing, 1, 0);
        rg->addWidget(captionLabel("label_20", QStringLiteral("FPGA Release:"), rel), 2, 0);
        rg->addWidget(fpgaRel, 2, 1);
        rg->setColumnStretch(1, 1);
        info->addWidget(rel);

        QGridLayout *pg = nullptr;
        QGroupBox *pm = powerModulesGroup(inner, 3, &mainStat, &pg);

        QGroupBox *prim = namedGroup("groupBox_3", QStringLiteral("Primary Power Supply"), pm);
        auto *prg = new QGridLayout(prim);
        prg->setHorizontalSpacing(10);
        prg->setVerticalSpacing(15);
        prg->setContentsMargins(-1, 15, -1, -1);
        primStat = valueLabel("primStat", prim);
        primIpw = valueLabel("primIpw", prim);
        primIdd = valueLabel("primIdd", prim);
        primIVcc1 = valueLabel("primIVcc1", prim);
        primIVcc2 = valueLabel("primIVcc2", prim);
        prg->addWidget(captionLabel("", QStringLiteral("Status:"), prim), 1, 0);
        prg->addWidget(primStat, 1, 1);
        prg->addWidget(captionLabel("", QStringLiteral("I<sub>PWR</sub>:"), prim), 2, 0);
        prg->addWidget(primIpw, 2, 1);
        prg->addWidget(captionLabel("", QStringLiteral("I<sub>DD</sub>:"), prim), 2, 2);
        prg->addWidget(primIdd, 2, 3);
        prg->addWidget(captionLabel("", QStringLiteral("I + V<sub>CC</sub>:"), prim), 4, 0);
        prg->addWidget(primIVcc1, 4, 1);
        prg->addWidget(captionLabel("", QStringLiteral("I - V<sub>cc</sub>:"), prim), 4, 2);
        prg->addWidget(primIVcc2, 4, 3);
        pg->addWidget(prim, 1, 0);
        pg->addWidget(boostGroup("groupBox_4", QStringLiteral("First Boost Power Supply"), pm, "firstStat",
                                 "firstMod", "firstIpw", &firstStat, &firstMod, &firstIpw),
                      1, 2);
        pg->addWidget(boostGroup("groupBox_5", QStringLiteral("Second Boost Power Supply"), pm, "secStat",
                                 "secMod", "secIpw", &secStat, &secMod, &secIpw),
                      2, 0);
        pg->addWidget(boostGroup("groupBox_6", QStringLiteral("Third Boost Power Supply"), pm, "thirdStat",
                                 "thirdMod", "thirdIpw", &thirdStat, &thirdMod, &thirdIpw),
                      2, 2);
        info->addWidget(pm);

        QGroupBox *vg = namedGroup("groupBox_7", QStringLiteral("Voltages"), inner);
        auto *vgl = new QGridLayout(vg);
        vgl->setHorizontalSpacing(10);
        vgl->setVerticalSpacing(15);
        vgl->setContentsMargins(-1, 20, -1, -1);
        vdd = valueLabel("vdd", vg);
        vfan = valueLabel("vfan", vg);
        vcc1 = valueLabel("vcc1", vg);
        vpw = valueLabel("vpw", vg);
        vcc2 = valueLabel("vcc2", vg);
        vcpu = valueLabel("vcpu", vg);
        const struct {
            const char *caption;
            QLabel *value;
            int row, col;
        } volts[] = {{"V<sub>DD</sub>:", vdd, 0, 0},    {"V<sub>FAN</sub>:", vfan, 0, 2},
                     {"- V<sub>CC</sub>:", vcc1, 1, 0}, {"V<sub>PWR</sub>:", vpw, 1, 2},
                     {"+ V<sub>CC</sub>:", vcc2, 2, 0}, {"V<sub>CPU</sub>:", vcpu, 2, 2}};
        for (const auto &v : volts) {
            vgl->addWidget(captionLabel("", QString::fromLatin1(v.caption), vg), v.row, v.col);
            vgl->addWidget(v.value, v.row, v.col + 1);
        }
        info->addWidget(vg);
        info->addStretch(1);

        horizontalLayout_3 = addFrontPanelTab(tabWidget, kFrontPanel);
        auto lamp = [&](const char *name) {
            return tabWidget->findChild<QLabel *>(QString::fromLatin1(name));
        };
        vsel = lamp("vsel");
        isel = lamp("isel");
        kill = lamp("kill");
        interlock = lamp("interlock");
        enable = lamp("enable");
        QFont f;
        f.setPointSize(12);
        f.setWeight(QFont::Normal);
        for (QLabel *l : {vsel, isel, enable})
            l->setFont(f);
        closeButton = addCloseRow(d, vl);
        tabWidget->setCurrentIndex(0);
    }
};

QTechInfoDialog::QTechInfoDialog(QString swRelease, QString hvPwSM, QString pwCurrent, QString pwVoltage,
                                 ushort frontPanOut, ushort frontPanIn, KORUHVNode *level, QWidget *parent)
    : QDialog(parent), ui(new Ui_QTechInfoDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    for (QLabel *l :
         {ui->fwRel,     ui->fpgaRel,   ui->mainStat, ui->primStat, ui->primIdd, ui->primIpw, ui->primIVcc1,
          ui->primIVcc2, ui->firstStat, ui->firstIpw, ui->firstMod, ui->secStat, ui->secIpw,  ui->secMod,
          ui->thirdStat, ui->thirdIpw,  ui->thirdMod, ui->vdd,      ui->vfan,    ui->vcc1,    ui->vcc2,
          ui->vcpu,      ui->vpw,       ui->vsel,     ui->isel,     ui->enable})
        l->setStyleSheet(QString::fromLatin1(sysdlg::kValueStyle));
    setSwRelease(swRelease);
    setHvPwSMWidgets(hvPwSM);
    setPowerModulesWidgets(pwCurrent);
    setVoltagesWidgets(pwVoltage);
    setFrontPanOut(frontPanOut);
    setFrontPanIn(frontPanIn);
    levelNode = level;
    levelSwitch = addLevelSwitch(ui->horizontalLayout_3, levelNode);
    connect(levelSwitch, &QAbstractButton::clicked, this, &QTechInfoDialog::changeWriteFrontPanOutLevel);
}

QTechInfoDialog::~QTechInfoDialog()
{
    delete ui;
}

void QTechInfoDialog::setSwRelease(QString text)
{
    const sysdlg::ReleaseParts r = sysdlg::swReleaseParts(text);
    if (r.hasFirmware)
        ui->fwRel->setText(r.firmware);
    if (r.hasFpga)
        ui->fpgaRel->setText(r.fpga);
}

void QTechInfoDialog::setHvPwSMWidgets(QString text)
{
    if (text.isEmpty())
        return;
    QLabel *states[] = {ui->mainStat, ui->primStat, ui->firstStat, ui->secStat, ui->thirdStat};
    QLabel *models[] = {nullptr, nullptr, ui->firstMod, ui->secMod, ui->thirdMod};
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    for (int i = 0; i < parts.size() && i < 5; ++i) {
        const sysdlg::PowerModuleText t = sysdlg::powerModuleText(parts.at(i));
        states[i]->setText(t.state);
        if (models[i] && !t.keepModel)
            models[i]->setText(t.model);
    }
}

void QTechInfoDialog::setPowerModulesWidgets(QString text)
{
    if (text.isEmpty())
        return;
    QLabel *labels[] = {ui->primIdd,  ui->primIVcc1, ui->primIVcc2, ui->primIpw,
                        ui->firstIpw, ui->secIpw,    ui->thirdIpw};
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    for (int i = 0; i < parts.size() && i < 7; ++i)
        labels[i]->setText(parts.at(i));
    auto recolour = [](QLabel *l, sysdlg::CurrentColour c) {
        if (c != sysdlg::CurrentColour::Keep)
            l->setStyleSheet(sysdlg::currentStyle(c));
    };
    recolour(ui->primIpw, sysdlg::primaryCurrentColour(ui->primIpw->text()));
    recolour(ui->firstIpw, sysdlg::boostCurrentColour(ui->firstIpw->text(), ui->firstMod->text()));
    recolour(ui->secIpw, sysdlg::boostCurrentColour(ui->secIpw->text(), ui->secMod->text()));
    recolour(ui->thirdIpw, sysdlg::boostCurrentColour(ui->thirdIpw->text(), ui->thirdMod->text()));
}

void QTechInfoDialog::setVoltagesWidgets(QString text)
{
    if (text.isEmpty())
        return;
    QLabel *labels[] = {ui->vdd, ui->vcc1, ui->vcc2, ui->vfan, ui->vpw, ui->vcpu};
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    for (int i = 0; i < parts.size() && i < 6; ++i)
        labels[i]->setText(parts.at(i));
}

void QTechInfoDialog::setFrontPanOut(ushort bits)
{
    showFrontPanOut(this, bits);
}

void QTechInfoDialog::setFrontPanIn(ushort bits)
{
    const sysdlg::FrontPanInView v = sysdlg::frontPanInView(bits);
    ui->vsel->setText(v.vsel);
    ui->isel->setText(v.isel);
    sysdlg::setDialogLamp(ui->kill, v.kill);
    sysdlg::setDialogLamp(ui->interlock, v.interlock);
    ui->enable->setText(v.enable);
}

void QTechInfoDialog::setFrontPanOutLevel(ushort level)
{
    if (levelSwitch)
        levelSwitch->setChecked(level != 0);
}

void QTechInfoDialog::changeWriteFrontPanOutLevel()
{
    writeLevel(levelNode, levelSwitch);
}
