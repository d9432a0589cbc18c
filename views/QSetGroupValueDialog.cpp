#include "QSetGroupValueDialog.h"

#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "QCreateSetGroupsDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

QSetGroupValueDialog::QSetGroupValueDialog(QVector<KORUHVNode *> nodes, QString paramName, int groupIndex,
                                           QString groupName, QWidget *parent,
                                           KORUHVCustomizations *controller)
    : QDialog(parent), nodes(nodes), paramName(paramName), groupIndex(groupIndex), groupName(groupName),
      controller(controller)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    resize(380, 329);
    setWindowIcon(QIcon(QStringLiteral(":/Resources/buttons/workgr.png")));

    auto *outer = new QVBoxLayout(this);
    auto *top = new QHBoxLayout();
    auto *left = new QVBoxLayout();
    editGroupButton = new QPushButton(QStringLiteral("Edit Group"), this);
    editGroupButton->setObjectName(QStringLiteral("editGroupButton"));
    deleteGroupButton = new QPushButton(QStringLiteral("Delete Group"), this);
    deleteGroupButton->setObjectName(QStringLiteral("deleteGroupButton"));
    left->addWidget(editGroupButton);
    left->addWidget(deleteGroupButton);
    top->addLayout(left);
    top->addStretch();
    editorColumn = new QVBoxLayout();
    paramLabel = new QLabel(this);
    paramLabel->setObjectName(QStringLiteral("paramLabel"));
    editorColumn->addWidget(paramLabel);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    editorColumn->addWidget(buttonBox);
    top->addLayout(editorColumn);
    outer->addLayout(top);
    showItemsButton = new QPushButton(this);
    showItemsButton->setObjectName(QStringLiteral("showItems"));
    showItemsButton->setIcon(QIcon(QStringLiteral(":/Resources/Elementi/arrow-down.png")));
    showItemsButton->setMaximumHeight(20);
    outer->addWidget(showItemsButton);
    itemsList = new QTreeWidget(this);
    itemsList->setObjectName(QStringLiteral("itemsList"));
    itemsList->setHeaderLabels(
        {QStringLiteral("Power Supply"), QStringLiteral("Board"), QStringLiteral("Channel")});
    itemsList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    itemsList->setSelectionMode(QAbstractItemView::NoSelection);
    outer->addWidget(itemsList);
    hideItemsButton = new QPushButton(this);
    hideItemsButton->setObjectName(QStringLiteral("hideItems"));
    hideItemsButton->setIcon(QIcon(QStringLiteral(":/Resources/Elementi/arrow-up.png")));
    hideItemsButton->setMaximumHeight(15);
    outer->addWidget(hideItemsButton);
    outer->addStretch();
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::close);

    buildEditor(false);
    itemsList->hide();
    hideItemsButton->hide();
    setParameterName();
    fillListWithChannels();
    connect(editGroupButton, &QPushButton::clicked, this, &QSetGroupValueDialog::editGroup);
    connect(deleteGroupButton, &QPushButton::clicked, this, &QSetGroupValueDialog::deleteGroup);
    connect(showItemsButton, &QPushButton::clicked, this, &QSetGroupValueDialog::showItems);
    connect(hideItemsButton, &QPushButton::clicked, this, &QSetGroupValueDialog::hideItems);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QSetGroupValueDialog::clickedOkButton);
    adjustSize();
}

QSetGroupValueDialog::~QSetGroupValueDialog() = default;

