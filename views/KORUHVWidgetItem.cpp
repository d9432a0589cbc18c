#include "KORUHVWidgetItem.h"

#include "CellFieldRule.h"
#include "KORUHVNode.h"
#include "KORUHVNodeProperty.h"
#include "KORUHVSwitch.h"
#include "KORUHVUtils.h"
#include "QCustomComboBox.h"
#include "QCustomDoubleSpinBox.h"
#include "QCustomLineEdit.h"
#include "QCustomSpinBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTableWidget>

#include <climits>
#include <cmath>

namespace {

bool findProperty(const KORUHVNode *node, const char *name, QVariant *value)
{
    if (!node)
        return false;
    for (const KORUHVNodeProperty *p : node->getProperties()) {
        if (p && p->getPropName() == QLatin1String(name)) {
            *value = p->getPropVal().KORUHVGetValue();
            return true;
        }
    }
    return false;
}

QStringList enumList(const KORUHVNode *node)
{
    QVariant v;
    if (!findProperty(node, "Enum", &v))
        return {};
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    QStringList texts;
    for (const QVariant &e : v.toList())
        texts.append(e.toString());
    return texts;
}

QString propertyText(const KORUHVNode *node, const char *name)
{
    QVariant v;
    return findProperty(node, name, &v) ? v.toString() : QString();
}

/* A device limit may be any float; keep the conversion to int defined. */
int clampToInt(double v)
{
    if (!std::isfinite(v))
        return v < 0 ? -INT_MAX : INT_MAX;
    if (v > double(INT_MAX))
        return INT_MAX;
    if (v < -double(INT_MAX))
        return -INT_MAX;
    return int(v);
}

bool isSetPointName(const QString &name, const char **offsetProperty)
{
    if (name == QLatin1String("I0Set") || name == QLatin1String("ISet")) {
        *offsetProperty = "Offset_I";
        return true;
    }
    if (name == QLatin1String("V0Set") || name == QLatin1String("VSet")) {
        *offsetProperty = "Offset_V";
        return true;
    }
    return false;
}

} // namespace

KORUHVWidgetItem::KORUHVWidgetItem(QWidget *parent, KORUHVNode *node) : QWidget(parent), referenceNode(node)
{
    setContentsMargins(0, 0, 0, 0);
}

KORUHVWidgetItem::~KORUHVWidgetItem()
{
    /* A field that still has the focus loses it while the base class tears
     * the children down, and would finish its editing into this half-gone
     * item: from here on nothing reaches it. */
    if (valueField) {
        valueField->removeEventFilter(this);
        QObject::disconnect(valueField, nullptr, this, nullptr);
    }
}

bool KORUHVWidgetItem::isHexRegister() const
{
    return referenceNode && dataType <= 2 && referenceNode->getParWrapperType() == WRAPPER_TYPE_BINARY;
}

bool KORUHVWidgetItem::isTextField() const
{
    return qobject_cast<QCustomLineEdit *>(valueField) != nullptr;
}

bool KORUHVWidgetItem::isNumberField() const
{
    return qobject_cast<QCustomSpinBox *>(valueField) || qobject_cast<QCustomDoubleSpinBox *>(valueField);
}

bool KORUHVWidgetItem::isOffsetMode() const
{
    if (!referenceNode || dataType != DATA_FLOAT || !offsetTable)
        return false;
    const char *property = nullptr;
    if (!isSetPointName(referenceNode->getNodeName(), &property))
        return false;
    return offsetTable->property(property).toBool();
}

void KORUHVWidgetItem::setOffsetTable(QTableWidget *table)
{
    if (offsetWatch)
        offsetWatch->removeEventFilter(this);
    offsetTable = table;
    offsetWatch = table;
    /* The header's menu switches the mode while a cell may be open. */
    if (table)
        table->installEventFilter(this);
    followOffsetMode();
}

/* An offset is an amount added to the set value, not a value: the field
 * starts at 0 and "Minval" and "Maxval" bound the sum (checked on Return),
 * never what is typed, so that a negative offset can be entered over a
 * minimum of 0. Back in absolute mode the field shows the node's value. */
