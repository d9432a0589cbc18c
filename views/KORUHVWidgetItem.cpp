#include "KORUHVWidgetItem.h"

#include <QHBoxLayout>
#include <QLabel>

KORUHVWidgetItem::KORUHVWidgetItem(QWidget *parent, KORUHVNode *n) : QWidget(parent), node(n)
{
    setContentsMargins(0, 0, 0, 0);
}

void KORUHVWidgetItem::setSelectedStyleSheet()
{
    setStyleSheet(QStringLiteral(
        "background:transparent; selection-background-color:transparent; selection-color:#555555;"));
}

void KORUHVWidgetItem::createInternalWidget(nodeDataType type, nodeAccessRights, QString unit, QVariant value,
                                            int dec, bool)
{
    dataType = type;
    decimals = dec;
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(this);
    valueField = label;
    layout->addWidget(label);
    if (!unit.isEmpty()) {
        unitLabel = new QLabel(unit, this);
        layout->addWidget(unitLabel);
    }
    setDataInValueField(value);
}

void KORUHVWidgetItem::setFixedExpUnitWidth()
{
    if (unitLabel)
        unitLabel->setMinimumWidth(30);
}

void KORUHVWidgetItem::setDataInValueField(QVariant value)
{
    auto *label = qobject_cast<QLabel *>(valueField);
    if (!node || !label)
        return;
    if (dataType == DATA_FLOAT)
        label->setText(QString::number(value.toDouble(), 'f', decimals));
    else
        label->setText(value.toString());
}
