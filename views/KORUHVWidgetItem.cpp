#include "KORUHVWidgetItem.h"

#include "KORUHVNode.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

KORUHVWidgetItem::KORUHVWidgetItem(QWidget *parent, KORUHVNode *node_) : QWidget(parent), node(node_)
{
    setContentsMargins(0, 0, 0, 0);
}

KORUHVWidgetItem::~KORUHVWidgetItem() = default;

void KORUHVWidgetItem::createInternalWidget(nodeDataType type, nodeAccessRights rights, QString unit, QVariant value,
                                            int, bool connectSignals)
{
    if (!node)
        return;
    dataType = type;
    layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (rights == ACCESS_READ_ONLY) {
        valueField = new QLabel(value.toString(), this);
    } else {
        auto *edit = new QLineEdit(value.toString(), this);
        valueField = edit;
        if (connectSignals) {
            connect(edit, &QLineEdit::editingFinished, this, &KORUHVWidgetItem::endEdit);
            connect(edit, &QLineEdit::textEdited, this, &KORUHVWidgetItem::valueFieldEndEdit);
        }
    }
    layout->addWidget(valueField);
    setFocusProxy(valueField);
    if (type != DATA_ENUM) {
        unitLabel = new QLabel(unit, this);
        layout->addWidget(unitLabel);
    }
}

void KORUHVWidgetItem::setSelectedStyleSheet()
{
    setStyleSheet(QStringLiteral(
        "background:transparent; selection-background-color:transparent; selection-color:#555555;"));
}

QVariant KORUHVWidgetItem::getDataInValueField() const
{
    if (auto *label = qobject_cast<QLabel *>(valueField))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(valueField))
        return edit->text();
    return QVariant();
}

void KORUHVWidgetItem::setDataInValueField(QVariant value)
{
    if (!node)
        return;
    if (auto *label = qobject_cast<QLabel *>(valueField))
        label->setText(value.toString());
    else if (auto *edit = qobject_cast<QLineEdit *>(valueField))
        edit->setText(value.toString());
}

void KORUHVWidgetItem::endEdit()
{
    auto *edit = qobject_cast<QLineEdit *>(valueField);
    if (!node || !edit)
        return;
    const QVariant value = edit->text();
    node->setNodeEditedValue(value);
    emit endEditing(value);
}

void KORUHVWidgetItem::valueFieldEndEdit()
{
    emit valueFieldEdited();
}