void KORUHVWidgetItem::followOffsetMode()
{
    auto *spin = qobject_cast<QDoubleSpinBox *>(valueField);
    if (!spin || spin->isReadOnly() || !referenceNode)
        return;
    const bool offset = isOffsetMode();
    if (offset == fieldInOffsetMode)
        return;
    fieldInOffsetMode = offset;
    clearRefusal();
    {
        const QSignalBlocker blocker(spin);
        spin->setValue(offset ? 0.0 : referenceNode->getNodeValue().KORUHVGetValue().toFloat());
    }
    touched = false;
    spin->selectAll(); /* typing replaces the shown text */
}

void KORUHVWidgetItem::offsetBounds(double *lo, double *hi) const
{
    *lo = -2147483647.0;
    *hi = 2147483647.0;
    QVariant limit;
    if (findProperty(referenceNode, "Minval", &limit))
        *lo = clampToInt(limit.toDouble());
    if (findProperty(referenceNode, "Maxval", &limit))
        *hi = clampToInt(limit.toDouble());
}

void KORUHVWidgetItem::createInternalWidget(nodeDataType type, nodeAccessRights access, QString unit,
                                            QVariant value, int decimals, bool connectSignals)
{
    if (!referenceNode || layout)
        return;
    dataType = type;
    const koruviews::CellFieldChoice choice = koruviews::cellFieldFor(
        type, referenceNode->getParWrapperType(), access, referenceNode->getNodeType());
    const bool editable = choice.editable;

    layout = new QHBoxLayout();
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (choice.hexLayout)
        layout->addSpacing(2);

    QFont bold = font();
    bold.setWeight(QFont::Bold);
    auto rightAligned = Qt::AlignRight | Qt::AlignVCenter;
    QVariant limit;

    const char *changeSignalKind = nullptr; /* for the touched flag */
    switch (choice.field) {
    case koruviews::CellField::BoardStatusLabel:
    case koruviews::CellField::ChannelStatusLabel: {
        auto *label = new QLabel(this);
        label->setText(
            choice.field == koruviews::CellField::BoardStatusLabel
                ? KORUHVUtils::KORUHVConvertBoardStatus(referenceNode->getSystemType(), value.toInt())
                : KORUHVUtils::KORUHVConvertChannelStatus(referenceNode->getSystemType(), value.toInt()));
        valueField = label;
        break;
    }
    case koruviews::CellField::HexEdit: {
        auto *edit = new QCustomLineEdit(true, nullptr);
        edit->setAlignmentRight();
        edit->setMaxLength(8);
        edit->setText(KORUHVUtils::KORUHVConvertFromBinaryToHexString(value.toInt()));
        if (!editable) {
            edit->setFont(bold);
            edit->setReadOnly(true);
        }
        layout->addSpacing(3);
        valueField = edit;
        changeSignalKind = "text";
        break;
    }
    case koruviews::CellField::IntSpin: {
        auto *spin = new QCustomSpinBox(false, nullptr);
        spin->setAlignmentRight();
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
        spin->setFrame(false);
        const bool isSigned = choice.signedRange;
        int lo = isSigned ? -INT_MAX : 0;
        int hi = INT_MAX;
        if (editable) {
            if (findProperty(referenceNode, "Minval", &limit))
                lo = isSigned ? clampToInt(limit.toDouble()) : clampToInt(double(limit.toUInt()));
            if (findProperty(referenceNode, "Maxval", &limit))
                hi = isSigned ? clampToInt(limit.toDouble()) : clampToInt(double(limit.toUInt()));
            spin->setCursor(Qt::PointingHandCursor);
            /* The limits are checked on confirming: a range here would
             * clamp or silently drop what the operator types. */
            limitLo = lo;
            limitHi = hi;
            lo = -INT_MAX;
            hi = INT_MAX;
        } else {
            spin->setFont(bold);
            spin->setReadOnly(true);
        }
        spin->setRange(lo, hi);
        spin->setValue(isSigned ? value.toInt() : clampToInt(double(value.toUInt())));
        valueField = spin;
        changeSignalKind = "int";
        break;
    }
    case koruviews::CellField::FloatSpin: {
        auto *spin = new QCustomDoubleSpinBox(false, nullptr);
        spin->setAlignmentRight();
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
        spin->setFrame(false);
        double lo = -2147483647.0, hi = 2147483647.0;
        int shownDecimals = decimals;
        if (editable) {
            shownDecimals = 2;
            if (findProperty(referenceNode, "Minval", &limit))
                lo = limit.toDouble();
            if (findProperty(referenceNode, "Maxval", &limit))
                hi = limit.toDouble();
            if (findProperty(referenceNode, "Decimal", &limit))
                shownDecimals = limit.toInt();
            /* Checked on confirming, as for the integer field. */
            limitLo = lo;
            limitHi = hi;
            lo = -2147483647.0;
            hi = 2147483647.0;
            fieldInOffsetMode = isOffsetMode();
        } else {
            spin->setFont(bold);
            spin->setReadOnly(true);
        }
        spin->setDecimals(shownDecimals);
        spin->setRange(lo, hi);
        spin->setValue(fieldInOffsetMode ? 0.0f : value.toFloat());
        valueField = spin;
        changeSignalKind = "double";
        break;
    }
    case koruviews::CellField::TextEdit: {
        auto *edit = new QCustomLineEdit(true, nullptr);
        edit->setAlignmentRight();
        edit->setText(value.toString());
        if (editable) {
            edit->setCursor(Qt::PointingHandCursor);
        } else {
            edit->setFont(bold);
            edit->setReadOnly(true);
        }
        valueField = edit;
        changeSignalKind = "text";
        break;
    }
    case koruviews::CellField::OnOffLabel: {
        auto *label = new QLabel(value.toBool() ? propertyText(referenceNode, "Onstate")
                                                : propertyText(referenceNode, "Offstate"),
                                 this);
        label->setAlignment(rightAligned);
        label->setFont(bold);
        valueField = label;
        break;
    }
    case koruviews::CellField::OnOffCombo: {
        auto *combo = new QCustomComboBox(this);
        combo->setCursor(Qt::PointingHandCursor);
        combo->addItem(propertyText(referenceNode, "Onstate"));
        combo->addItem(propertyText(referenceNode, "Offstate"));
        combo->setEditable(false);
        combo->setAlignmentRight();
        combo->setCurrentIndex(value.toBool() ? 0 : 1);
        comboShownIndex = combo->currentIndex();
        valueField = combo;
        break;
    }
    case koruviews::CellField::OnOffSwitch: {
        auto *sw = new KORUHVSwitch(propertyText(referenceNode, "Onstate"),
                                    propertyText(referenceNode, "Offstate"), 1, this);
        sw->setCursor(Qt::PointingHandCursor);
        sw->setChecked(value.toBool());
        valueField = sw;
        break;
    }
    case koruviews::CellField::EnumCombo: {
        auto *combo = new QCustomComboBox(this);
        combo->setCursor(Qt::PointingHandCursor);
        combo->addItems(enumList(referenceNode));
        combo->setEditable(false);
        combo->setAlignmentRight();
        const int idx = comboIndexForNodeValue(value);
        if (idx >= 0)
            combo->setCurrentIndex(idx);
        comboShownIndex = combo->currentIndex();
        valueField = combo;
        break;
    }
    case koruviews::CellField::EnumLabel: {
        auto *label =
            new QLabel(KORUHVUtils::KORUHVConvertPropertyStringFromEnum(referenceNode, value.toInt()), this);
        label->setFont(bold);
        valueField = label;
        break;
    }
    case koruviews::CellField::None:
        break;
    }

    if (valueField) {
        valueField->setParent(this);
        layout->addWidget(valueField, 0);
        setFocusProxy(valueField);
        valueField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        valueField->installEventFilter(this);
    }
    if (choice.unitLabel) {
        unitLabel = new QLabel(unit, this);
        unitLabel->setAlignment(rightAligned);
        layout->addWidget(unitLabel);
    }
    layout->addSpacing(2);
    if (choice.hexLayout) {
        layout->setAlignment(Qt::AlignLeft);
        layout->setDirection(QBoxLayout::RightToLeft);
        unitLabel->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Expanding);
        if (valueField)
            valueField->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding);
    }
    setLayout(layout);

    /* What the operator changes counts as entered; refreshes run blocked. */
    if (changeSignalKind) {
        auto mark = [this] { touched = true; };
        if (auto *e = qobject_cast<QLineEdit *>(valueField))
            connect(e, &QLineEdit::textChanged, this, mark);
        else if (auto *s = qobject_cast<QSpinBox *>(valueField))
            connect(s, &QSpinBox::valueChanged, this, mark);
        else if (auto *d = qobject_cast<QDoubleSpinBox *>(valueField))
            connect(d, &QDoubleSpinBox::valueChanged, this, mark);
    }

    if (!connectSignals || !valueField)
        return;
    connectCommit(true);
    if (auto *e = qobject_cast<QLineEdit *>(valueField))
        connect(e, &QLineEdit::textChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
    else if (auto *s = qobject_cast<QSpinBox *>(valueField))
        connect(s, &QSpinBox::valueChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
    else if (auto *d = qobject_cast<QDoubleSpinBox *>(valueField))
        connect(d, &QDoubleSpinBox::valueChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
    else if (auto *c = qobject_cast<QComboBox *>(valueField)) {
        connect(c, &QComboBox::activated, this, &KORUHVWidgetItem::valueFieldEndEdit);
        connect(c, &QComboBox::currentIndexChanged, this, &KORUHVWidgetItem::valueFieldEndEdit);
    } else if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField))
        connect(sw, &QAbstractButton::clicked, this, &KORUHVWidgetItem::valueFieldEndEdit);
}

