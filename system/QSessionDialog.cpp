#include "QSessionDialog.h"

#include "SysDialogTexts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTreeWidget>
#include <QVBoxLayout>

QSessionDialog::QSessionDialog(QString sessionList, QWidget *parent) : QDialog(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("QSessionDialog"));
    resize(600, 450);
    setWindowTitle(tr("Dialog"));
    verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    treeWidget = new QTreeWidget(this);
    treeWidget->setObjectName(QStringLiteral("treeWidget"));
    treeWidget->setStyleSheet(QStringLiteral("background:transparent"));
    treeWidget->setFrameShape(QFrame::NoFrame);
    treeWidget->setFrameShadow(QFrame::Plain);
    treeWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeWidget->setProperty("showDropIndicator", false);
    treeWidget->setDragDropOverwriteMode(false);
    treeWidget->setAlternatingRowColors(true);
    treeWidget->setSelectionMode(QAbstractItemView::SingleSelection);
    treeWidget->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    treeWidget->setRootIsDecorated(false);
    verticalLayout->addWidget(treeWidget);
    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    closeButton = new QPushButton(tr("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    closeButton->setFlat(false);
    horizontalLayout->addWidget(closeButton);
    verticalLayout->addLayout(horizontalLayout);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    setAttribute(Qt::WA_DeleteOnClose);
    treeWidget->setColumnCount(sysdlg::kSessionColumns);
    treeWidget->setHeaderLabels(sysdlg::sessionHeaders());
    splitMainString(sessionList);
    fillListWidget();
}

QSessionDialog::~QSessionDialog() = default;

void QSessionDialog::splitMainString(QString sessionList)
{
    sessions += sysdlg::parseSessionList(sessionList);
}

void QSessionDialog::fillListWidget()
{
    for (const QStringList &row : sessions) {
        auto *item = new QTreeWidgetItem();
        for (int i = 0; i < row.size(); ++i) {
            item->setText(i, sysdlg::sessionCellText(i, row.at(i)));
            item->setTextAlignment(i, Qt::AlignHCenter | Qt::AlignVCenter);
        }
        treeWidget->addTopLevelItem(item);
    }
    for (int c = 0; c < treeWidget->columnCount(); ++c)
        treeWidget->resizeColumnToContents(c);
}
