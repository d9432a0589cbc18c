#include "QSetGroupValueDialog.h"

#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "KORUHVWrapper.h"
#include "QCreateSetGroupsDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
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
    report = new QLabel(this);
    report->setObjectName(QStringLiteral("writeReport"));
    report->setTextFormat(Qt::PlainText); // names come from the devices
    // One line per member, unwrapped: the dialog widens to show them.
    report->setTextInteractionFlags(Qt::TextSelectableByMouse);
    report->setStyleSheet(QStringLiteral("color: #b00000;"));
    report->hide();
    outer->addWidget(report);
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
    // The first member's limits would refuse what the others take, or let
    // through what they do not, depending on the order members were ticked.
    double lo = 0, hi = 0;
    if (KORUHVCustomizationRules::widestLimits(nodes, &lo, &hi))
        valueEditor->setTypedLimits(lo, hi);
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

namespace {

QString shownText(const QVariant &v, KORUHVNode *reference)
{
    switch (v.typeId()) {
    case QMetaType::Float:
        return QString::number(v.toFloat(), 'g', 7);
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 10);
    case QMetaType::Bool:
        return QLatin1Char('"') + KORUHVUtils::KORUHVConvertPropertyStringFromBool(reference, v.toBool()) +
               QLatin1Char('"');
    case QMetaType::QString:
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    default:
        return v.toString();
    }
}

QString refusalReason(KORUHVNode *node, int code)
{
    if (code == KORUHV_MODEL_BAD_VALUE)
        return QStringLiteral("the value does not convert to this parameter");
    if (code < 0)
        return QStringLiteral("this parameter is not written");
    const char *text = KORUHV_GetError(node->getSysHandle());
    const QString said = text ? QString::fromLatin1(text).trimmed() : QString();
    if (said.isEmpty())
        return QStringLiteral("refused by the device (code %1)").arg(code);
    return QStringLiteral("refused by the device (code %1: %2)").arg(code).arg(said);
}

} // namespace

QVariant QSetGroupValueDialog::chosenValue() const
{
    const QVariant shown = valueEditor->getDataInValueField();
    KORUHVNode *reference = valueEditor->getReferenceNode();
    if (reference && reference->getDataType() == DATA_ONOFF) {
        bool ok = false;
        const bool on = KORUHVUtils::KORUHVConvertPropertyBoolFromString(reference, shown.toString(), &ok);
        if (ok)
            return QVariant(on);
    }
    return shown;
}

QString QSetGroupValueDialog::memberLabel(int i) const
{
    KORUHVNode *p = nodes.value(i);
    KORUHVNode *ch = i > 0 ? nodes.value(i - 1) : nullptr;
    if (ch && ch->getNodeType() == NODE_CHANNEL)
        return QStringLiteral("%1 / %2 / %3").arg(ch->getSysName(), ch->getBdName(), ch->getNodeName());
    if (!p)
        return QString();
    return QStringLiteral("%1 / %2 / %3").arg(p->getSysName(), p->getBdName(), p->getChName());
}

namespace {
/* A large group would make the dialog taller than the screen: the first
 * members are named one a line, the rest counted. */
QString memberLines(const QStringList &lines)
{
    constexpr int shown = 10;
    if (lines.size() <= shown + 1)
        return lines.join('\n');
    return QStringList(lines.mid(0, shown)).join('\n') +
           QStringLiteral("\n... and %1 more members").arg(lines.size() - shown);
}
} // namespace

void QSetGroupValueDialog::showReport(const QString &text)
{
    report->setText(text);
    report->show();
    adjustSize();
}