void KORUHVWidgetItem::connectCommit(bool on)
{
    if (on == commitConnected || !valueField)
        return;
    commitConnected = on;
    if (auto *e = qobject_cast<QLineEdit *>(valueField)) {
        if (on)
            connect(e, &QLineEdit::editingFinished, this, &KORUHVWidgetItem::endEdit);
        else
            disconnect(e, &QLineEdit::editingFinished, this, &KORUHVWidgetItem::endEdit);
    } else if (auto *s = qobject_cast<QAbstractSpinBox *>(valueField)) {
        if (on)
            connect(s, &QAbstractSpinBox::editingFinished, this, &KORUHVWidgetItem::endEdit);
        else
            disconnect(s, &QAbstractSpinBox::editingFinished, this, &KORUHVWidgetItem::endEdit);
    } else if (auto *c = qobject_cast<QComboBox *>(valueField)) {
        if (on) {
            connect(c, &QComboBox::activated, this, &KORUHVWidgetItem::endEdit);
            connect(c, &QComboBox::currentIndexChanged, this, &KORUHVWidgetItem::endEdit);
        } else {
            disconnect(c, &QComboBox::activated, this, &KORUHVWidgetItem::endEdit);
            disconnect(c, &QComboBox::currentIndexChanged, this, &KORUHVWidgetItem::endEdit);
        }
    } else if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField)) {
        if (on)
            connect(sw, &QAbstractButton::clicked, this, &KORUHVWidgetItem::endEdit);
        else
            disconnect(sw, &QAbstractButton::clicked, this, &KORUHVWidgetItem::endEdit);
    } else {
        commitConnected = false;
    }
}

