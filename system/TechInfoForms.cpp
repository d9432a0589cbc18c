#include "TechInfoForms.h"

#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "SysDialogForms.h"
#include "SysDialogLamps.h"
#include "SysDialogTexts.h"

#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QTabWidget>
#include <QVBoxLayout>

namespace sysdlg {

QTabWidget *addTabs(QDialog *d, QVBoxLayout *layout)
{
    auto *tabs = new QTabWidget(d);
    tabs->setObjectName(QStringLiteral("tabWidget"));
    /* The pane lets the dialog (and the panel style sheet given to it) show
     * through; scoped to the tab widget itself, since the same rule
     * inherited by the pages and the tab bar paints them black. */
    tabs->setStyleSheet(QStringLiteral("QTabWidget#tabWidget { background:transparent; }"));
    layout->addWidget(tabs);
    return tabs;
}

QGroupBox *namedGroup(const char *name, const QString &title, QWidget *parent)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}

QScrollArea *scrollTab(QTabWidget *tabs, const char *tabName, const char *areaName, const QString &title,
                       QVBoxLayout **content)
{
    auto *tab = new QWidget();
    tab->setObjectName(QString::fromLatin1(tabName));
    auto *tabLayout = new QVBoxLayout(tab);
    auto *area = new QScrollArea(tab);
    area->setObjectName(QString::fromLatin1(areaName));
    area->setWidgetResizable(true);
    auto *inner = new QWidget();
    *content = new QVBoxLayout(inner);
    area->setWidget(inner);
    tabLayout->addWidget(area);
    tabs->addTab(tab, title);
    return area;
}

QGroupBox *powerModulesGroup(QWidget *parent, int statusSpan, QLabel **mainStat, QGridLayout **grid)
{
    QGroupBox *pm = namedGroup("groupBox_2", QStringLiteral("Power Modules"), parent);
    auto *pg = new QGridLayout(pm);
    pg->setVerticalSpacing(20);
    pg->setContentsMargins(-1, 20, -1, -1);
    auto *h2 = new QHBoxLayout();
    h2->setSpacing(15);
    h2->setContentsMargins(-1, 10, -1, 10);
    *mainStat = valueLabel("mainStat", pm);
    h2->addWidget(captionLabel("label", QStringLiteral("Status:"), pm));
    h2->addWidget(*mainStat);
    h2->addStretch(1);
    pg->addLayout(h2, 0, 0, 1, statusSpan);
    *grid = pg;
    return pm;
}

namespace {

QGroupBox *cellGroup(const char *name, const QString &title, QWidget *parent,
                     std::span<const FrontPanelCell> cells, bool widenAll, QGridLayout **grid)
{
    QGroupBox *g = namedGroup(name, title, parent);
    auto *gl = new QGridLayout(g);
    gl->setHorizontalSpacing(25);
    gl->setVerticalSpacing(10);
    gl->setContentsMargins(20, 20, -1, 20);
    for (const FrontPanelCell &c : cells) {
        QLabel *caption = captionLabel(c.captionName, QString::fromLatin1(c.caption), g);
        if (widenAll || c.col == 0)
            caption->setMinimumWidth(100);
        gl->addWidget(caption, c.row, c.col);
        if (c.value)
            gl->addWidget(valueLabel(c.value, g), c.row, c.col + 1, c.align);
    }
    *grid = gl;
    return g;
}

} // namespace

QHBoxLayout *addFrontPanelTab(QTabWidget *tabs, const FrontPanelDesign &design)
{
    QVBoxLayout *front = nullptr;
    QScrollArea *area = scrollTab(tabs, "tab_2", "scrollArea_2", QStringLiteral("Front Panel"), &front);
    QWidget *inner = area->widget();
    QGridLayout *ogl = nullptr;
    front->addWidget(
        cellGroup("groupBox_8", QStringLiteral("Front Panel Output"), inner, design.outputs, true, &ogl));
    ogl->setColumnStretch(1, 1);
    ogl->setColumnStretch(3, 1);

    QWidget *page = area->parentWidget();
    QGridLayout *igl = nullptr;
    QGroupBox *ig = cellGroup("groupBox_9", QStringLiteral("Front Panel Input"),
                              design.inputScrolls ? inner : page, design.inputs, false, &igl);
    auto *level = new QHBoxLayout();
    level->setSpacing(0);
    igl->addLayout(level, design.levelRow, 1);
    if (design.inputScrolls) {
        front->addWidget(ig);
        front->addStretch(1);
    } else {
        page->layout()->addWidget(ig);
    }
    return level;
}

QPushButton *addCloseRow(QDialog *d, QVBoxLayout *layout)
{
    auto *h = new QHBoxLayout();
    h->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    auto *closeButton = new QPushButton(QStringLiteral("Close"), d);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    h->addWidget(closeButton);
    layout->addLayout(h);
    QObject::connect(closeButton, &QPushButton::clicked, d, &QDialog::close);
    return closeButton;
}

KORUHVSwitch *addLevelSwitch(QHBoxLayout *row, KORUHVNode *node)
{
    auto *sw = new KORUHVSwitch(QStringLiteral("TTL"), QStringLiteral("NIM"), 1, nullptr);
    sw->setObjectName(QStringLiteral("levelSwitch"));
    row->addWidget(sw);
    sw->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (node)
        sw->setChecked(lowWord(node->getNodeValue().KORUHVGetValue()) != 0);
    return sw;
}

void writeLevel(KORUHVNode *node, KORUHVSwitch *sw)
{
    if (!node || !sw)
        return;
    const unsigned wanted = sw->isChecked() ? 1u : 0u;
    if (node->setNodeEditedValue(QVariant(wanted)) != 0)
        sw->setChecked(lowWord(node->getNodeValue().KORUHVGetValue()) != 0);
}

void showFrontPanOut(QWidget *dialog, ushort bits)
{
    for (const BitLamp &b : frontPanOutLamps())
        setDialogLamp(dialog->findChild<QLabel *>(QString::fromLatin1(b.lamp)), bits & (1u << b.bit));
}

} // namespace sysdlg
