#include "KORUHVWidgetItem.h"

#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace {
QVariant prop(KORUHVNode *node, const char *name)
{
    for (KORUHVNodeProperty *p : node->getProperties())
        if (p->getPropName() == QLatin1String(name))
            return p->getPropVal().KORUHVGetValue();
    return QVariant();
}
} // namespace

KORUHVWidgetItem::KORUHVWidgetItem(QWidget *parent, KORUHVNode *node) : QWidget(parent), node(node)
{
    setContentsMargins(0, 0, 0, 0);
}

void KORUHVWidgetItem::createInternalWidget(nodeDataType type, nodeAccessRights, QString unit, QVariant value,
                                            int decimals, bool)
{
    if (!node)
        return;
    dataType = type;
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (type == DATA_FLOAT) {
        auto *spin = new QDoubleSpinBox(this);
        spin->setLocale(QLocale::c());
        const QVariant d = prop(node, "Decimal");
        spin->setDecimals(d.isValid() ? d.toInt() : decimals);
        const QVariant mn = prop(node, "Minval"), mx = prop(node, "Maxval");
        spin->setRange(mn.isValid() ? mn.toDouble() : -2147483647.0, mx.isValid() ? mx.toDouble() : 2147483647.0);
        spin->setValue(value.toDouble());
        field = spin;
    } else if (type == DATA_ONOFF) {
        auto *combo = new QComboBox(this);
        combo->addItem(prop(node, "Onstate").toString());
        combo->addItem(prop(node, "Offstate").toString());
        combo->setCurrentIndex(value.toBool() ? 0 : 1);
        field = combo;
    } else if (type == DATA_ENUM) {
        auto *combo = new QComboBox(this);
        combo->addItems(prop(node, "Enum").toStringList());
        field = combo;
    } else if (type == DATA_STRING) {
        field = new QLineEdit(value.toString(), this);
    } else {
        auto *spin = new QSpinBox(this);
        spin->setRange(-2147483647, 2147483647);
        spin->setValue(value.toInt());
        field = spin;
    }
    layout->addWidget(field);
    setFocusProxy(field);
    if (type != DATA_ENUM)
        layout->addWidget(new QLabel(unit, this));
}

QVariant KORUHVWidgetItem::getDataInValueField()
{
    if (auto *d = qobject_cast<QDoubleSpinBox *>(field))
        return QVariant(float(d->value()));
    if (auto *s = qobject_cast<QSpinBox *>(field))
        return QVariant(quint32(s->value()));
    if (auto *c = qobject_cast<QComboBox *>(field))
        return QVariant(c->currentText());
    if (auto *l = qobject_cast<QLineEdit *>(field))
        return QVariant(l->text());
    return QVariant(0);
}