void KORUHVWidgetItem::setSelectedStyleSheet()
{
    setStyleSheet(QStringLiteral(
        "background:transparent; selection-background-color:transparent; selection-color:#555555;"));
}

void KORUHVWidgetItem::setFixedExpUnitWidth()
{
    if (unitLabel)
        unitLabel->setMinimumWidth(30);
}

void KORUHVWidgetItem::setValueFieldAsTableWidgetChild()
{
    setSelectedStyleSheet();
    if (!valueField)
        return;
    valueField->setObjectName(QStringLiteral("tableWidgetChild"));
    if (auto *e = qobject_cast<QCustomLineEdit *>(valueField)) {
        e->setIsTableWidgetChild();
        e->setFrame(false);
        e->selectAll(); /* typing replaces the shown value */
    } else if (auto *s = qobject_cast<QCustomSpinBox *>(valueField)) {
        s->setIsTableWidgetChild();
        s->selectAll();
    } else if (auto *d = qobject_cast<QCustomDoubleSpinBox *>(valueField)) {
        d->setIsTableWidgetChild();
        d->selectAll();
    } else if (auto *c = qobject_cast<QCustomComboBox *>(valueField)) {
        c->setIsTableWidgetChild();
        c->clearComboCurrentText();
    }
}

void KORUHVWidgetItem::setValueFieldAsDialogChild()
{
    if (!valueField)
        return;
    valueField->setStyleSheet(QStringLiteral("min-width: 40px;"));
    if (auto *e = qobject_cast<QCustomLineEdit *>(valueField)) {
        e->setIsDialogChild();
        connectCommit(false);
        e->setFrame(true);
        e->clear();
    } else if (auto *s = qobject_cast<QCustomSpinBox *>(valueField)) {
        s->setIsDialogChild();
        connectCommit(false);
        s->setFrame(true);
        s->clear();
    } else if (auto *d = qobject_cast<QCustomDoubleSpinBox *>(valueField)) {
        d->setIsDialogChild();
        connectCommit(false);
        d->setFrame(true);
        d->clear();
    } else if (auto *c = qobject_cast<QCustomComboBox *>(valueField)) {
        c->setIsDialogChild();
        connectCommit(false);
        c->setCurrentIndex(-1);
    }
}

