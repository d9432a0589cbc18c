/* The value editor cell's refusals: input it does not write (a number out of
 * the parameter's limits or no number, text that is no register word) and
 * writes the device refused. Both show the refused look on the field (red
 * frame and text; a switch draws its outline red) with the reason in its
 * tool tip, until the next key, click or refresh. */
#include "KORUHVWidgetItem.h"

#include "KORUHVEditStyles.h"
#include "KORUHVNode.h"
#include "KORUHVSwitch.h"
#include "KORUHVUtils.h"
#include "KORUHVWrapper.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolTip>

#include <cmath>

QString KORUHVWidgetItem::inputProblem() const
{
    auto *spin = qobject_cast<QAbstractSpinBox *>(valueField);
    if (!spin || spin->isReadOnly() || !referenceNode || dataType > DATA_FLOAT)
        return {};
    if (!spin->hasAcceptableInput())
        return QStringLiteral("Not a number: nothing written");
    double typed = 0;
    if (auto *d = qobject_cast<QDoubleSpinBox *>(spin))
        typed = d->value();
    else if (auto *i = qobject_cast<QSpinBox *>(spin))
        typed = i->value();
    if (dataType == DATA_FLOAT && isOffsetMode()) {
        double lo, hi;
        offsetBounds(&lo, &hi);
        const float old = referenceNode->getNodeValue().KORUHVGetValue().toFloat();
        const float sum = static_cast<float>(typed) + old;
        if (!std::isfinite(sum) || sum < lo || sum > hi)
            return QStringLiteral("Out of range: %1 plus this offset must lie between %2 and %3; "
                                  "nothing written")
                .arg(QString::number(old), QString::number(lo, 'f', 0), QString::number(hi, 'f', 0));
        return {};
    }
    if (dataType == DATA_FLOAT) {
        const float v = static_cast<float>(typed);
        if (v < limitLo || v > limitHi)
            return QStringLiteral("Out of range: the value must lie between %1 and %2; nothing written")
                .arg(QString::number(limitLo), QString::number(limitHi));
        return {};
    }
    if (typed < limitLo || typed > limitHi)
        return QStringLiteral("Out of range: the value must lie between %1 and %2; nothing written")
            .arg(QString::number(limitLo, 'f', 0), QString::number(limitHi, 'f', 0));
    return {};
}

QString KORUHVWidgetItem::registerProblem() const
{
    auto *edit = qobject_cast<QLineEdit *>(valueField);
    if (!edit || edit->isReadOnly() || !isHexRegister())
        return {};
    bool ok = false;
    KORUHVUtils::KORUHVConvertFromHexStringToBinary(edit->text(), &ok);
    if (ok)
        return {};
    return QStringLiteral("Not a register word (1 to 8 hexadecimal digits 0-9, A-F): nothing written");
}

void KORUHVWidgetItem::markRefused(const QString &why)
{
    if (!valueField)
        return;
    /* Over the field's present look (which losing the focus may have put
     * back meanwhile). */
    const QString current = valueField->styleSheet();
    if (!refused || !current.contains(koruviews::refusedStyleSheet()))
        sheetBeforeRefusal = current;
    refused = true;
    valueField->setStyleSheet(sheetBeforeRefusal + QLatin1Char(' ') + koruviews::refusedStyleSheet());
    /* The switch paints itself: no style sheet reaches it. */
    if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField))
        sw->setRefusedLook(true);
    valueField->setToolTip(why);
    QToolTip::showText(valueField->mapToGlobal(QPoint(0, valueField->height())), why, valueField);
}

void KORUHVWidgetItem::refuseInput(const QString &why)
{
    refusedInput = fieldText();
    markRefused(why);
}

QString KORUHVWidgetItem::fieldText() const
{
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(valueField))
        return spin->text().trimmed();
    if (auto *edit = qobject_cast<QLineEdit *>(valueField))
        return edit->text();
    return {};
}

void KORUHVWidgetItem::clearRefusal()
{
    if (!refused || !valueField)
        return;
    refused = false;
    refusedNoNumber = false;
    refusedInput.clear();
    valueField->setStyleSheet(sheetBeforeRefusal);
    if (auto *sw = qobject_cast<KORUHVSwitch *>(valueField))
        sw->setRefusedLook(false);
    valueField->setToolTip(QString());
    QToolTip::hideText();
}

bool KORUHVWidgetItem::acceptTypedValue()
{
    /* A field left with no number in it shows its last number again: that
     * is still no input to write, until the next key or refresh. */
    if (refused && refusedNoNumber && valueField) {
        markRefused(valueField->toolTip());
        return false;
    }
    const QString problem = inputProblem();
    if (problem.isEmpty()) {
        clearRefusal();
        return true;
    }
    refuseInput(problem);
    return false;
}

bool KORUHVWidgetItem::acceptCellInput()
{
    if (!acceptTypedValue())
        return false;
    const QString problem = registerProblem();
    if (problem.isEmpty())
        return true;
    refuseInput(problem);
    return false;
}

bool KORUHVWidgetItem::refusesConfirmKeys() const
{
    return isNumberField() || (isHexRegister() && isTextField());
}

void KORUHVWidgetItem::showRefusedWrite(int code)
{
    if (!referenceNode || !valueField)
        return;
    /* The device kept its value: the field shows it again (a combo has
     * already gone back to it), not what was asked for. */
    if (!qobject_cast<QComboBox *>(valueField))
        setDataInValueField(referenceNode->getNodeValue().KORUHVGetValue());
    touched = false;
    QString reason = QStringLiteral("code %1").arg(code);
    if (code == KORUHV_MODEL_BAD_VALUE) {
        reason = QStringLiteral("the value does not fit the parameter");
    } else if (code > 0) {
        const char *error = KORUHV_GetError(referenceNode->getSysHandle());
        if (error && *error)
            reason += QStringLiteral(", ") + QString::fromLatin1(error);
    }
    markRefused(QStringLiteral("Write refused (%1): %2 keeps %3")
                    .arg(reason, referenceNode->getNodeName(), getStringDataAndExpUnit().trimmed()));
}

QString KORUHVWidgetItem::droppedInput() const
{
    if (cancelled || !referenceNode || !valueField)
        return {};
    const QString name = referenceNode->getNodeName();
    if (refused) {
        /* A refused write names the parameter itself. */
        if (refusedInput.isEmpty() && !refusedNoNumber)
            return refusalReason();
        return QStringLiteral("%1 \"%2\": %3").arg(name, refusedInput, refusalReason());
    }
    if (!touched)
        return {};
    QString why = inputProblem().isEmpty() ? registerProblem() : inputProblem();
    /* Leaving writes no offset (Return enters it): said all the same. */
    if (why.isEmpty() && isOffsetMode())
        why = QStringLiteral("An offset is entered with Return: nothing written");
    if (why.isEmpty())
        return {};
    return QStringLiteral("%1 \"%2\": %3").arg(name, fieldText(), why);
}