void QSetGroupValueDialog::clickedOkButton()
{
    if (!controller || !valueEditor)
        return;
    // Input that no member takes stays in the field, refused; nothing goes out.
    if (!valueEditor->acceptTypedValue())
        return;
    report->hide();
    const QVariant value = chosenValue();

    // Every member is checked before anything is written: a value that some
    // members cannot take is refused for the whole group, so that the
    // outcome never depends on the order the members were ticked in, and the
    // group is not left half set.
    QStringList cannot;
    QVector<int> members;
    for (int i = 0; i < nodes.size(); ++i) {
        KORUHVNode *n = nodes[i];
        if (!n || n->getNodeType() == NODE_CHANNEL)
            continue;
        members.append(i);
        QVariant own;
        QString why;
        if (!KORUHVCustomizationRules::valueForMember(n, value, &own, &why)) {
            KORUHVCustomizationRules::markNotWritten(n);
            cannot << memberLabel(i) + QStringLiteral(": ") + why;
        }
    }
    if (!cannot.isEmpty()) {
        showReport(QStringLiteral("Nothing was written: %1 of the %2 members cannot take %3.\n%4")
                       .arg(cannot.size())
                       .arg(members.size())
                       .arg(shownText(value, valueEditor->getReferenceNode()), memberLines(cannot)));
        return;
    }

    // A write may run the event loop (widgets refresh): a purge may close
    // this dialog and free members meanwhile, so stop as soon as it did.
    QPointer<QSetGroupValueDialog> self(this);
    const QVector<KORUHVNode *> before = nodes;
    QStringList refused;
    for (int i : members) {
        KORUHVNode *n = before[i];
        const int code = setNewValueForNode(value, n);
        if (!self || nodes != before)
            return;
        if (code != 0)
            refused << memberLabel(i) + QStringLiteral(": ") + refusalReason(n, code);
    }
    if (refused.isEmpty()) {
        close();
        return;
    }
    showReport(QStringLiteral("Written to %1 of the %2 members. Not written:\n%3")
                   .arg(members.size() - refused.size())
                   .arg(members.size())
                   .arg(memberLines(refused)));
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
    report->hide(); // it spoke of the former members
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
    if (KORUHVCustomizationRules::touches(nodes, sysHandle, slot))
        return true;
    for (QCreateSetGroupsDialog *child : findChildren<QCreateSetGroupsDialog *>())
        if (child->usesNodesOf(sysHandle, slot))
            return true;
    return false;
}

QString QSetGroupValueDialog::goneMessage(int sysHandle, int slot) const
{
    QStringList gone;
    QString systemName;
    bool allGone = true;
    for (int i = 0; i < nodes.size(); ++i) {
        KORUHVNode *n = nodes[i];
        if (!n || n->getNodeType() == NODE_CHANNEL)
            continue;
        if (!KORUHVCustomizationRules::touches({n}, sysHandle, slot)) {
            allGone = false;
            continue;
        }
        gone << memberLabel(i);
        if (systemName.isEmpty() && i > 0 && nodes[i - 1])
            systemName = nodes[i - 1]->getSysName();
        if (systemName.isEmpty())
            systemName = n->getSysName();
    }
    const QString head =
        slot >= 0
            ? QStringLiteral("Group \"%1\": the board in slot %2 of %3 is gone, and with it these members:")
                  .arg(groupName, QString::number(slot), systemName) // one pass: names may hold '%'
            : QStringLiteral("Group \"%1\": %2 is disconnected, and with it these members:")
                  .arg(groupName, systemName);
    const QString tail = allGone ? QStringLiteral("The group has no other members and is removed.")
                                 : QStringLiteral("The group keeps its other members.");
    return QStringLiteral("%1\n%2\nThe value dialog closed without writing. %3")
        .arg(head, gone.join('\n'), tail);
}

void QSetGroupValueDialog::nodesGoing(int sysHandle, int slot)
{
    // An edit dialog over the group lists whole trees: any change of them
    // takes it along, while this dialog stays as long as its members do.
    for (QCreateSetGroupsDialog *child : findChildren<QCreateSetGroupsDialog *>())
        if (child->usesNodesOf(sysHandle, slot))
            child->dropNodesAndClose();
    if (!KORUHVCustomizationRules::touches(nodes, sysHandle, slot))
        return;
    const bool shown = isVisible();
    const QString why = shown ? goneMessage(sysHandle, slot) : QString();
    QWidget *boxParent = controller ? controller->dialogParent() : parentWidget();
    dropNodesAndClose();
    if (!shown)
        return;
    // Not modal: this runs inside a tree change, which must not wait for
    // the operator.
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("LUMO2020"), why, QMessageBox::Ok,
                                boxParent);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
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