void QSetGroupValueDialog::buildEditor(bool expandBoth)
{
    if (valueEditor) {
        editorColumn->removeWidget(valueEditor);
        delete valueEditor;
        valueEditor = nullptr;
    }
    KORUHVNode *first = nullptr;
    for (KORUHVNode *n : nodes) {
        if (n && n->getNodeType() == NODE_CHANNEL_PARAM) {
            first = n;
            break;
        }
    }
    if (!first)
        return;
    valueEditor = new KORUHVWidgetItem(this, first);
    valueEditor->createInternalWidget(first->getDataType(), first->getAccessRights(),
                                      first->getExpUnitShortForm(), first->getNodeValue().KORUHVGetValue(),
                                      first->getNodeDecimals(), false);
    valueEditor->setSizePolicy(QSizePolicy::Expanding,
                               expandBoth ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    editorColumn->insertWidget(1, valueEditor);
}

void QSetGroupValueDialog::setParameterName()
{
    paramLabel->setText(paramName);
    setWindowTitle(QStringLiteral("Set %0 for Group %1").arg(paramName, groupName));
}

void QSetGroupValueDialog::setGroupName(QString name)
{
    groupName = name;
    setWindowTitle(QStringLiteral("Set %0 for Group %1").arg(paramName, groupName));
}

void QSetGroupValueDialog::fillListWithChannels()
{
    itemsList->clear();
    for (KORUHVNode *n : nodes) {
        if (!n || n->getNodeType() == NODE_CHANNEL_PARAM)
            continue;
        auto *row = new QTreeWidgetItem(itemsList);
        row->setText(0, n->getSysName());
        row->setText(1, n->getBdName());
        row->setText(2, n->getNodeName());
    }
}

void QSetGroupValueDialog::showItems()
{
    showItemsButton->hide();
    itemsList->show();
    hideItemsButton->show();
    adjustSize();
}

void QSetGroupValueDialog::hideItems()
{
    itemsList->hide();
    hideItemsButton->hide();
    showItemsButton->show();
    adjustSize();
}

int QSetGroupValueDialog::setNewValueForNode(QVariant value, KORUHVNode *node)
{
    if (!node)
        return -1;
    QVariant own;
    if (!KORUHVCustomizationRules::valueForMember(node, value, &own)) {
        KORUHVCustomizationRules::markNotWritten(node);
        return -1;
    }
    return node->setNodeEditedValue(own);
}

void QSetGroupValueDialog::clickedOkButton()
{
    if (!controller || !valueEditor)
        return;
    // Input outside the limits stays in the field, refused; nothing goes out.
    if (!valueEditor->acceptTypedValue())
        return;
    const QVariant value = valueEditor->getDataInValueField();
    // A write may run the event loop (the device answers synchronously, but
    // widgets refresh): work on a copy so a purge cannot shift the vector.
    const QVector<KORUHVNode *> members = nodes;
    for (KORUHVNode *n : members) {
        if (n && n->getNodeType() != NODE_CHANNEL)
            setNewValueForNode(value, n);
    }
    close();
}

void QSetGroupValueDialog::editGroup()
{
    if (!controller)
        return;
    auto *dialog = new QCreateSetGroupsDialog(groupIndex, controller->allSystemRoots(), nodes, this,
                                              groupName, controller);
    dialog->setParameterInComboBox(paramLabel->text());
    dialog->disableGroupNameAndParameterField();
    dialog->show();
}

void QSetGroupValueDialog::groupEditedCallback(QVector<KORUHVNode *> newNodes, QString newParamName,
                                               QString newGroupName)
{
    if (newNodes.isEmpty())
        return;
    nodes = newNodes;
    fillListWithChannels();
    paramName = newParamName;
    setParameterName();
    if (nodes.size() > 1)
        buildEditor(true);
    setGroupName(newGroupName);
    if (controller)
        controller->groupEditedCallback(nodes, newGroupName, groupIndex);
}

void QSetGroupValueDialog::deleteGroup()
{
    // The question runs an event loop in which a purge may close and delete
    // this dialog.
    QPointer<QSetGroupValueDialog> self(this);
    if (controller)
        controller->deleteGroupCallback(groupIndex);
    if (self)
        close();
}

bool QSetGroupValueDialog::usesNodesOf(int sysHandle, int slot) const
{
    return KORUHVCustomizationRules::touches(nodes, sysHandle, slot);
}

void QSetGroupValueDialog::dropNodesAndClose()
{
    // The edit dialog, a child, goes with this one.
    for (QCreateSetGroupsDialog *child : findChildren<QCreateSetGroupsDialog *>())
        child->dropNodesAndClose();
    nodes.clear();
    delete valueEditor;
    valueEditor = nullptr;
    close();
}
