#include "QCreateSetGroupsDialog.h"

#include "KORUHVNode.h"
#include "QCustomLineEdit.h"
#include "QSetGroupValueDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

void setEntryState(QTreeWidgetItem *item, bool on)
{
    Qt::ItemFlags flags = Qt::ItemIsSelectable;
    if (on)
        flags |= Qt::ItemIsEnabled;
    item->setFlags(flags);
    item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
}

bool entryIsOn(const QTreeWidgetItem *item)
{
    return item->flags().testFlag(Qt::ItemIsEnabled);
}

void setEntryFont(QTreeWidgetItem *item, QFont::Weight weight)
{
    QFont f = item->font(1);
    f.setWeight(weight);
    item->setFont(1, f);
}

} // namespace

QCreateSetGroupsDialog::QCreateSetGroupsDialog(int groupIndex, QVector<KORUHVNode *> systems,
                                               QVector<KORUHVNode *> groupNodes, QWidget *parent,
                                               QString groupName, KORUHVCustomizations *controller)
    : QDialog(parent), systemNodes(systems), groupNodes(groupNodes), groupIndex(groupIndex),
      controller(controller), valueDialog(qobject_cast<QSetGroupValueDialog *>(parent))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    resize(591, 609);
    setWindowTitle(groupName.isEmpty() ? QStringLiteral("New Group")
                                       : QStringLiteral("Edit %0").arg(groupName));
    setWindowIcon(QIcon(QStringLiteral(":/Resources/buttons/workgr.png")));

    auto *outer = new QVBoxLayout(this);
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *content = new QWidget(scroll);
    auto *layout = new QVBoxLayout(content);
    layout->setSpacing(6);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *groupLabel = new QLabel(QStringLiteral("Group Name"), content);
    groupLabel->setObjectName(QStringLiteral("groupLabel"));
    layout->addWidget(groupLabel);
    auto *paramLabel = new QLabel(QStringLiteral("Parameter"), content);
    paramLabel->setObjectName(QStringLiteral("paramLabel"));
    layout->addWidget(paramLabel);
    auto *row = new QHBoxLayout();
    paramCombo = new QComboBox(content);
    paramCombo->setObjectName(QStringLiteral("paramCombo"));
    paramCombo->setMinimumSize(200, 25);
    QFont small = paramCombo->font();
    small.setPointSize(8);
    paramCombo->setFont(small);
    paramCombo->setIconSize(QSize(24, 24));
    row->addWidget(paramCombo);
    row->addStretch();
    layout->addLayout(row);
    auto *chLabel = new QLabel(QStringLiteral("Channels"), content);
    chLabel->setObjectName(QStringLiteral("chLabel"));
    layout->addWidget(chLabel);
    treeSource = new QTreeWidget(content);
    treeSource->setObjectName(QStringLiteral("treeSource"));
    treeSource->setColumnCount(2);
    treeSource->header()->hide();
    // The check column only as wide as its mark, so names stand beside it.
    treeSource->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    treeSource->setMinimumHeight(300);
    treeSource->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeSource->setSelectionMode(QAbstractItemView::SingleSelection);
    treeSource->setDragDropMode(QAbstractItemView::NoDragDrop);
    treeSource->setDropIndicatorShown(false);
    treeSource->setAnimated(false);
    treeSource->setExpandsOnDoubleClick(false);
    treeSource->setIconSize(QSize(24, 24));
    layout->addWidget(treeSource);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    outer->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::close);

    initializeParametersChoice();
    groupNameField = new QCustomLineEdit(false, content);
    groupNameField->setPlaceholderText(QStringLiteral("Insert group name here.."));
    groupNameField->setSizePolicy(QSizePolicy::Expanding, groupNameField->sizePolicy().verticalPolicy());
    layout->insertWidget(1, groupNameField);
    if (!groupName.isEmpty())
        groupNameField->setText(groupName);

    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    buttonBox->setFocus();
    QPalette pal = treeSource->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Text, QColor(53, 169, 18));
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(150, 150, 150));
    treeSource->setPalette(pal);
    connect(treeSource, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item, int) { changeItemVisibility(item); });
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QCreateSetGroupsDialog::clickedOkButton);
    connect(paramCombo, &QComboBox::currentTextChanged, this,
            &QCreateSetGroupsDialog::fillTreeWithAvailableChannels);
}

QCreateSetGroupsDialog::~QCreateSetGroupsDialog() = default;