QVariant KORUHVWidgetItem::getDataInValueField()
{
    if (!valueField || dataType > DATA_ENUM)
        return QVariant(0);
    if (dataType <= 2 && isHexRegister()) {
        if (auto *e = qobject_cast<QLineEdit *>(valueField))
            return e->text();
    } else if (dataType <= 2) {
        /* Signed: -5 stays -5 (as unsigned it would read 4294967291). */
        if (auto *s = qobject_cast<QSpinBox *>(valueField))
            return QVariant(s->value());
    } else if (dataType <= 5) {
        if (auto *s = qobject_cast<QSpinBox *>(valueField))
            return QVariant(static_cast<unsigned>(s->value()));
    } else if (dataType == DATA_FLOAT) {
        if (auto *d = qobject_cast<QDoubleSpinBox *>(valueField))
            return QVariant(static_cast<float>(d->value()));
    } else if (dataType == DATA_STRING) {
        if (auto *e = qobject_cast<QLineEdit *>(valueField))
            return e->text();
    } else {
        /* itemText(currentIndex()): an editable combo's currentText() is its
         * line edit, which a table cell keeps empty. */
        if (auto *c = qobject_cast<QComboBox *>(valueField))
            return c->itemText(c->currentIndex());
        if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField); sw && dataType == DATA_ONOFF)
            return sw->getCurrentString();
    }
    return QVariant(0);
}

int KORUHVWidgetItem::comboIndexForNodeValue(const QVariant &value) const
{
    auto *c = qobject_cast<QComboBox *>(valueField);
    const int count = c ? c->count() : enumList(referenceNode).size();
    QString text;
    if (dataType == DATA_ONOFF)
        text = KORUHVUtils::KORUHVConvertPropertyStringFromBool(referenceNode, value.toBool());
    else
        text = KORUHVUtils::KORUHVConvertPropertyStringFromEnum(referenceNode, value.toInt());
    if (c) {
        const int idx = c->findText(text, Qt::MatchExactly);
        if (idx >= 0 || !text.isEmpty())
            return idx;
    } else if (!text.isEmpty()) {
        return enumList(referenceNode).indexOf(text);
    }
    /* No text for the value: the value as a position, as the device list. */
    const int pos = value.toInt();
    return (pos >= 0 && pos < count) ? pos : -1;
}

