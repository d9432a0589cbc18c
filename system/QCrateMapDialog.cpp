#include "QCrateMapDialog.h"

#include "KORUHVNode.h"
#include "SysDialogTexts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTreeWidget>
#include <QVBoxLayout>

QCrateMapDialog::QCrateMapDialog(KORUHVNode *sys, QWidget *parent) : QDialog(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("QCrateMapDialog"));
    resize(607, 483);
    setWindowTitle(tr("Dialog"));
    auto *verticalLayout_2 = new QVBoxLayout(this);
    treeWidget = new QTreeWidget(this);
    treeWidget->setObjectName(QStringLiteral("treeWidget"));
    treeWidget->setUniformRowHeights(true);
    treeWidget->setItemsExpandable(false);
    treeWidget->setExpandsOnDoubleClick(false);
    treeWidget->setRootIsDecorated(false);
    verticalLayout_2->addWidget(treeWidget);
    auto *hboxLayout = new QHBoxLayout();
    hboxLayout->setSpacing(6);
    hboxLayout->setContentsMargins(0, 0, 0, 0);
    hboxLayout->addItem(new QSpacerItem(131, 31, QSizePolicy::Expanding, QSizePolicy::Minimum));
    cancelButton = new QPushButton(tr("Close"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    hboxLayout->addWidget(cancelButton);
    verticalLayout_2->addLayout(hboxLayout);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    setAttribute(Qt::WA_DeleteOnClose);

    system = sys;
    if (!system)
        return;
    treeWidget->setColumnCount(5);
    treeWidget->setHeaderLabels(sysdlg::crateMapHeaders(system->getSystemType()));
    fillListWidget();
}

QCrateMapDialog::~QCrateMapDialog() = default;

void QCrateMapDialog::fillListWidget()
{
    if (!system)
        return;
    const int type = system->getSystemType();
    const QVector<KORUHVNode *> children = system->getChildren();
    for (int i = 0; i < children.size(); ++i) {
        setWindowTitle(sysdlg::crateMapTitle(type));
        const QStringList cells = sysdlg::crateMapRow(type, i, sysdlg::crateMapSlotOf(children.at(i)));
        auto *item = new QTreeWidgetItem();
        for (int c = 0; c < cells.size(); ++c) {
            item->setText(c, cells.at(c));
            item->setTextAlignment(c, Qt::AlignHCenter | Qt::AlignVCenter);
        }
        treeWidget->addTopLevelItem(item);
    }
    for (int c = 0; c < treeWidget->columnCount(); ++c)
        treeWidget->resizeColumnToContents(c);
}