void QCreateSetGroupsDialog::initializeParametersChoice()
{
    for (KORUHVNode *system : systemNodes) {
        if (!system || system->getNodeType() == NODE_GROUP)
            continue;
        for (KORUHVNode *board : system->getChildren()) {
            if (board->getNodeType() == NODE_GROUP)
                continue;
            for (KORUHVNode *channel : board->getChildren()) {
                for (KORUHVNode *param : channel->getParameters()) {
                    const auto rights = param->getAccessRights();
                    if (rights != ACCESS_WRITE_ONLY && rights != ACCESS_READ_WRITE)
                        continue;
                    if (paramCombo->findText(param->getNodeName(),
                                             Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
                        paramCombo->addItem(param->getNodeName());
                }
            }
        }
    }
    paramCombo->setCurrentIndex(-1);
}

void QCreateSetGroupsDialog::setParameterInComboBox(QString name)
{
    if (name.isEmpty())
        return;
    const int i = paramCombo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0)
        paramCombo->setCurrentIndex(i);
}

void QCreateSetGroupsDialog::disableGroupNameAndParameterField()
{
    groupNameField->setEnabled(false);
    paramCombo->setEnabled(false);
}

void QCreateSetGroupsDialog::fillTreeWithAvailableChannels(QString setValue)
{
    QPushButton *ok = buttonBox->button(QDialogButtonBox::Ok);
    if (setValue.isEmpty()) {
        ok->setEnabled(false);
        return;
    }
    ok->setEnabled(true);
    QVector<KORUHVNode *> members;
    for (KORUHVNode *n : groupNodes) {
        if (n && n->getNodeType() == NODE_CHANNEL)
            members.append(n);
    }
    treeSource->clear();
    channelOfItem.clear();
    for (KORUHVNode *system : systemNodes) {
        if (!system)
            continue;
        auto *systemItem = new QTreeWidgetItem(treeSource);
        systemItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/sistema.png")));
        systemItem->setText(1, system->getNodeName());
        setEntryState(systemItem, false);
        if (system->getNodeType() != NODE_GROUP) {
            for (KORUHVNode *board : system->getChildren()) {
                auto *boardItem = new QTreeWidgetItem(systemItem);
                boardItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/modulo.png")));
                boardItem->setText(1, board->getNodeName());
                setEntryState(boardItem, false);
                int ticked = 0;
                for (KORUHVNode *channel : board->getChildren()) {
                    for (KORUHVNode *param : channel->getParameters()) {
                        if (param->getNodeName() != setValue)
                            continue;
                        auto *channelItem = new QTreeWidgetItem(boardItem);
                        channelItem->setIcon(0, QIcon(QStringLiteral(":/Resources/Elementi/canale.png")));
                        channelItem->setText(1, channel->getNodeName());
                        channelOfItem.insert(channelItem, channel);
                        // Members are recognised by pointer, not by name and slot.
                        const bool member = members.contains(channel);
                        setEntryState(channelItem, member);
                        if (member)
                            ++ticked;
                    }
                }
                if (ticked > 0) {
                    setEntryState(boardItem, true);
                    setEntryState(systemItem, true);
                } else {
                    setEntryState(boardItem, false);
                }
                if (board->getNodeType() == NODE_GROUP)
                    boardItem->setHidden(true);
            }
        }
        systemItem->setExpanded(true);
        if (system->getNodeType() == NODE_GROUP)
            systemItem->setHidden(true);
    }
}

void QCreateSetGroupsDialog::changeItemVisibility(QTreeWidgetItem *currentItem)
{
    if (!currentItem)
        return;
    const bool wasOn = entryIsOn(currentItem);
    const QFont::Weight weight = wasOn ? QFont::Normal : QFont::Bold;
    auto apply = [&](QTreeWidgetItem *item) {
        setEntryState(item, !wasOn);
        setEntryFont(item, weight);
    };
    apply(currentItem);
    for (int i = 0; i < currentItem->childCount(); ++i) {
        QTreeWidgetItem *child = currentItem->child(i);
        apply(child);
        for (int j = 0; j < child->childCount(); ++j)
            apply(child->child(j));
    }
    if (!wasOn) {
        for (QTreeWidgetItem *up = currentItem->parent(); up; up = up->parent())
            apply(up);
    }
    currentItem->setSelected(false);
}

void QCreateSetGroupsDialog::clickedOkButton()
{
    QVector<KORUHVNode *> nodes;
    const QString param = paramCombo->currentText();
    for (int s = 0; s < treeSource->topLevelItemCount(); ++s) {
        QTreeWidgetItem *systemItem = treeSource->topLevelItem(s);
        for (int b = 0; b < systemItem->childCount(); ++b) {
            QTreeWidgetItem *boardItem = systemItem->child(b);
            for (int c = 0; c < boardItem->childCount(); ++c) {
                QTreeWidgetItem *channelItem = boardItem->child(c);
                KORUHVNode *channel = channelOfItem.value(channelItem);
                if (!channel || !entryIsOn(channelItem))
                    continue;
                nodes.append(channel);
                for (KORUHVNode *p : channel->getParameters()) {
                    if (p->getNodeName() == param)
                        nodes.append(p);
                }
            }
        }
    }
    if (nodes.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("LUMO2020"), QStringLiteral("Select at least one channel"),
                              QMessageBox::Ok);
        return;
    }
    if (valueDialog)
        valueDialog->groupEditedCallback(nodes, param, groupNameField->text());
    else if (controller)
        controller->groupCreatedCallback(nodes, groupNameField->text());
    close();
}

bool QCreateSetGroupsDialog::usesNodesOf(int sysHandle, int slot) const
{
    if (KORUHVCustomizationRules::touches(groupNodes, sysHandle, slot))
        return true;
    for (KORUHVNode *system : systemNodes) {
        if (system && system->getSysHandle() == sysHandle)
            return true;
    }
    return false;
}

void QCreateSetGroupsDialog::dropNodesAndClose()
{
    systemNodes.clear();
    groupNodes.clear();
    channelOfItem.clear();
    treeSource->clear();
    close();
}