void KORUHVWidgetItem::setDataInValueField(QVariant value)
{
    if (!referenceNode || dataType > DATA_ENUM || !valueField)
        return;
    const QSignalBlocker blocker(valueField);
    clearRefusal(); /* the field shows a value again, not refused input */
    const unsigned wrapperType = referenceNode->getParWrapperType();
    if (dataType <= 2 && (wrapperType == WRAPPER_TYPE_BDSTATUS || wrapperType == WRAPPER_TYPE_CHSTATUS)) {
        if (auto *l = qobject_cast<QLabel *>(valueField))
            l->setText(
                wrapperType == WRAPPER_TYPE_BDSTATUS
                    ? KORUHVUtils::KORUHVConvertBoardStatus(referenceNode->getSystemType(), value.toInt())
                    : KORUHVUtils::KORUHVConvertChannelStatus(referenceNode->getSystemType(), value.toInt()));
    } else if (dataType <= 2 && isHexRegister()) {
        if (auto *e = qobject_cast<QLineEdit *>(valueField))
            e->setText(KORUHVUtils::KORUHVConvertFromBinaryToHexString(value.toInt()));
    } else if (dataType <= 5) {
        if (auto *s = qobject_cast<QSpinBox *>(valueField))
            s->setValue(dataType <= 2 ? value.toInt() : clampToInt(double(value.toUInt())));
    } else if (dataType == DATA_FLOAT) {
        if (auto *d = qobject_cast<QDoubleSpinBox *>(valueField))
            d->setValue(value.toFloat());
    } else if (dataType == DATA_STRING) {
        if (auto *e = qobject_cast<QLineEdit *>(valueField))
            e->setText(value.toString());
    } else if (dataType == DATA_ONOFF) {
        const QString text = KORUHVUtils::KORUHVConvertPropertyStringFromBool(referenceNode, value.toBool());
        if (auto *c = qobject_cast<QComboBox *>(valueField)) {
            const int idx = c->findText(text, Qt::MatchExactly);
            if (idx >= 0) {
                c->setCurrentIndex(idx);
                comboShownIndex = idx;
            }
        } else if (auto *l = qobject_cast<QLabel *>(valueField)) {
            l->setText(text);
        } else if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField)) {
            sw->setChecked(value.toInt() != 0 || value.toBool());
        }
    } else {
        const QString text = KORUHVUtils::KORUHVConvertPropertyStringFromEnum(referenceNode, value.toInt());
        if (auto *c = qobject_cast<QComboBox *>(valueField)) {
            const int idx = c->findText(text, Qt::MatchExactly);
            if (idx >= 0) {
                c->setCurrentIndex(idx);
                comboShownIndex = idx;
            }
        } else if (auto *l = qobject_cast<QLabel *>(valueField)) {
            l->setText(text);
        }
    }
}

QString KORUHVWidgetItem::getStringDataAndExpUnit()
{
    const QVariant v = getDataInValueField();
    QString text;
    if (referenceNode && referenceNode->getDataType() == DATA_FLOAT)
        text = QString::number(v.toDouble(), 'f', referenceNode->getNodeDecimals());
    else
        text = v.toString();
    const QString unit =
        unitLabel ? unitLabel->text() : (referenceNode ? referenceNode->getExpUnitShortForm() : QString());
    if (isHexRegister())
        return unit + QLatin1Char(' ') + text;
    return text + QLatin1Char(' ') + unit;
}

/* The value the field holds, in the node's type; false when the field is not
 * of the expected kind or its text does not convert. */
bool KORUHVWidgetItem::readNewValue(QVariant *value, int *comboIndex)
{
    *comboIndex = -1;
    if (dataType <= 2 && isHexRegister()) {
        auto *e = qobject_cast<QLineEdit *>(valueField);
        if (!e)
            return false;
        bool ok = false;
        const int word = KORUHVUtils::KORUHVConvertFromHexStringToBinary(e->text(), &ok);
        if (!ok)
            return false;
        *value = QVariant(word);
        return true;
    }
    if (dataType <= 5) {
        auto *s = qobject_cast<QSpinBox *>(valueField);
        if (!s)
            return false;
        *value = dataType <= 2 ? QVariant(s->value()) : QVariant(static_cast<unsigned>(s->value()));
        return true;
    }
    if (dataType == DATA_FLOAT) {
        auto *d = qobject_cast<QDoubleSpinBox *>(valueField);
        if (!d)
            return false;
        *value = QVariant(static_cast<float>(d->value()));
        return true;
    }
    if (dataType == DATA_STRING) {
        auto *e = qobject_cast<QLineEdit *>(valueField);
        if (!e)
            return false;
        *value = e->text();
        return true;
    }
    if (auto *c = qobject_cast<QCustomComboBox *>(valueField)) {
        const int idx = c->currentIndex();
        const QString text = c->itemText(idx);
        c->clearComboCurrentText();
        if (idx < 0)
            return false;
        *comboIndex = idx;
        bool ok = false;
        if (dataType == DATA_ONOFF) {
            const bool on = KORUHVUtils::KORUHVConvertPropertyBoolFromString(referenceNode, text, &ok);
            *value = QVariant(on);
        } else {
            *value = QVariant(KORUHVUtils::KORUHVConvertPropertyEnumFromString(referenceNode, text, &ok));
        }
        return ok;
    }
    if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField); sw && dataType == DATA_ONOFF) {
        *value = QVariant(sw->isChecked() ? 1 : 0);
        return true;
    }
    return false;
}

