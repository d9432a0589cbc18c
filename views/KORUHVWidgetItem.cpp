#include "KORUHVWidgetItem.h"

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>

#include <climits>

namespace {
QVariant prop(KORUHVNode *node, const char *name) {
    if (node)
        for (KORUHVNodeProperty *p : node->getProperties())
            if (p && p->getPropName() == QLatin1String(name))
                return p->getPropVal().KORUHVGetValue();
    return QVariant();
}
} // namespace

KORUHVWidgetItem::KORUHVWidgetItem(QWidget *parent, KORUHVNode *n) : QWidget(parent), node(n) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void KORUHVWidgetItem::createInternalWidget(nodeDataType type, nodeAccessRights, QString unit, QVariant value,
                                            int decimals, bool connectSignals) {
    dataType = type;
    const QVariant lo = prop(node, "Minval"), hi = prop(node, "Maxval");
    switch (type) {
    case DATA_INT32:
    case DATA_INT16:
    case DATA_UINT32:
    case DATA_UINT16:
        if (node && node->getParWrapperType() == WRAPPER_TYPE_BINARY) {
            auto *e = new QCustomLineEdit(false, this);
            e->setMaxLength(8);
            e->setText(value.toString());
            if (connectSignals)
                connect(e, &QLineEdit::textChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
            valueField = e;
        } else {
            auto *s = new QCustomSpinBox(false, this);
            s->setRange(lo.isValid() ? lo.toInt() : (type == DATA_UINT32 || type == DATA_UINT16 ? 0 : -INT_MAX),
                        hi.isValid() ? hi.toInt() : INT_MAX);
            s->setValue(value.toInt());
            if (connectSignals)
                connect(s, &QSpinBox::valueChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
            valueField = s;
        }
        break;
    case DATA_FLOAT: {
        auto *s = new QDoubleSpinBox(this);
        s->setDecimals(decimals);
        s->setRange(lo.isValid() ? lo.toDouble() : -INT_MAX, hi.isValid() ? hi.toDouble() : INT_MAX);
        s->setValue(value.toDouble());
        if (connectSignals)
            connect(s, &QDoubleSpinBox::valueChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
        valueField = s;
        break;
    }
    case DATA_ONOFF:
    case DATA_ENUM: {
        auto *c = new QComboBox(this);
        if (type == DATA_ONOFF) {
            c->addItem(prop(node, "Onstate").toString());
            c->addItem(prop(node, "Offstate").toString());
        } else {
            for (const QVariant &t : prop(node, "Enum").toList())
                c->addItem(t.toString());
        }
        if (connectSignals)
            connect(c, &QComboBox::currentIndexChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
        valueField = c;
        break;
    }
    default: {
        auto *e = new QCustomLineEdit(false, this);
        e->setText(value.toString());
        if (connectSignals)
            connect(e, &QLineEdit::textChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
        valueField = e;
        break;
    }
    }
    unitLabel = new QLabel(unit, this);
    layout()->addWidget(valueField);
    layout()->addWidget(unitLabel);
}

void KORUHVWidgetItem::setValueFieldAsDialogChild() {
    if (!valueField)
        return;
    valueField->setStyleSheet(QStringLiteral("min-width: 40px;"));
    const QSignalBlocker block(valueField);
    if (auto *s = qobject_cast<QAbstractSpinBox *>(valueField))
        s->clear();
    else if (auto *e = qobject_cast<QLineEdit *>(valueField))
        e->clear();
    else if (auto *c = qobject_cast<QComboBox *>(valueField))
        c->setCurrentIndex(-1);
}

QVariant KORUHVWidgetItem::getDataInValueField() const {
    if (auto *s = qobject_cast<QSpinBox *>(valueField))
        return QVariant(s->value());
    if (auto *d = qobject_cast<QDoubleSpinBox *>(valueField))
        return QVariant(float(d->value()));
    if (auto *e = qobject_cast<QLineEdit *>(valueField))
        return QVariant(e->text());
    if (auto *c = qobject_cast<QComboBox *>(valueField))
        return QVariant(c->currentText());
    return QVariant(0);
}

void KORUHVWidgetItem::setSelectedStyleSheet()
{
    setStyleSheet(QStringLiteral(
        "background:transparent; selection-background-color:transparent; selection-color:#555555;"));
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
