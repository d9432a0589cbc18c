#include "QTechInfoP8080Dialog.h"

#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "SysDialogForms.h"
#include "SysDialogLamps.h"
#include "SysDialogTexts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QTabWidget>
#include <QVBoxLayout>

using sysdlg::captionLabel;
using sysdlg::valueLabel;

struct Ui_QTechInfoP8080Dialog {
    QTabWidget *tabWidget;
    QLabel *PIDValue, *swRel, *fwRel, *fpgaRel, *mainStat;
    QLabel *ovc, *unv, *ovv, *chOn, *fanFail, *out;
    QLabel *isel, *vsel, *kill, *interlock, *Hz50, *hvclock;
    QHBoxLayout *horizontalLayout_4;
    QPushButton *closeButton;

    static QGroupBox *group(const char *name, const QString &title, QWidget *parent)
    {
        auto *g = new QGroupBox(title, parent);
        g->setObjectName(QString::fromLatin1(name));
        return g;
    }

    void setupUi(QDialog *d)
    {
        d->setObjectName(QStringLiteral("QTechInfoP8080Dialog"));
        d->resize(755, 395);
        auto *vl = new QVBoxLayout(d);
        tabWidget = new QTabWidget(d);
        tabWidget->setObjectName(QStringLiteral("tabWidget"));
        /* The pane lets the dialog (and the panel style sheet given to it) show
         * through; scoped to the tab widget itself, since the same rule
         * inherited by the pages and the tab bar paints them black. */
        tabWidget->setStyleSheet(QStringLiteral("QTabWidget#tabWidget { background:transparent; }"));
        vl->addWidget(tabWidget);

        auto *tab = new QWidget();
        tab->setObjectName(QStringLiteral("tab"));
        auto *tl = new QVBoxLayout(tab);
        auto *scrollArea = new QScrollArea(tab);
        scrollArea->setObjectName(QStringLiteral("scrollArea"));
        scrollArea->setWidgetResizable(true);
        auto *inner = new QWidget();
        auto *il = new QVBoxLayout(inner);
        QGroupBox *rel = group("groupBox", QStringLiteral("Serial Number & Release"), inner);
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
        QGroupBox *pm = group("groupBox_2", QStringLiteral("Power Modules"), inner);
        auto *pg = new QGridLayout(pm);
        pg->setVerticalSpacing(20);
        pg->setContentsMargins(-1, 20, -1, -1);
        auto *h2 = new QHBoxLayout();
        h2->setSpacing(15);
        h2->setContentsMargins(-1, 10, -1, 10);
        mainStat = valueLabel("mainStat", pm);
        h2->addWidget(captionLabel("label", QStringLiteral("Status:"), pm));
        h2->addWidget(mainStat);
        h2->addStretch(1);
        pg->addLayout(h2, 0, 0);
        il->addWidget(pm);
        il->addStretch(1);
        scrollArea->setWidget(inner);
        tl->addWidget(scrollArea);
        tabWidget->addTab(tab, QStringLiteral("Info"));

        auto *tab2 = new QWidget();
        tab2->setObjectName(QStringLiteral("tab_2"));
        auto *t2l = new QVBoxLayout(tab2);
        auto *scrollArea2 = new QScrollArea(tab2);
        scrollArea2->setObjectName(QStringLiteral("scrollArea_2"));
        scrollArea2->setWidgetResizable(true);
        auto *inner2 = new QWidget();
        auto *i2l = new QVBoxLayout(inner2);
        QGroupBox *og = group("groupBox_8", QStringLiteral("Front Panel Output"), inner2);
        auto *ogl = new QGridLayout(og);
        ogl->setHorizontalSpacing(25);
        ogl->setVerticalSpacing(10);
        ogl->setContentsMargins(20, 20, -1, 20);
        ogl->setColumnStretch(1, 1);
        ogl->setColumnStretch(3, 1);
        ovc = valueLabel("ovc", og);
        chOn = valueLabel("chOn", og);
        unv = valueLabel("unv", og);
        fanFail = valueLabel("fanFail", og);
        ovv = valueLabel("ovv", og);
        out = valueLabel("out", og);
        const struct {
            const char *caption;
            QLabel *lamp;
            int row, col;
        } outs[] = {{"Over Current", ovc, 0, 0},  {"Channel on", chOn, 0, 2},  {"Under Voltage", unv, 1, 0},
                    {"Over Temp", fanFail, 1, 2}, {"Over Voltage", ovv, 2, 0}, {"Trip", out, 2, 2}};
        for (const auto &o : outs) {
            QLabel *c = captionLabel("", QString::fromLatin1(o.caption), og);
            c->setMinimumWidth(100);
            ogl->addWidget(c, o.row, o.col);
            ogl->addWidget(o.lamp, o.row, o.col + 1);
        }
        i2l->addWidget(og);
        scrollArea2->setWidget(inner2);
        t2l->addWidget(scrollArea2);

        QGroupBox *ig = group("groupBox_9", QStringLiteral("Front Panel Input"), tab2);
        auto *igl = new QGridLayout(ig);
        igl->setHorizontalSpacing(25);
        igl->setVerticalSpacing(10);
        igl->setContentsMargins(20, 20, -1, 20);
        isel = valueLabel("isel", ig);
        vsel = valueLabel("vsel", ig);
        kill = valueLabel("kill", ig);
        interlock = valueLabel("interlock", ig);
        Hz50 = valueLabel("Hz50", ig);
        hvclock = valueLabel("hvclock", ig);
        const struct {
            const char *caption;
            QLabel *lamp;
            int row, col;
        } ins[] = {{"VSel", isel, 1, 0},           {"ISel", vsel, 1, 3},  {"Kill", kill, 2, 0},
                   {"Interlock", interlock, 2, 3}, {"50 Hz", Hz50, 3, 0}, {"HV Clock", hvclock, 3, 3}};
        for (const auto &o : ins) {
            QLabel *c = captionLabel("", QString::fromLatin1(o.caption), ig);
            if (o.col == 0)
                c->setMinimumWidth(100);
            igl->addWidget(c, o.row, o.col);
            igl->addWidget(o.lamp, o.row, o.col == 0 ? 1 : 4);
        }
        horizontalLayout_4 = new QHBoxLayout();
        horizontalLayout_4->setSpacing(0);
        igl->addLayout(horizontalLayout_4, 4, 1);
        QLabel *nim = captionLabel("label_38", QStringLiteral("NIM / TTL"), ig);
        nim->setMinimumWidth(100);
        igl->addWidget(nim, 5, 0);
        t2l->addWidget(ig);
        tabWidget->addTab(tab2, QStringLiteral("Front Panel"));

        auto *h = new QHBoxLayout();
        h->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        closeButton = new QPushButton(QStringLiteral("Close"), d);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        closeButton->setDefault(true);
        h->addWidget(closeButton);
        vl->addLayout(h);
        QObject::connect(closeButton, &QPushButton::clicked, d, &QDialog::close);
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
    levelSwitch = new KORUHVSwitch(QStringLiteral("TTL"), QStringLiteral("NIM"), 1, nullptr);
    levelSwitch->setObjectName(QStringLiteral("levelSwitch"));
    ui->horizontalLayout_4->addWidget(levelSwitch);
    levelSwitch->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(levelSwitch, &QAbstractButton::clicked, this, &QTechInfoP8080Dialog::changeWriteFrontPanOutLevel);
    if (levelNode)
        levelSwitch->setChecked(sysdlg::lowWord(levelNode->getNodeValue().KORUHVGetValue()) != 0);
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
    for (const sysdlg::BitLamp &b : sysdlg::frontPanOutLamps())
        sysdlg::setDialogLamp(findChild<QLabel *>(QString::fromLatin1(b.lamp)), bits & (1u << b.bit));
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
    if (!levelNode || !levelSwitch)
        return;
    const unsigned wanted = levelSwitch->isChecked() ? 1u : 0u;
    if (levelNode->setNodeEditedValue(QVariant(wanted)) != 0)
        setFrontPanOutLevel(sysdlg::lowWord(levelNode->getNodeValue().KORUHVGetValue()));
}