int KORUHVWidgetItem::writeNode(const QVariant &value)
{
    const int code = referenceNode->setNodeEditedValue(value);
    touched = false;
    if (returnKeyPending)
        wroteDuringReturn = true;
    return code;
}

/* The combo shows the node's value again, without committing it again. */
void KORUHVWidgetItem::restoreComboAfterRefusal(int)
{
    auto *c = qobject_cast<QCustomComboBox *>(valueField);
    if (!c)
        return;
    const QSignalBlocker blocker(c);
    const int idx = comboIndexForNodeValue(referenceNode->getNodeValue().KORUHVGetValue());
    if (idx >= 0 && idx < c->count())
        c->setCurrentIndex(idx);
    comboShownIndex = c->currentIndex();
    c->clearComboCurrentText();
}

static bool sameValue(const QVariant &a, const QVariant &b, nodeDataType type, bool isSwitch)
{
    if (isSwitch)
        return a.toInt() == b.toInt() || (a.toBool() == b.toBool());
    if (type <= 2)
        return a.toInt() == b.toInt();
    if (type <= 5)
        return a.toUInt() == b.toUInt();
    if (type == DATA_FLOAT)
        return a.toFloat() == b.toFloat();
    if (type == DATA_STRING)
        return a.toString() == b.toString();
    if (type == DATA_ONOFF)
        return a.toBool() == b.toBool();
    return a.toInt() == b.toInt();
}

void KORUHVWidgetItem::endEdit()
{
    if (!referenceNode || dataType > DATA_ENUM || cancelled)
        return;
    if (dataType == DATA_FLOAT && isOffsetMode())
        return; /* an offset is entered with Return only */
    /* Editing ended without the operator typing: nothing to write. */
    if ((isTextField() || isNumberField()) && !touched)
        return;
    if (!acceptCellInput())
        return; /* stays entered: a later confirmation checks again */
    auto *combo = qobject_cast<QCustomComboBox *>(valueField);
    if (combo && combo->currentIndex() == comboShownIndex) {
        combo->clearComboCurrentText();
        return; /* the entry already shows the node's value: no new choice */
    }
    QVariant newValue;
    int comboIndex = -1;
    if (!readNewValue(&newValue, &comboIndex)) {
        touched = false;
        return;
    }
    const KORUHVNodeValue current = referenceNode->getNodeValue();
    const bool isSwitch = qobject_cast<KORUHVSwitch *>(valueField) != nullptr;
    if (current.KORUHVGetQuality() == QUALITY_GOOD &&
        sameValue(current.KORUHVGetValue(), newValue, dataType, isSwitch)) {
        touched = false;
        if (combo)
            comboShownIndex = comboIndex;
        return;
    }
    const int code = writeNode(newValue);
    if (combo) {
        if (code != 0)
            restoreComboAfterRefusal(comboIndex);
        else
            comboShownIndex = comboIndex;
    }
    if (code != 0)
        showRefusedWrite(code);
    else if (dataType == DATA_FLOAT)
        setDataInValueField(referenceNode->getNodeValue().KORUHVGetValue());
    Q_EMIT endEditing(newValue);
}

void KORUHVWidgetItem::valueFieldEndEdit()
{
    Q_EMIT valueFieldEdited();
}

void KORUHVWidgetItem::setValueAndEmitSignalForNode()
{
    if (!referenceNode || dataType > DATA_ENUM || cancelled)
        return;
    if (qobject_cast<KORUHVSwitch *>(valueField)) {
        endEdit();
        return;
    }
    if (!acceptCellInput())
        return;
    if (dataType == DATA_FLOAT) {
        auto *d = qobject_cast<QDoubleSpinBox *>(valueField);
        if (!d)
            return;
        float newValue = static_cast<float>(d->value());
        const float old = referenceNode->getNodeValue().KORUHVGetValue().toFloat();
        if (isOffsetMode()) {
            double lo, hi;
            offsetBounds(&lo, &hi);
            const float sum = newValue + old;
            if (sum > hi || sum < lo)
                return; /* the offset would leave the range: dropped */
            {
                const QSignalBlocker blocker(d);
                d->setValue(sum);
            }
            setProperty("OffsetAll", QVariant(newValue));
            setProperty("Entered", QVariant(true));
            newValue = sum;
        }
        if (newValue != old) {
            const int code = writeNode(QVariant(newValue));
            if (code != 0)
                showRefusedWrite(code);
        }
        touched = false;
        Q_EMIT endEditing(QVariant(newValue));
        return;
    }
    QVariant newValue;
    int comboIndex = -1;
    if (!readNewValue(&newValue, &comboIndex))
        return;
    const int code = writeNode(newValue);
    if (qobject_cast<QCustomComboBox *>(valueField)) {
        if (code != 0)
            restoreComboAfterRefusal(comboIndex);
        else
            comboShownIndex = comboIndex;
    }
    if (code != 0)
        showRefusedWrite(code);
    Q_EMIT endEditing(newValue);
}

void KORUHVWidgetItem::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        /* When finishing the field's editing already wrote for this key,
         * that was the one write of this confirmation. */
        if (!(returnKeyPending && wroteDuringReturn))
            setValueAndEmitSignalForNode();
        returnKeyPending = false;
        wroteDuringReturn = false;
    }
    QWidget::keyPressEvent(event);
}

bool KORUHVWidgetItem::eventFilter(QObject *watched, QEvent *event)
{
    /* Compared as a plain object: the table may be going away. */
    if (watched == offsetWatch.data() && event->type() == QEvent::DynamicPropertyChange) {
        followOffsetMode();
        return QWidget::eventFilter(watched, event);
    }
    /* Leaving a number field with no number in it: the spin box goes back
     * to its last number, which must not be taken for the input. */
    if (watched == valueField && event->type() == QEvent::FocusOut && !cancelled && isNumberField()) {
        auto *spin = static_cast<QAbstractSpinBox *>(valueField);
        if (!spin->isReadOnly() && !spin->hasAcceptableInput() && touched) {
            refuseInput(QStringLiteral("Not a number: nothing written"));
            refusedNoNumber = true;
        }
    }
    if (watched == valueField && event->type() == QEvent::KeyPress) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        const int key = keyEvent->key();
        const bool confirm = key == Qt::Key_Return || key == Qt::Key_Enter;
        const bool modifierOnly =
            key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta;
        if (!confirm && !modifierOnly)
            clearRefusal();
        /* Refused input stays in the field as typed: the field neither
         * fixes it up nor ends its editing, and the key goes no further
         * (a table would close the editor, a dialog press its default
         * button). */
        if (confirm && !cancelled && refusesConfirmKeys() && !acceptCellInput()) {
            returnKeyPending = false;
            wroteDuringReturn = false;
            return true;
        }
        /* Typing counts as entering, even when it retypes the shown value. */
        if ((!keyEvent->text().isEmpty() && keyEvent->text().at(0).isPrint()) || key == Qt::Key_Backspace ||
            key == Qt::Key_Delete)
            touched = true;
        returnKeyPending = key == Qt::Key_Return || key == Qt::Key_Enter;
        wroteDuringReturn = false;
        if (key == Qt::Key_Escape) {
            if (valueField->objectName() == QLatin1String("tableWidgetChild")) {
                /* A table editor: cancelled for good (the delegate shows
                 * the node's own text again when it closes the editor). */
                cancelled = true;
            } else if (referenceNode) {
                setDataInValueField(referenceNode->getNodeValue().KORUHVGetValue());
                touched = false;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString KORUHVWidgetItem::refusalReason() const
{
    return refused && valueField ? valueField->toolTip() : QString();
}

void KORUHVWidgetItem::detachNode()
{
    cancelled = true;
    referenceNode = nullptr;
    connectCommit(false);
}
